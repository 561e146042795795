#pragma once
// The version descriptor is signed by the maker with the same key as the packages: a detached
// Ed25519 signature of the descriptor's bytes, served beside it (its address + ".sig", as for
// packages) and kept beside the downloaded file ("quilmerver.ini.sig"). A descriptor whose
// signature does not verify counts as no answer at all.
//
// The signed descriptor binds the package to its version: besides "version" and "downloadurl"
// it names the package's SHA-256 in "sha256" (64 hexadecimal digits). The updater installs a
// package only when the signed descriptor names the address it was fetched from and its hash,
// and offers a version newer than the installed one.

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "update/PackageSignature.h"

namespace quilmer {

// Where the signature of a downloaded descriptor is kept: the descriptor's path + ".sig".
std::wstring DescriptorSignaturePath(const std::wstring& descriptorPath);

using Sha256Digest = std::array<unsigned char, 32>;
// The SHA-256 of a whole file; nullopt when it cannot be read.
std::optional<Sha256Digest> Sha256OfFile(const std::string& path);
// 64 hexadecimal digits (either case, blanks around them allowed); nullopt for anything else.
std::optional<Sha256Digest> ParseSha256(std::string_view hex);

// The descriptor's text when the file at descriptorPath carries a valid signature by key in
// DescriptorSignaturePath(descriptorPath); nullopt otherwise, with the reason in *why. The text
// returned is the very bytes that were verified, so nothing can change between check and use.
std::optional<std::string> ReadSignedDescriptor(const std::wstring& descriptorPath, const PackageKey& key,
                                                std::string* why = nullptr);

// What a signed descriptor offers ("main" section). Missing keys stay empty.
struct PackageOffer {
    std::wstring version;      // "version"
    std::wstring downloadUrl;  // "downloadurl"
    std::optional<Sha256Digest> sha256;
};
PackageOffer ReadPackageOffer(std::string_view descriptorText);

enum class OfferCheck {
    Accepted,
    Incomplete,    // no version, address or hash in the descriptor
    NotNewer,      // the offered version is not newer than the installed one
    OtherAddress,  // the package was fetched from an address the descriptor does not name
    HashMismatch,  // the package's bytes are not the ones the descriptor names
    Unreadable,    // the downloaded package cannot be read
};

// Whether the package in packagePath, fetched from packageUrl, is what offer names and newer
// than installedVersion (compared by CompareVersions). packageUrl may carry the query the main
// program appends to the download address ("?type=joiner&lang=...&ver=...").
OfferCheck CheckPackageAgainstOffer(const PackageOffer& offer, const std::wstring& packageUrl,
                                    const std::string& packagePath, const std::wstring& installedVersion);
// A line for the log.
const char* DescribeOfferCheck(OfferCheck check);

}  // namespace quilmer

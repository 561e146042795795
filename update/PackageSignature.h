#pragma once
// Update packages carry their maker's signature: a detached Ed25519 signature (64 raw bytes) of
// the whole package file, served beside the package at the package's address + ".sig". The
// maker's public key is built into the programs; the build option QUILMER_UPDATE_PUBLIC_KEY names
// the file that holds it (64 hexadecimal digits).

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quilmer {

constexpr std::size_t kPackageKeySize = 32;
constexpr std::size_t kPackageSignatureSize = 64;
using PackageKey = std::array<unsigned char, kPackageKeySize>;

// The public key this build trusts.
const PackageKey& BuiltInPackageKey();

// 64 hexadecimal digits, blanks and line breaks around them allowed; nullopt for anything else.
std::optional<PackageKey> ParsePackageKey(std::string_view hex);

// Where a package's signature is served: ".sig" appended to the address's path, the query kept
// ("http://h/p.zip?lang=x" -> "http://h/p.zip.sig?lang=x"). The fragment is dropped.
std::wstring SignatureUrlFor(const std::wstring& packageUrl);

enum class SignatureCheck {
    Valid,
    Malformed,   // not 64 bytes
    Mismatch,    // does not verify: another file, another key, a changed byte
    Unreadable,  // the package file cannot be read
};

// Checks a signature of message (held in memory, a descriptor for example) against key.
SignatureCheck VerifySignature(std::string_view message, std::string_view signature, const PackageKey& key);

// Checks the signature of the whole file at packagePath against key.
SignatureCheck VerifyPackageFile(const std::string& packagePath, std::string_view signature,
                                 const PackageKey& key);

}  // namespace quilmer

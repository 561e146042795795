#include "update/SignedDescriptor.h"

#include <fcntl.h>
#include <sodium.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "foundation/FileUtil.h"
#include "foundation/Utf8.h"
#include "lang/IniFile.h"
#include "update/VersionCheck.h"

namespace quilmer {

namespace {

// A descriptor is a few lines; anything far larger is not one.
constexpr std::size_t kMaxDescriptorBytes = 1 << 20;

bool ReadSmall(const std::string& path, std::size_t limit, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), {});
    return !in.bad() && out.size() <= limit;
}

}  // namespace

std::wstring DescriptorSignaturePath(const std::wstring& descriptorPath) { return descriptorPath + L".sig"; }

std::optional<Sha256Digest> Sha256OfFile(const std::string& path) {
    if (sodium_init() < 0) return std::nullopt;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    crypto_hash_sha256_state state;
    crypto_hash_sha256_init(&state);
    unsigned char buffer[65536];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        crypto_hash_sha256_update(&state, buffer, static_cast<unsigned long long>(n));
    ::close(fd);
    if (n < 0) return std::nullopt;
    Sha256Digest digest{};
    crypto_hash_sha256_final(&state, digest.data());
    return digest;
}

std::optional<Sha256Digest> ParseSha256(std::string_view hex) {
    // The same shape as a public key: 32 bytes as 64 hexadecimal digits.
    static_assert(sizeof(Sha256Digest) == sizeof(PackageKey));
    std::optional<PackageKey> bytes = ParsePackageKey(hex);
    if (!bytes) return std::nullopt;
    Sha256Digest digest{};
    std::copy(bytes->begin(), bytes->end(), digest.begin());
    return digest;
}

std::optional<std::string> ReadSignedDescriptor(const std::wstring& descriptorPath, const PackageKey& key,
                                                std::string* why) {
    auto fail = [why](const char* reason) -> std::optional<std::string> {
        if (why) *why = reason;
        return std::nullopt;
    };
    std::string text, signature;
    if (!ReadSmall(NativePath(descriptorPath), kMaxDescriptorBytes, text)) return fail("no descriptor");
    if (!ReadSmall(NativePath(DescriptorSignaturePath(descriptorPath)), 4 * kPackageSignatureSize, signature))
        return fail("the descriptor has no signature");
    switch (VerifySignature(text, signature, key)) {
        case SignatureCheck::Valid:
            return text;
        case SignatureCheck::Malformed:
            return fail("the descriptor's signature is not 64 bytes");
        case SignatureCheck::Mismatch:
            return fail("the descriptor's signature does not verify");
        case SignatureCheck::Unreadable:
            break;
    }
    return fail("the descriptor's signature cannot be checked");
}

PackageOffer ReadPackageOffer(std::string_view descriptorText) {
    IniFile ini;
    ini.Parse(descriptorText);
    PackageOffer offer;
    offer.version = ini.ReadString(L"main", L"version", L"");
    offer.downloadUrl = ini.ReadString(L"main", L"downloadurl", L"");
    std::wstring hash = ini.ReadString(L"main", L"sha256", L"");
    offer.sha256 = ParseSha256(ToUtf8(hash));
    return offer;
}

OfferCheck CheckPackageAgainstOffer(const PackageOffer& offer, const std::wstring& packageUrl,
                                    const std::string& packagePath, const std::wstring& installedVersion) {
    if (offer.version.empty() || offer.downloadUrl.empty() || !offer.sha256) return OfferCheck::Incomplete;
    if (installedVersion.empty() || CompareVersions(offer.version, installedVersion) <= 0) return OfferCheck::NotNewer;
    // The main program hands the updater the download address with its own query appended.
    const std::wstring appended = offer.downloadUrl + L"?type=joiner&";
    if (packageUrl != offer.downloadUrl && packageUrl.compare(0, appended.size(), appended) != 0)
        return OfferCheck::OtherAddress;
    std::optional<Sha256Digest> actual = Sha256OfFile(packagePath);
    if (!actual) return OfferCheck::Unreadable;
    if (sodium_memcmp(actual->data(), offer.sha256->data(), actual->size()) != 0) return OfferCheck::HashMismatch;
    return OfferCheck::Accepted;
}

const char* DescribeOfferCheck(OfferCheck check) {
    switch (check) {
        case OfferCheck::Accepted:
            return "the package is the one the signed descriptor offers";
        case OfferCheck::Incomplete:
            return "the signed descriptor names no version, address or hash of a package";
        case OfferCheck::NotNewer:
            return "the signed descriptor offers no version newer than the installed one";
        case OfferCheck::OtherAddress:
            return "the package does not come from the address the signed descriptor names";
        case OfferCheck::HashMismatch:
            return "the package's SHA-256 is not the one the signed descriptor names";
        case OfferCheck::Unreadable:
            return "the downloaded package cannot be read";
    }
    return "";
}

}  // namespace quilmer

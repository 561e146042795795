// The signature check itself: addresses, keys, and what verifies and what does not.

#include <gtest/gtest.h>
#include <sodium.h>

#include <fstream>
#include <iterator>

#include "tests/support/ScratchFolder.h"
#include "update/PackageSignature.h"
#include "update/SignedDescriptor.h"

using namespace quilmer;
using quilmer::test::ScratchFolder;

TEST(PackageSignature, SignatureAddressAddsSigToThePathAndKeepsTheQuery) {
    EXPECT_EQ(SignatureUrlFor(L"http://h.example/dl/pkg.zip"), L"http://h.example/dl/pkg.zip.sig");
    EXPECT_EQ(SignatureUrlFor(L"http://h.example/pkg.zip?type=joiner&lang=English&ver=v1.9#x"),
              L"http://h.example/pkg.zip.sig?type=joiner&lang=English&ver=v1.9");
    EXPECT_EQ(SignatureUrlFor(L"https://h.example:8443/soft.php?type=joiner"),
              L"https://h.example:8443/soft.php.sig?type=joiner");
    EXPECT_EQ(SignatureUrlFor(L"http://h.example?x=1"), L"http://h.example/.sig?x=1");
}

TEST(PackageSignature, TheBuiltInKeyIsTheOneTheBuildOptionNames) {
    std::ifstream in(QUILMER_UPDATE_PUBLIC_KEY_FILE);
    std::string hex((std::istreambuf_iterator<char>(in)), {});
    auto key = ParsePackageKey(hex);
    ASSERT_TRUE(key) << QUILMER_UPDATE_PUBLIC_KEY_FILE;
    EXPECT_EQ(*key, BuiltInPackageKey());

    EXPECT_FALSE(ParsePackageKey(hex.substr(0, 62)));
    EXPECT_FALSE(ParsePackageKey(std::string(63, 'a') + "g"));
    EXPECT_FALSE(ParsePackageKey(""));
    EXPECT_TRUE(ParsePackageKey("  " + std::string(64, 'F') + "\r\n"));
}

TEST(PackageSignature, OnlyTheWholeFileSignedWithTheKeyVerifies) {
    ASSERT_GE(sodium_init(), 0);
    PackageKey pk{}, otherPk{};
    unsigned char sk[crypto_sign_SECRETKEYBYTES], otherSk[crypto_sign_SECRETKEYBYTES];
    crypto_sign_keypair(pk.data(), sk);
    crypto_sign_keypair(otherPk.data(), otherSk);
    auto sign = [](const std::string& bytes, const unsigned char* secret) {
        std::string sig(crypto_sign_BYTES, '\0');
        crypto_sign_detached(reinterpret_cast<unsigned char*>(sig.data()), nullptr,
                             reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), secret);
        return sig;
    };

    ScratchFolder tmp;
    std::string package(300000, '\0');
    for (std::size_t i = 0; i < package.size(); ++i) package[i] = static_cast<char>(i * 31 + i / 977);
    tmp.Write("pkg.zip", package);
    std::string good = sign(package, sk);
    EXPECT_EQ(VerifyPackageFile(tmp / "pkg.zip", good, pk), SignatureCheck::Valid);

    EXPECT_EQ(VerifyPackageFile(tmp / "pkg.zip", good, otherPk), SignatureCheck::Mismatch);
    EXPECT_EQ(VerifyPackageFile(tmp / "pkg.zip", sign(package, otherSk), pk), SignatureCheck::Mismatch);
    EXPECT_EQ(VerifyPackageFile(tmp / "pkg.zip", good.substr(0, 63), pk), SignatureCheck::Malformed);
    EXPECT_EQ(VerifyPackageFile(tmp / "pkg.zip", good + "x", pk), SignatureCheck::Malformed);
    EXPECT_EQ(VerifyPackageFile(tmp / "pkg.zip", "", pk), SignatureCheck::Malformed);
    EXPECT_EQ(VerifyPackageFile(tmp / "missing.zip", good, pk), SignatureCheck::Unreadable);

    std::string changed = package;
    changed[150000] ^= 1;
    tmp.Write("pkg.zip", changed);
    EXPECT_EQ(VerifyPackageFile(tmp / "pkg.zip", good, pk), SignatureCheck::Mismatch);
    tmp.Write("pkg.zip", package.substr(0, package.size() - 1));
    EXPECT_EQ(VerifyPackageFile(tmp / "pkg.zip", good, pk), SignatureCheck::Mismatch) << "a short file";
    tmp.Write("pkg.zip", "");
    EXPECT_EQ(VerifyPackageFile(tmp / "pkg.zip", good, pk), SignatureCheck::Mismatch);
    EXPECT_EQ(VerifyPackageFile(tmp / "pkg.zip", sign("", sk), pk), SignatureCheck::Valid);
}

TEST(SignedDescriptor, TheOfferNamesTheAddressTheHashAndANewerVersion) {
    ScratchFolder tmp;
    { std::ofstream(tmp / "pkg.zip", std::ios::binary) << "abc"; }
    // SHA-256("abc"), written in capitals: case does not matter.
    const std::string abc = "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";
    ASSERT_TRUE(Sha256OfFile(tmp / "pkg.zip"));
    EXPECT_EQ(Sha256OfFile(tmp / "pkg.zip"), ParseSha256(abc));
    EXPECT_FALSE(ParseSha256(abc.substr(2)));
    EXPECT_FALSE(Sha256OfFile(tmp / "missing.zip"));

    PackageOffer offer = ReadPackageOffer("[main]\nversion=v1.10\ndownloadurl=http://h.example/dl/pkg.zip\nsha256=" +
                                          abc + "\nreleasedate=12-01-2026\n");
    ASSERT_EQ(offer.version, L"v1.10");
    auto check = [&](const std::wstring& url, const std::wstring& installed, const PackageOffer& o) {
        return CheckPackageAgainstOffer(o, url, tmp / "pkg.zip", installed);
    };
    const std::wstring url = L"http://h.example/dl/pkg.zip";
    EXPECT_EQ(check(url, L"v1.9", offer), OfferCheck::Accepted) << "v1.10 is newer than v1.9";
    EXPECT_EQ(check(url + L"?type=joiner&lang=English&ver=v1.9", L"v1.9", offer), OfferCheck::Accepted);
    EXPECT_EQ(check(url, L"v1.10.0", offer), OfferCheck::NotNewer);
    EXPECT_EQ(check(url, L"v2.0", offer), OfferCheck::NotNewer);
    EXPECT_EQ(check(url, L"", offer), OfferCheck::NotNewer) << "an unknown installed version is not older";
    EXPECT_EQ(check(url + L".old?type=joiner&lang=English", L"v1.9", offer), OfferCheck::OtherAddress);
    EXPECT_EQ(check(url + L"?type=other", L"v1.9", offer), OfferCheck::OtherAddress);
    EXPECT_EQ(check(L"http://h.example/dl/old.zip", L"v1.9", offer), OfferCheck::OtherAddress);

    PackageOffer otherHash = offer;
    otherHash.sha256->at(31) ^= 1;
    EXPECT_EQ(check(url, L"v1.9", otherHash), OfferCheck::HashMismatch);
    for (const char* text : {"[main]\nversion=v2.0\ndownloadurl=http://h.example/dl/pkg.zip\n",
                             "[main]\nversion=v2.0\nsha256=00\ndownloadurl=http://h.example/dl/pkg.zip\n",
                             "[main]\ndownloadurl=http://h.example/dl/pkg.zip\nsha256=BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD\n"})
        EXPECT_EQ(check(url, L"v1.9", ReadPackageOffer(text)), OfferCheck::Incomplete) << text;
}

// The signature check itself: addresses, keys, and what verifies and what does not.

#include <gtest/gtest.h>
#include <sodium.h>

#include <fstream>
#include <iterator>

#include "tests/support/ScratchFolder.h"
#include "update/PackageSignature.h"

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

#pragma once
// Signing for the update tests: packages are signed with the repository's test key through the
// project's own signing script, so the script is exercised by every signed download.

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "update/PackageSignature.h"

namespace quilmer::testing {

inline std::string TestKeyFile() {
    return std::string(QUILMER_SOURCE_DIR) + "/tests/update/keys/test-package-key.pem";
}

// Writes package + ".sig" with scripts/sign-package.sh. False when the script failed.
inline bool SignPackage(const std::string& package, const std::string& keyFile = TestKeyFile()) {
    std::string command = "bash '" + std::string(QUILMER_SOURCE_DIR) + "/scripts/sign-package.sh' '" +
                          keyFile + "' '" + package + "' >/dev/null";
    return std::system(command.c_str()) == 0;
}

inline PackageKey TestPublicKey() {
    std::ifstream in(std::string(QUILMER_SOURCE_DIR) + "/tests/update/keys/test-package-key.pub");
    std::string hex((std::istreambuf_iterator<char>(in)), {});
    return ParsePackageKey(hex).value_or(PackageKey{});
}

}  // namespace quilmer::testing

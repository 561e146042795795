#pragma once
// Signing for the update tests: packages are signed with the repository's test key through the
// project's own signing script, so the script is exercised by every signed download.

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "foundation/FileUtil.h"
#include "foundation/Utf8.h"
#include "update/PackageSignature.h"
#include "updater/DownloadStep.h"

#include <chrono>
#include <vector>

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

// Publishes an update with scripts/publish-update.sh: signs package and writes descriptor (and
// descriptor + ".sig") offering it as version at url. extra: more NAME=VALUE arguments.
inline bool PublishUpdate(const std::string& package, const std::string& version, const std::string& url,
                          const std::string& descriptor, const std::string& keyFile = TestKeyFile(),
                          const std::string& extra = "") {
    std::string command = "bash '" + std::string(QUILMER_SOURCE_DIR) + "/scripts/publish-update.sh' '" +
                          keyFile + "' '" + package + "' '" + version + "' '" + url + "' '" + descriptor +
                          "' " + extra + " >/dev/null";
    return std::system(command.c_str()) == 0;
}

// What the main program leaves for the updater when the maker offers package as version at
// env's package address (without the query the main program appends): the signed descriptor
// in env's data folder.
inline bool OfferPackage(const DownloadEnvironment& env, const std::string& package,
                         const std::string& version = "v2.0", const std::string& keyFile = TestKeyFile()) {
    std::string url = ToUtf8(env.args.packageUrl);
    url = url.substr(0, url.find("?type=joiner&"));
    return PublishUpdate(package, version, url, NativePath(env.args.DescriptorFile()), keyFile);
}

inline PackageKey TestPublicKey() {
    std::ifstream in(std::string(QUILMER_SOURCE_DIR) + "/tests/update/keys/test-package-key.pub");
    std::string hex((std::istreambuf_iterator<char>(in)), {});
    return ParsePackageKey(hex).value_or(PackageKey{});
}

// A download step's environment for a program folder in the folder `tmp` ("prog/", data in
// "data/"), updating v1.9 to v2.0: restarts are recorded in `started`, waits take no time, packages must
// carry the test key's signature, and a stalled server is given up on quickly.
inline DownloadEnvironment TestDownloadEnvironment(const std::string& tmp, WindowProtocol* windows,
                                                   std::vector<std::wstring>* started) {
    DownloadEnvironment env;
    env.args = UpdaterArgs::FromValues({L"", L"Corvane Video", L"UWM_JoinDownload_IsMe", L"English",
                                        WidePath(tmp + "/data/"), L"(v1.9)", L"(v2.0)"});
    env.programFolder = WidePath(tmp + "/prog/");
    env.restartProgram = WidePath(tmp + "/prog/quilmer");
    env.windows = windows;
    env.startProgram = [started](const std::wstring& exe) {
        started->push_back(exe);
        return true;
    };
    env.sleep = [](std::chrono::milliseconds) {};
    env.packageKey = TestPublicKey();
    env.installedVersion = L"v1.9";
    env.connectTimeoutMs = 3000;
    env.stallSeconds = 10;
    return env;
}

}  // namespace quilmer::testing

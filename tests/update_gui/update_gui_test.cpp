// Updates under a display: the updater window hosted here with the real download engine against
// nginx on loopback (pause and resume, a run cancelled and resumed by the next, a dropped
// connection, a damaged package, a missing one), the new-version window driven with clicks, and
// the whole road with the real programs of an installed program folder.
//
// The packages are made by scripts/make-update-package.sh from a `cmake --install` of this build,
// restamped with the version 2.0.0.1 and signed with the test key.

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/frame.h>
#include <wx/hyperlink.h>
#include <wx/log.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "GuiTestSupport.h"
#include "LoopbackServers.h"
#include "PackageSigning.h"
#include "app/NewVersionDialog.h"
#include "app/UpdateFlow.h"
#include "controls/WindowDressing.h"
#include "controls/WxEventLoop.h"
#include "foundation/AppFolders.h"
#include "foundation/FileUtil.h"
#include "foundation/Settings.h"
#include "foundation/Utf8.h"
#include "foundation/protocol/WindowFinder.h"
#include "lang/LanguageManager.h"
#include "updater/gui/UpdaterDialog.h"

namespace fs = std::filesystem;
using namespace quilmer;
using namespace quilmer::test;
using quilmer::testing::CanConnect;
using quilmer::testing::PublishUpdate;
using quilmer::testing::SignPackage;
using quilmer::testing::TestPublicKey;
using quilmer::testing::ServerProcess;

namespace {

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::wstring W(const fs::path& path) { return WidePath(path.string()); }

int Shell(const std::string& command) { return std::system(command.c_str()); }

// The package unpacked by python's zipfile, not by the extractor these tests are about.
int Unpack(const fs::path& package, const fs::path& folder) {
    return Shell("python3 -m zipfile -e '" + package.string() + "' '" + folder.string() + "'");
}

std::string Capture(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        while (std::size_t n = std::fread(buffer, 1, sizeof buffer, p)) out.append(buffer, n);
        ::pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

// Every file below folder with its bytes: what a test compares before and after.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file()) files[fs::relative(entry.path(), folder).string()] = ReadAll(entry.path());
    return files;
}

// Built once per runner: an installed program folder and the signed package of version 2.0.
struct Fixture {
    fs::path scratch;
    fs::path installed;  // the installed program folder (v1.9)
    fs::path package;    // v2.0, signed
    std::string error;

    static Fixture& Get() {
        static Fixture f = Make();
        return f;
    }

private:
    static Fixture Make() {
        Fixture f;
        f.scratch = fs::path(std::getenv("HOME")) / "update-fixture";
        f.installed = f.scratch / "installed";
        f.package = f.scratch / "quilmer-2.0.zip";
        fs::create_directories(f.scratch);
        std::string quiet = " > " + (f.scratch / "make.log").string() + " 2>&1";
        if (Shell("cmake --install '" QUILMER_BINARY_DIR "' --prefix '" + f.installed.string() + "'" + quiet) != 0)
            f.error = "cmake --install failed";
        else if (Shell("'" QUILMER_SOURCE_DIR "/scripts/make-update-package.sh' '" + f.installed.string() +
                     "' 2.0.0.1 '" QUILMER_SOURCE_DIR "/tests/update/keys/test-package-key.pem' '" +
                     f.package.string() + "'" + quiet) != 0)
            f.error = "make-update-package.sh failed: " + ReadAll(f.scratch / "make.log");
        return f;
    }
};

// nginx with the tests' update-site configuration, serving root (which holds quilmerver.ini and
// dl/). Can be stopped and started again on the same port.
class UpdateSite {
public:
    UpdateSite(fs::path dir, fs::path root, std::string rate = "512k")
        : dir_(std::move(dir)), root_(std::move(root)), rate_(std::move(rate)) {
        fs::create_directories(dir_);
        fs::create_directories(root_ / "dl");
    }
    bool Start() {
        std::string conf = ReadAll(QUILMER_SOURCE_DIR "/tests/update_gui/update-site.conf.in");
        std::string user = ::geteuid() == 0 ? "user root;" : "";
        auto put = [&conf](const std::string& key, const std::string& value) {
            for (std::size_t at; (at = conf.find(key)) != std::string::npos;) conf.replace(at, key.size(), value);
        };
        put("@USER@", user);
        put("@DIR@", dir_.string() + "/");
        put("@ROOT@", root_.string() + "/");
        put("@PORT@", std::to_string(reserved_.Port()));
        put("@RATE@", rate_);
        WriteAll(dir_ / "nginx.conf", conf);
        fs::remove(dir_ / "nginx.pid");
        if (!process_.Start({"nginx", "-e", (dir_ / "error.log").string(), "-p", dir_.string() + "/", "-c",
                             (dir_ / "nginx.conf").string(), "-g", "daemon off; pid " + (dir_ / "nginx.pid").string() + ";"},
                            600, nullptr, (dir_ / "stderr.log").string()))
            return false;
        return WaitUntil(
            [&] { return fs::exists(dir_ / "nginx.pid") && CanConnect(reserved_.Port()); },
            std::chrono::milliseconds(30000));
    }
    void Stop() { process_.Stop(); }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(reserved_.Port()) + path;
    }
    std::string Base() const { return "http://127.0.0.1:" + std::to_string(reserved_.Port()); }
    std::string AccessLog() const { return ReadAll(dir_ / "access.log"); }

private:
    fs::path dir_, root_;
    std::string rate_;
    ReservedPort reserved_{true};
    ServerProcess process_;
};

// Polls a condition that costs a process start every 200 ms, up to the (generous) limit.
bool SlowWait(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    return WaitUntil(condition, limit, [] { std::this_thread::sleep_for(std::chrono::milliseconds(200)); });
}

// Windows on the display whose title is title: "x y w h" of the first, from xwininfo.
std::optional<wxRect> FindScreenWindow(const std::string& title) {
    std::string tree = Capture("xwininfo -root -tree 2>/dev/null");
    std::istringstream lines(tree);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("\"" + title + "\"") == std::string::npos) continue;
        // ...  WxH+X+Y  +AX+AY
        int w, h, x, y, ax, ay;
        auto at = line.rfind(")");
        if (at == std::string::npos) continue;
        if (std::sscanf(line.c_str() + at + 1, " %dx%d+%d+%d +%d+%d", &w, &h, &x, &y, &ax, &ay) == 6 && w > 50)
            return wxRect(ax, ay, w, h);
    }
    return std::nullopt;
}

// A scratch program folder (a copy of the installed one), a data folder and a site per test.
class UpdaterWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        Fixture& f = Fixture::Get();
        ASSERT_TRUE(f.error.empty()) << f.error;
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = f.scratch / info->name();
        fs::remove_all(dir_);
        program_ = dir_ / "program";
        data_ = dir_ / "data";
        fs::create_directories(data_);
        fs::copy(f.installed, program_, fs::copy_options::recursive);
        fs::create_directories(dir_ / "site/dl");
        fs::copy_file(f.package, dir_ / "site/dl/quilmer-2.0.zip");
        fs::copy_file(f.package.string() + ".sig", dir_ / "site/dl/quilmer-2.0.zip.sig");
        site_ = std::make_unique<UpdateSite>(dir_ / "nginx", dir_ / "site");
        ASSERT_TRUE(site_->Start()) << ReadAll(dir_ / "nginx/error.log");
        // The icon the updater program finds next to itself.
        SetProgramIconFile(W(program_ / "quilmer.svg"));
    }

    DownloadEnvironment Environment(const std::string& path) {
        DownloadEnvironment env;
        env.args = UpdaterArgs::FromValues({FromUtf8(site_->Url(path) + "?type=joiner&lang=English&ver=v1.9"),
                                            L"Corvane Video", L"UWM_JoinDownload_IsMe", L"English",
                                            W(data_) + L"/", L"(v1.9)", L"(v2.0)"});
        env.programFolder = W(program_) + L"/";
        env.restartProgram = env.programFolder + L"quilmer";
        env.windows = nullptr;  // no main program runs here
        env.startProgram = [this](const std::wstring& exe) {
            started_.push_back(exe);
            return true;
        };
        env.probeWait = std::chrono::milliseconds(50);
        env.afterExtract = std::chrono::milliseconds(50);
        return env;
    }

    // Hosts the window; ended_ becomes the result when it closes by itself.
    UpdaterDialog* Open(const std::string& path, std::uint32_t periodMs = 300) {
        ended_ = -1;
        // What the main program leaves in the data folder: the maker's signed descriptor that
        // offers the package at this address.
        EXPECT_TRUE(PublishUpdate(dir_ / "site/dl/quilmer-2.0.zip", "v2.0", site_->Url(path),
                                  data_ / "quilmerver.ini"));
        auto* window = new UpdaterDialog(Environment(path), periodMs);
        window->SetEndedHandler([this](int result) { ended_ = result; });
        window->Show();
        window->Start();
        return window;
    }

    std::uintmax_t PartialSize() const {
        std::error_code ec;
        auto size = fs::file_size(data_ / "newversion.tmp", ec);
        return ec ? 0 : size;
    }

    std::string InstalledVersion() const { return Capture("'" + (program_ / "quilmer").string() + "' --version"); }

    void TearDown() override {
        for (wxWindow* w : wxTopLevelWindows)
            if (dynamic_cast<UpdaterDialog*>(w)) w->Destroy();
        PumpEvents(100);
    }

    fs::path dir_, program_, data_;
    std::unique_ptr<UpdateSite> site_;
    std::vector<std::wstring> started_;
    int ended_ = -1;
};

TEST_F(UpdaterWindowTest, PausesResumesAndInstallsThePackage) {
    UpdaterDialog* window = Open("/slow/quilmer-2.0.zip");
    EXPECT_EQ(window->GetTitle().ToStdWstring(), L"Updater v1.1");
    EXPECT_EQ(window->VersionText(), L"From old version(v1.9)update to new version(v2.0)");
    EXPECT_FALSE(window->GetIcons().IsEmpty()) << "the window wears the program icon";

    ASSERT_TRUE(PumpUntil([&] { return PartialSize() > 300 * 1024 && window->Progress() > 0; }, 60000));
    PumpEvents(1200);  // a second of transfer: the speed shows
    EXPECT_EQ(window->UrlText(), FromUtf8(site_->Url("/slow/quilmer-2.0.zip")));
    EXPECT_NE(window->SizeText().find(L"MB"), std::wstring::npos) << ToUtf8(window->SizeText());
    EXPECT_NE(window->StatusText().find(L"B/S"), std::wstring::npos) << ToUtf8(window->StatusText());
    SaveScreenshot(window, "updater-mid-transfer");

    auto* pause = wxDynamicCast(window->FindWindow(kIdUpdaterPause), wxButton);
    ASSERT_NE(pause, nullptr);
    ClickCentre(pause);
    ASSERT_EQ(window->PauseLabel(), L"&Resume");  // the window is gone once the transfer ends
    ASSERT_TRUE(PumpUntil([&] { return !window->Controller().IsStepRunning(); }));
    std::uintmax_t paused = PartialSize();
    PumpEvents(1500);
    EXPECT_EQ(PartialSize(), paused) << "nothing arrives while paused";
    EXPECT_LT(paused, fs::file_size(Fixture::Get().package));

    ClickCentre(pause);
    EXPECT_EQ(window->PauseLabel(), L"Pau&se");
    ASSERT_TRUE(PumpUntil([&] { return ended_ >= 0; }, 120000)) << ToUtf8(window->StatusText());
    EXPECT_EQ(ended_, 2);
    EXPECT_NE(site_->AccessLog().find("\"bytes=" + std::to_string(paused) + "-\""), std::string::npos)
        << "the second request resumes at the partial size\n" << site_->AccessLog();
    EXPECT_EQ(InstalledVersion(), "v2.0");
    EXPECT_FALSE(fs::exists(data_ / "newversion.tmp"));
    EXPECT_FALSE(fs::exists(data_ / "newversion.time"));
    ASSERT_EQ(started_.size(), 1u);
    EXPECT_EQ(started_[0], W(program_) + L"/quilmer");
}

TEST_F(UpdaterWindowTest, PauseAndResumeDuringAFailedInstallStartNoSecondDownload) {
    // A program folder that cannot be made (a file stands where it should be): unpacking fails.
    WriteAll(dir_ / "not-a-folder", "x");
    ASSERT_TRUE(PublishUpdate(dir_ / "site/dl/quilmer-2.0.zip", "v2.0", site_->Url("/dl/quilmer-2.0.zip"),
                              data_ / "quilmerver.ini"));
    DownloadEnvironment env = Environment("/dl/quilmer-2.0.zip");
    env.programFolder = W(dir_ / "not-a-folder") + L"/";
    env.restartProgram = env.programFolder + L"quilmer";
    const auto afterExtract = std::chrono::milliseconds(1234);
    env.afterExtract = afterExtract;
    std::atomic<bool> installing{false};
    env.sleep = [&](std::chrono::milliseconds ms) {
        if (ms == afterExtract) installing = true;
        std::this_thread::sleep_for(ms == afterExtract ? std::chrono::milliseconds(1500) : ms);
    };
    ended_ = -1;
    auto* window = new UpdaterDialog(std::move(env), 300);
    window->SetEndedHandler([this](int result) { ended_ = result; });
    window->Show();
    window->Start();

    ASSERT_TRUE(PumpUntil([&] { return installing.load(); }, 60000)) << ToUtf8(window->StatusText());
    auto* pause = wxDynamicCast(window->FindWindow(kIdUpdaterPause), wxButton);
    ASSERT_NE(pause, nullptr);
    ClickCentre(pause);
    ClickCentre(pause);
    // Package downloads in the access log ("uri status "range" bytes"), without the one-byte probes.
    auto packageRequests = [&] {
        std::istringstream lines(site_->AccessLog());
        std::size_t n = 0;
        for (std::string line; std::getline(lines, line);)
            if (line.rfind("/dl/quilmer-2.0.zip?", 0) == 0 && line.find("bytes=0-0") == std::string::npos) ++n;
        return n;
    };
    ASSERT_TRUE(PumpUntil([&] { return window->Controller().LastOutcome().has_value(); }, 60000));
    EXPECT_EQ(window->Controller().LastOutcome(), StepOutcome::InstallFailed);
    std::size_t requests = packageRequests();
    EXPECT_GE(requests, 1u) << site_->AccessLog();
    PumpEvents(2500);  // several restart periods
    EXPECT_EQ(window->Controller().LastOutcome(), StepOutcome::InstallFailed);
    EXPECT_FALSE(window->Controller().IsStepRunning());
    EXPECT_FALSE(window->Controller().IsTimerArmed());
    EXPECT_EQ(started_.size(), 1u) << "the main program is started again once";
    EXPECT_EQ(packageRequests(), requests) << "no second download\n" << site_->AccessLog();
    EXPECT_FALSE(window->PauseEnabled());
    EXPECT_EQ(ended_, -1) << "the window stays until the user leaves";
    SaveScreenshot(window, "updater-install-failed-after-pause");
    window->Destroy();
    PumpEvents(100);
}

TEST_F(UpdaterWindowTest, CancelKeepsThePartFileAndTheNextRunFinishesItByteForByte) {
    UpdaterDialog* first = Open("/slow/quilmer-2.0.zip");
    ASSERT_TRUE(PumpUntil([&] { return PartialSize() > 300 * 1024; }, 60000));
    ClickCentre(first->FindWindow(kIdUpdaterCancel));
    ASSERT_TRUE(PumpUntil([&] { return ended_ == 2; }));
    PumpEvents(500);
    std::uintmax_t kept = PartialSize();
    EXPECT_GT(kept, 300u * 1024) << "Cancel leaves the partial file";
    EXPECT_EQ(InstalledVersion(), "v1.9");

    Open("/slow/quilmer-2.0.zip");
    ASSERT_TRUE(PumpUntil([&] { return ended_ >= 0; }, 120000));
    EXPECT_NE(site_->AccessLog().find("\"bytes=" + std::to_string(kept) + "-\""), std::string::npos)
        << site_->AccessLog();
    // The installed folder is exactly the package's contents.
    fs::path unpacked = dir_ / "unpacked";
    ASSERT_EQ(Unpack(Fixture::Get().package, unpacked), 0);
    auto expected = Snapshot(unpacked);
    auto installed = Snapshot(program_);
    for (const auto& [name, bytes] : expected) {
        ASSERT_TRUE(installed.count(name)) << name;
        EXPECT_TRUE(installed[name] == bytes) << name << " differs from the package";
    }
    EXPECT_EQ(InstalledVersion(), "v2.0");
}

TEST_F(UpdaterWindowTest, EscapeIsCancel) {
    UpdaterDialog* window = Open("/slow/quilmer-2.0.zip");
    ASSERT_TRUE(PumpUntil([&] { return PartialSize() > 100 * 1024; }, 60000));
    window->Raise();
    window->SetFocus();
    PumpEvents(200);
    wxUIActionSimulator keys;
    keys.Char(WXK_ESCAPE);
    ASSERT_TRUE(PumpUntil([&] { return ended_ >= 0; }, 10000)) << "Escape ends the window";
    EXPECT_EQ(ended_, 2);
    PumpEvents(300);
    EXPECT_GT(PartialSize(), 100u * 1024) << "as with Cancel, the partial file stays";
    EXPECT_TRUE(started_.empty());
    EXPECT_EQ(InstalledVersion(), "v1.9");
}

// The icon file may be missing (a damaged program folder, one being replaced): the window opens
// without an icon, and no error box is queued for the user.
TEST_F(UpdaterWindowTest, AMissingIconFileLeavesTheWindowBareAndSaysNothing) {
    struct Recorder : wxLog {
        std::vector<std::string> lines;
        void DoLogTextAtLevel(wxLogLevel, const wxString& text) override { lines.push_back(text.utf8_string()); }
    };
    auto* recorder = new Recorder;
    wxLog* before = wxLog::SetActiveTarget(recorder);
    SetProgramIconFile(W(dir_ / "no-such-icon.svg"));
    UpdaterDialog* window = Open("/dl/no-such-package.zip");
    PumpEvents(200);
    EXPECT_TRUE(window->GetIcons().IsEmpty());
    SaveScreenshot(window, "updater-without-icon");
    window->Destroy();
    PumpEvents(100);
    wxLog::FlushActive();
    std::vector<std::string> lines = recorder->lines;
    delete wxLog::SetActiveTarget(before);
    EXPECT_TRUE(lines.empty()) << lines.front();
}

TEST_F(UpdaterWindowTest, ADroppedConnectionIsToldAndTheTransferResumesWhenTheServerIsBack) {
    UpdaterDialog* window = Open("/slow/quilmer-2.0.zip");
    ASSERT_TRUE(PumpUntil([&] { return PartialSize() > 300 * 1024; }, 60000));
    site_->Stop();
    ASSERT_TRUE(PumpUntil([&] { return !window->AdviceText().empty(); }, 60000));
    EXPECT_EQ(window->StatusText(), L"Failure to download update file.");
    EXPECT_NE(window->AdviceText().find(L"tries again"), std::wstring::npos);
    SaveScreenshot(window, "updater-connection-dropped");
    EXPECT_GT(PartialSize(), 300u * 1024) << "what arrived is kept";
    ASSERT_TRUE(site_->Start());
    ASSERT_TRUE(PumpUntil([&] { return ended_ >= 0; }, 120000)) << ToUtf8(window->StatusText());
    EXPECT_EQ(InstalledVersion(), "v2.0");
}

TEST_F(UpdaterWindowTest, ADamagedOrMissingPackageInstallsNothingAndSaysWhatToDo) {
    auto before = Snapshot(program_);
    {
        // One byte changed: the signature no longer matches.
        std::string bytes = ReadAll(dir_ / "site/dl/quilmer-2.0.zip");
        bytes[bytes.size() / 2] ^= 0x5a;
        WriteAll(dir_ / "site/dl/damaged.zip", bytes);
        fs::copy_file(dir_ / "site/dl/quilmer-2.0.zip.sig", dir_ / "site/dl/damaged.zip.sig");
    }
    UpdaterDialog* window = Open("/dl/damaged.zip");
    ASSERT_TRUE(PumpUntil([&] { return window->Controller().LastOutcome().has_value(); }, 60000));
    EXPECT_EQ(window->Controller().LastOutcome(), StepOutcome::NotVerified);
    EXPECT_EQ(window->StatusText(), L"The update package could not be verified.");
    EXPECT_NE(window->AdviceText().find(L"Nothing was installed"), std::wstring::npos);
    EXPECT_FALSE(window->PauseEnabled());
    SaveScreenshot(window, "updater-not-verified");
    PumpEvents(1000);
    EXPECT_EQ(ended_, -1) << "the window stays until the user leaves";
    EXPECT_TRUE(started_.empty());
    EXPECT_TRUE(Snapshot(program_) == before) << "the program folder is untouched";
    window->Destroy();
    PumpEvents(100);

    UpdaterDialog* missing = Open("/dl/no-such-package.zip");
    ASSERT_TRUE(PumpUntil([&] { return missing->Controller().LastOutcome().has_value(); }, 60000));
    EXPECT_EQ(missing->Controller().LastOutcome(), StepOutcome::Failed);
    EXPECT_EQ(missing->StatusText(), L"Failure to download update file.");
    EXPECT_NE(missing->AdviceText().find(L"Nothing was changed"), std::wstring::npos);
    EXPECT_TRUE(Snapshot(program_) == before);
}

// Makes a folder unwritable for as long as it lives. A mode is enough for a user; root writes
// whatever the mode says, so for root the folder is mounted read-only over itself, in a mount
// namespace of the calling thread's own (threads and programs it starts later are in it too; the
// rest of the machine never sees the mount).
class UnwritableFolder {
public:
    explicit UnwritableFolder(fs::path folder) : folder_(std::move(folder)) {
        if (::geteuid() != 0) {
            ::chmod(folder_.c_str(), 0555);
            ready_ = true;
            return;
        }
        if (::unshare(CLONE_NEWNS) != 0) {
            Fail("unshare");
            return;
        }
        // Private first: the mount below must not reach the namespace we came from.
        if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            Fail("make / private");
            return;
        }
        if (::mount(folder_.c_str(), folder_.c_str(), nullptr, MS_BIND, nullptr) != 0) {
            Fail("bind");
            return;
        }
        mounted_ = true;
        if (::mount(nullptr, folder_.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
            Fail("remount read-only");
            return;
        }
        ready_ = true;
    }
    ~UnwritableFolder() {
        if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
        if (::geteuid() != 0) ::chmod(folder_.c_str(), 0755);
    }
    bool Ready() const { return ready_; }
    const std::string& Why() const { return why_; }

private:
    void Fail(const char* what) { why_ = std::string(what) + ": " + std::strerror(errno); }
    fs::path folder_;
    bool ready_ = false, mounted_ = false;
    std::string why_;
};

TEST_F(UpdaterWindowTest, AProgramFolderThatCannotBeWrittenKeepsTheOldProgramAndTellsTheUser) {
    auto before = Snapshot(program_);
    UpdaterDialog* window = nullptr;
    {
        UnwritableFolder unwritable(program_);
        if (!unwritable.Ready()) GTEST_SKIP() << "cannot make the folder unwritable: " << unwritable.Why();
        ASSERT_NE(::access(program_.c_str(), W_OK), 0) << "the folder is still writable";
        window = Open("/dl/quilmer-2.0.zip");
        ASSERT_TRUE(PumpUntil([&] { return window->Controller().LastOutcome().has_value() && !window->AdviceText().empty(); },
                              30000));
    }
    EXPECT_EQ(window->Controller().LastOutcome(), StepOutcome::InstallFailed);
    EXPECT_EQ(window->StatusText(), L"Unable to unzip file.");
    std::wstring advice = window->AdviceText();  // wrapped to the window's width
    std::replace(advice.begin(), advice.end(), L'\n', L' ');
    EXPECT_NE(advice.find(L"program folder"), std::wstring::npos) << ToUtf8(advice);
    EXPECT_TRUE(Snapshot(program_) == before);
    EXPECT_EQ(ended_, -1);
}

TEST_F(UpdaterWindowTest, TheUpdaterProgramSpeaksTheLanguageItIsGiven) {
    if (Capture("command -v xwininfo").empty()) GTEST_SKIP() << "xwininfo (x11-utils) is needed to find the window";
    // The installed program with the arguments the main program passes, in French; the package
    // is missing, so the window stays with its failure.
    ServerProcess updater;
    ASSERT_TRUE(updater.Start({(program_ / "updater").string(), site_->Url("/dl/missing.zip") + "?type=joiner",
                               "Corvane Video", "UWM_JoinDownload_IsMe", "French", data_.string() + "/", "(v1.9)",
                               "(v2.0)"},
                              120));
    std::optional<wxRect> window;
    ASSERT_TRUE(WaitUntil([&] { return (window = FindScreenWindow("Mise à jour v1.1")).has_value(); },
                          std::chrono::milliseconds(30000),
                          [] { std::this_thread::sleep_for(std::chrono::milliseconds(200)); }));
    // The failure and the advice arrive a moment after the first tick.
    ASSERT_TRUE(WaitUntil([&] { return site_->AccessLog().find("/dl/missing.zip") != std::string::npos; },
                          std::chrono::milliseconds(30000)));
    PumpEvents(1500);
    window = FindScreenWindow("Mise à jour v1.1");  // grown by the advice
    ASSERT_TRUE(window);
    wxBitmap shot = GrabScreen(*window);
    shot.SaveFile(wxString::FromUTF8((ScreenshotFolder() / "updater-french-failure.png").string()),
                  wxBITMAP_TYPE_PNG);
    EXPECT_TRUE(updater.Alive()) << "the window stays until the user leaves";
    updater.Stop();
}

// ---- the new-version window ----------------------------------------------------------------

class NewVersionFlowTest : public ::testing::Test {
protected:
    void SetUp() override {
        frame_ = new wxFrame(nullptr, wxID_ANY, wxS("main"));
        frame_->Show();
        PumpEvents(200);
        flow_ = std::make_unique<UpdateFlow>(frame_, loop_);
        data_ = fs::path(std::getenv("HOME")) / "flow-data";
        fs::create_directories(data_);
        flow_->Context().appDataFolder = W(data_) + L"/";
        flow_->Context().currentVersion = L"v1.9";
        flow_->Context().buildDate = L"Oct 22 2011";
        flow_->Context().language = L"English";
        flow_->Context().descriptorKey = TestPublicKey();
        flow_->ActionsForTest().startUpdater = [this](const std::wstring& folder, const UpdaterLaunch& launch) {
            launches_.push_back(launch);
            folders_.push_back(folder);
            return true;
        };
        AppSettings::Instance().sysFlags = 0;
    }
    void TearDown() override {
        flow_.reset();
        frame_->Destroy();
        PumpEvents(50);
    }
    // The descriptor as the version check leaves it: with the maker's signature beside it.
    void Descriptor(const std::string& text) {
        WriteAll(data_ / "quilmerver.ini", text);
        // openssl signs no empty file; an empty descriptor stays unsigned (and means nothing).
        if (!text.empty()) ASSERT_TRUE(SignPackage(data_ / "quilmerver.ini"));
        else fs::remove(data_ / "quilmerver.ini.sig");
    }

    // Runs Evaluate while then() drives the dialog that it opens.
    void EvaluateWith(std::function<void(NewVersionDialog*)> then) {
        bool seen = false;
        auto active = std::make_shared<bool>(true);
        wxTheApp->CallAfter([&, active] {
            if (!*active) return;  // Evaluate opened nothing
            // The dialog is modal from here on; look for it and drive it.
            PumpUntil([&] {
                for (wxWindow* w : wxTopLevelWindows)
                    if (auto* d = dynamic_cast<NewVersionDialog*>(w); d && d->IsShown()) {
                        seen = true;
                        PumpEvents(200);
                        then(d);
                        return true;
                    }
                return false;
            }, 10000);
        });
        flow_->Evaluate();
        *active = false;
        PumpEvents(30);
        dialogSeen_ = seen;
    }

    WxEventLoop loop_;
    wxFrame* frame_ = nullptr;
    std::unique_ptr<UpdateFlow> flow_;
    fs::path data_;
    std::vector<UpdaterLaunch> launches_;
    std::vector<std::wstring> folders_;
    bool dialogSeen_ = false;
};

std::wstring FieldText(wxWindow* dialog, int id) {
    auto* field = wxDynamicCast(dialog->FindWindow(id), wxTextCtrl);
    return field ? field->GetValue().ToStdWstring() : L"<missing>";
}

TEST_F(NewVersionFlowTest, OffersTheNewVersionAndOkStartsTheUpdaterWithTheSevenArguments) {
    Descriptor("[main]\nversion=v2.0\nreleasedate=12-01-2026\ndownloadurl=http://127.0.0.1:9/dl/quilmer-2.0.zip\n");
    EvaluateWith([](NewVersionDialog* d) {
        EXPECT_EQ(d->GetTitle().ToStdWstring(), L"New Version of Quilmer(corvane)");
        EXPECT_EQ(FieldText(d, kIdNewVersion), L"v2.0");
        EXPECT_EQ(FieldText(d, kIdNewReleaseDate), L"12-01-2026");
        EXPECT_EQ(FieldText(d, kIdCurrentVersion), L"v1.9");
        EXPECT_EQ(FieldText(d, kIdCurrentReleaseDate), L"10-22-2011");
        auto* box = wxDynamicCast(d->FindWindow(kIdDontRemind), wxCheckBox);
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(box->IsShown());
        EXPECT_FALSE(box->GetValue());
        auto* link = wxDynamicCast(d->FindWindow(kIdUpdateLink), wxHyperlinkCtrl);
        ASSERT_NE(link, nullptr);
        EXPECT_EQ(link->GetURL().ToStdWstring(), L"http://127.0.0.1:9/dl/quilmer-2.0.zip");
        EXPECT_TRUE(link->IsEnabled());
        SaveScreenshot(d, "new-version-dialog");
        ClickCentre(d->FindWindow(wxID_OK));
    });
    ASSERT_TRUE(dialogSeen_);
    ASSERT_EQ(launches_.size(), 1u);
    std::vector<std::wstring> expected{
        L"http://127.0.0.1:9/dl/quilmer-2.0.zip?type=joiner&lang=English&ver=v1.9",
        L"Corvane Video", L"UWM_JoinDownload_IsMe", L"English", W(data_) + L"/", L"(v1.9)", L"(v2.0)"};
    EXPECT_EQ(UpdaterArguments(launches_[0]), expected);
    EXPECT_EQ(folders_[0], AppFolders::Instance().ProgramFolder());
    EXPECT_EQ(AppSettings::Instance().sysFlags & kSysFlagDontRemind, 0);
}

TEST_F(NewVersionFlowTest, TheUpdateLinkOpensWebAddressesOnly) {
    for (const char* address : {"file:///etc/passwd", "ftp://127.0.0.1/x.zip", "quilmer-handler:run"}) {
        Descriptor(std::string("[main]\nversion=v2.0\nreleasedate=12-01-2026\ndownloadurl=") + address + "\n");
        EvaluateWith([address](NewVersionDialog* d) {
            auto* link = wxDynamicCast(d->FindWindow(kIdUpdateLink), wxHyperlinkCtrl);
            ASSERT_NE(link, nullptr);
            EXPECT_EQ(link->GetURL().utf8_string().find(address), std::string::npos) << address;
            EXPECT_FALSE(link->IsEnabled()) << address;
            if (std::string(address).rfind("file:", 0) == 0) SaveScreenshot(d, "new-version-dialog-local-link");
            d->EndModal(wxID_CANCEL);
        });
        EXPECT_TRUE(dialogSeen_) << address;
    }
}

TEST_F(NewVersionFlowTest, APackagedProgramIsStillToldOfTheNewVersionButOkSaysHowToGetItInsteadOfUpdating) {
    fs::path folder = data_ / "packaged-program";
    WriteAll(folder / "packaged-by", "debian\n");
    flow_->Context().programFolder = W(folder) + L"/";
    std::vector<std::wstring> told;
    flow_->ActionsForTest().tellUser = [&](const std::wstring& text) { told.push_back(text); };
    Descriptor("[main]\nversion=v2.0\n");
    EvaluateWith([](NewVersionDialog* d) { ClickCentre(d->FindWindow(wxID_OK)); });
    ASSERT_TRUE(dialogSeen_);
    EXPECT_TRUE(launches_.empty()) << "the updater must not replace the package manager's files";
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find(L"package manager"), std::wstring::npos) << told[0];
    EXPECT_NE(told[0].find(L"apt install --only-upgrade quilmer"), std::wstring::npos) << told[0];
}

TEST_F(NewVersionFlowTest, DontRemindMeAgainIsKeptAndSilencesLaterOffers) {
    Descriptor("[main]\nversion=v2.0\n");
    EvaluateWith([](NewVersionDialog* d) {
        ClickCentre(d->FindWindow(kIdDontRemind));
        EXPECT_TRUE(d->DontRemind());
        d->Close();  // the close box
    });
    ASSERT_TRUE(dialogSeen_);
    EXPECT_TRUE(launches_.empty()) << "closing the window declines";
    EXPECT_EQ(SettingsStore::Instance().ReadInt(L"Config", L"SysFlags", 0) & kSysFlagDontRemind, kSysFlagDontRemind);

    EvaluateWith([](NewVersionDialog* d) { d->EndModal(wxID_CANCEL); });
    EXPECT_FALSE(dialogSeen_) << "no offer once the user asked not to be reminded";
    SettingsStore::Instance().WriteInt(L"Config", L"SysFlags", 0);
    AppSettings::Instance().sysFlags = 0;
}

TEST_F(NewVersionFlowTest, NothingHappensForTheSameOrAnOlderVersionOrNoDescriptor) {
    for (const char* text : {"[main]\nversion=v1.9\n", "[main]\nversion=v1.9.0\nlastversion=v1.0\n",
                             "[main]\n", "", "[other]\nversion=v9.0\n"}) {
        Descriptor(text);
        EvaluateWith([](NewVersionDialog* d) { d->EndModal(wxID_CANCEL); });
        EXPECT_FALSE(dialogSeen_) << text;
    }
    // A newer version, but the signature is for other bytes: no offer.
    Descriptor("[main]\nversion=v1.8\n");
    WriteAll(data_ / "quilmerver.ini", "[main]\nversion=v2.8\n");
    EvaluateWith([](NewVersionDialog* d) { d->EndModal(wxID_CANCEL); });
    EXPECT_FALSE(dialogSeen_) << "a descriptor that is not the maker's was judged";
    fs::remove(data_ / "quilmerver.ini");
    EvaluateWith([](NewVersionDialog* d) { d->EndModal(wxID_CANCEL); });
    EXPECT_FALSE(dialogSeen_);
    EXPECT_TRUE(launches_.empty());
}

TEST_F(NewVersionFlowTest, AnUnsupportedVersionOpensTheTipPageWhoseCloseEndsTheProgram) {
    std::vector<std::wstring> told, opened;
    std::function<void()> browserClosed;
    flow_->ActionsForTest().tellUser = [&](const std::wstring& text) { told.push_back(text); };
    flow_->ActionsForTest().openBrowser = [&](const std::wstring& url, std::function<void()> onClosed) {
        opened.push_back(url);
        browserClosed = std::move(onClosed);
    };
    bool closed = false;
    frame_->Bind(wxEVT_CLOSE_WINDOW, [&](wxCloseEvent& e) {
        closed = true;
        e.Veto();
    });
    Descriptor("[main]\nlastversion=v2.0\nversion=v2.1\ntipurl=http://127.0.0.1:9/tip.php\n");
    EvaluateWith([](NewVersionDialog* d) { d->EndModal(wxID_CANCEL); });
    EXPECT_FALSE(dialogSeen_) << "the tip page wins over the offer";
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], L"http://127.0.0.1:9/tip.php?lang=English");
    EXPECT_TRUE(told.empty());
    EXPECT_FALSE(frame_->IsShown());
    EXPECT_FALSE(closed) << "the program waits for the browser window";
    ASSERT_TRUE(browserClosed);
    browserClosed();
    EXPECT_TRUE(closed) << "closing the browser window ends the program";
}

// ---- the whole road with the real programs ---------------------------------------------------

// The real new-version window of the other process, found on the display and its OK clicked like
// a user would.
void AcceptTheOfferOnScreen(const UpdateSite& site) {
    std::optional<wxRect> dialog;
    ASSERT_TRUE(SlowWait([&] { return (dialog = FindScreenWindow("New Version of Quilmer(corvane)")).has_value(); },
                          std::chrono::milliseconds(1000 * 60)))
        << site.AccessLog();
    PumpEvents(800);
    wxUIActionSimulator sim;
    // OK sits in the bottom right corner; Enter on the window presses it too (the default button).
    sim.MouseMove(dialog->GetRight() - 45, dialog->GetBottom() - 25);
    PumpEvents(100);
    sim.MouseClick();
    PumpEvents(300);
    if (FindScreenWindow("New Version of Quilmer(corvane)")) {
        sim.Char(WXK_RETURN);
        PumpEvents(300);
    }
}

// The processes that run the program file exe (the updater the main program started).
std::vector<pid_t> ProcessesOf(const fs::path& exe) {
    std::vector<pid_t> pids;
    for (auto& entry : fs::directory_iterator("/proc")) {
        std::error_code ec;
        fs::path target = fs::read_symlink(entry.path() / "exe", ec);
        if (!ec && target == exe) pids.push_back(static_cast<pid_t>(std::atoi(entry.path().filename().c_str())));
    }
    return pids;
}

TEST(UpdateEndToEnd, APackageSwappedForAnOlderSignedOneIsRefusedAndTheProgramKeepsRunning) {
    if (Capture("command -v xwininfo").empty()) GTEST_SKIP() << "xwininfo (x11-utils) is needed to find the window";
    Fixture& f = Fixture::Get();
    ASSERT_TRUE(f.error.empty()) << f.error;
    fs::path dir = f.scratch / "swapped";
    fs::remove_all(dir);
    fs::create_directories(dir / "site/dl");
    fs::path program = dir / "program";
    fs::copy(f.installed, program, fs::copy_options::recursive);
    UpdateSite site(dir / "nginx", dir / "site");
    ASSERT_TRUE(site.Start());
    // The maker's current descriptor for the new package, but on the way the package and its
    // signature are replaced by an older package the maker once signed.
    fs::copy_file(f.package, dir / "site/dl/quilmer-2.0.zip");
    ASSERT_TRUE(PublishUpdate(dir / "site/dl/quilmer-2.0.zip", "v2.0", site.Url("/dl/quilmer-2.0.zip"),
                              dir / "site/quilmerver.ini"));
    ASSERT_EQ(Shell("cd '" + dir.string() + "' && printf 'program v1.8' > quilmer && python3 -c \"import zipfile; "
                    "zipfile.ZipFile('old.zip', 'w').write('quilmer')\""),
              0);
    ASSERT_TRUE(SignPackage(dir / "old.zip"));
    fs::copy_file(dir / "old.zip", dir / "site/dl/quilmer-2.0.zip", fs::copy_options::overwrite_existing);
    fs::copy_file(dir / "old.zip.sig", dir / "site/dl/quilmer-2.0.zip.sig", fs::copy_options::overwrite_existing);
    ScopedEnv server("QUILMER_UPDATE_URL", site.Base());
    const auto before = Snapshot(program);

    ServerProcess quilmer;
    ASSERT_TRUE(quilmer.Start({(program / "quilmer").string()}, 240));
    ASSERT_NO_FATAL_FAILURE(AcceptTheOfferOnScreen(site));
    ASSERT_TRUE(SlowWait([&] { return FindScreenWindow("Updater v1.1").has_value(); }, std::chrono::milliseconds(1000 * 30)));
    // The updater has the package and its signature; its verdict follows within moments.
    ASSERT_TRUE(SlowWait([&] { return site.AccessLog().find("/dl/quilmer-2.0.zip.sig?") != std::string::npos; },
                         std::chrono::milliseconds(1000 * 60)))
        << site.AccessLog();
    PumpEvents(3000);
    EXPECT_TRUE(quilmer.Alive()) << "the running program was closed for a package that was refused";
    EXPECT_TRUE(CWindowFinder(L"Corvane Video", L"UWM_JoinDownload_IsMe").Find().has_value());
    EXPECT_TRUE(Snapshot(program) == before) << "the program folder changed";
    EXPECT_TRUE(FindScreenWindow("Updater v1.1").has_value()) << "the updater stays to say why";
    EXPECT_EQ(Capture("'" + (program / "quilmer").string() + "' --version"), "v1.9");

    for (pid_t pid : ProcessesOf(program / "updater")) ::kill(pid, SIGTERM);
    SlowWait([&] { return ProcessesOf(program / "updater").empty(); }, std::chrono::milliseconds(1000 * 10));
    if (auto window = CWindowFinder(L"Corvane Video", L"UWM_JoinDownload_IsMe").Find()) PostCloseRequest(*window);
    SlowWait([&] { return !quilmer.Alive(); }, std::chrono::milliseconds(1000 * 20));
}

TEST(UpdateEndToEnd, TheInstalledProgramOffersDownloadsInstallsAndRestartsTheNewVersion) {
    if (Capture("command -v xwininfo").empty()) GTEST_SKIP() << "xwininfo (x11-utils) is needed to find the window";
    Fixture& f = Fixture::Get();
    ASSERT_TRUE(f.error.empty()) << f.error;
    fs::path dir = f.scratch / "end-to-end";
    fs::remove_all(dir);
    fs::create_directories(dir);
    fs::path program = dir / "program";
    fs::copy(f.installed, program, fs::copy_options::recursive);
    fs::create_directories(dir / "site/dl");
    fs::copy_file(f.package, dir / "site/dl/quilmer-2.0.zip");
    fs::copy_file(f.package.string() + ".sig", dir / "site/dl/quilmer-2.0.zip.sig");
    UpdateSite site(dir / "nginx", dir / "site", "2m");
    ASSERT_TRUE(site.Start());
    // Published as the maker does: the package and the descriptor naming its hash, both signed.
    ASSERT_TRUE(PublishUpdate(dir / "site/dl/quilmer-2.0.zip", "v2.0", site.Url("/slow/quilmer-2.0.zip"),
                              dir / "site/quilmerver.ini", quilmer::testing::TestKeyFile(),
                              "releasedate=12-01-2026"));
    ScopedEnv server("QUILMER_UPDATE_URL", site.Base());
    std::wstring appData = AppFolders::Instance().AppDataFolder();

    ServerProcess quilmer;
    ASSERT_TRUE(quilmer.Start({(program / "quilmer").string()}, 240));
    ASSERT_NO_FATAL_FAILURE(AcceptTheOfferOnScreen(site));
    // The updater comes up, closes the old quilmer, installs and starts the new one.
    ASSERT_TRUE(SlowWait([&] { return FindScreenWindow("Updater v1.1").has_value(); }, std::chrono::milliseconds(1000 * 30)));
    ASSERT_TRUE(SlowWait([&] { return !quilmer.Alive(); }, std::chrono::milliseconds(1000 * 120)))
        << "the updater closes the running program";
    ASSERT_TRUE(SlowWait([&] { return !FindScreenWindow("Updater v1.1").has_value(); }, std::chrono::milliseconds(1000 * 120)));
    EXPECT_EQ(Capture("'" + (program / "quilmer").string() + "' --version"), "v2.0");
    EXPECT_NE(site.AccessLog().find("/flv/quilmerver.php.sig?lang=English&ver=v1.9 200"), std::string::npos)
        << "the descriptor's signature is fetched beside it\n"
        << site.AccessLog();
    // The new quilmer runs: it shows on the window protocol again.
    ASSERT_TRUE(SlowWait(
        [&] { return CWindowFinder(L"Corvane Video", L"UWM_JoinDownload_IsMe").Find().has_value(); },
        std::chrono::milliseconds(1000 * 30)));
    EXPECT_FALSE(fs::exists(NativePath(appData + L"newversion.tmp")));
    EXPECT_FALSE(fs::exists(NativePath(appData + L"newversion.time")));
    // Nothing of the installation is left in the program folder besides the package's files.
    auto installed = Snapshot(program);
    fs::path unpacked = dir / "unpacked";
    ASSERT_EQ(Unpack(f.package, unpacked), 0);
    auto expected = Snapshot(unpacked);
    for (const auto& [name, bytes] : installed) EXPECT_TRUE(expected.count(name)) << "left behind: " << name;
    // The restarted program is closed the way the updater closed the first one.
    if (auto window = CWindowFinder(L"Corvane Video", L"UWM_JoinDownload_IsMe").Find()) PostCloseRequest(*window);
    SlowWait([&] { return !CWindowFinder(L"Corvane Video", L"UWM_JoinDownload_IsMe").Find(); },
              std::chrono::milliseconds(1000 * 20));
}

}  // namespace

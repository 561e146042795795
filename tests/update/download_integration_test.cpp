// The package download against real servers on loopback: nginx for well-behaved serving with
// Range, ETag and Last-Modified, the scripted server for broken connections, missing lengths,
// ignored ranges, changed packages and error pages. Every case ends in a correct package or a
// clear failure; a damaged package is never installed.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cwchar>
#include <filesystem>
#include <mutex>
#include <random>
#include <thread>

#include "foundation/ManualEventLoop.h"
#include "foundation/Utf8.h"
#include "foundation/WorkerThread.h"
#include "tests/update/LoopbackServers.h"
#include "tests/update/PackageSigning.h"
#include "tests/support/ScratchFolder.h"
#include "tests/updater/ZipFixture.h"
#include "update/HttpClient.h"
#include "update/UpdateCheck.h"
#include "update/VersionCheck.h"
#include "updater/DownloadStep.h"
#include "updater/UpdaterController.h"

using namespace quilmer;
using namespace quilmer::testing;
using quilmer::test::ScratchFolder;
namespace fs = std::filesystem;

namespace {

std::wstring W(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::string RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(gen());
    return s;
}

struct Package {
    std::string path;
    std::string program, library, big;
};

Package MakePackage(const std::string& path, unsigned seed) {
    Package p{path, "program v" + std::to_string(seed), RandomBytes(20000, seed + 1),
              RandomBytes(3 << 20, seed + 2)};
    MakeZip(path, {{"quilmer", p.program, true, 0100755},
                   {"lib/", ""},
                   {"lib/libcore.so", p.library},
                   {"data/big.bin", p.big, false}});
    SignPackage(path);  // served beside it as pkg.zip.sig
    return p;
}

class RecordingObserver : public DownloadObserver {
public:
    std::function<void(std::uint64_t)> onChunk;  // called with the status line count
    void SetStatusText(const std::wstring& text, bool isError) override {
        std::lock_guard lock(mutex);
        status = text;
        if (isError) {
            errors.push_back(text);
        } else {
            lastProgressLine = text;
            if (onChunk) onChunk(++chunks);
        }
    }
    void SetSizeText(const std::wstring& text) override { size = text; }
    void SetProgress(int percent) override { progress = percent; }
    void EnablePause(bool enable) override { pauseEnabled = enable; }
    std::mutex mutex;
    std::wstring status, size, lastProgressLine;
    std::vector<std::wstring> errors;
    int progress = -1;
    bool pauseEnabled = true;
    std::uint64_t chunks = 0;
};

class FakeWindows : public WindowProtocol {
public:
    std::optional<WindowRef> FindWindow(const std::wstring& cls, const std::wstring& msg,
                                        std::chrono::milliseconds) override {
        askedClass = cls;
        askedMessage = msg;
        return 7;
    }
    bool PostClose(WindowRef w) override {
        closed = w == 7;
        programAtClose = ReadAll(folder + "quilmer");
        return true;
    }
    bool WindowExists(WindowRef) override { return !closed; }
    std::string folder;
    std::wstring askedClass, askedMessage;
    bool closed = false;
    std::string programAtClose;
};

class UpdateDownload : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(tmp.Native().empty());
        fs::create_directories(tmp / "data");
        fs::create_directories(tmp / "prog");
        fs::create_directories(tmp / "www");
        fs::create_directories(tmp / "nginx");
        WriteAll(tmp / "prog/quilmer", "old program");
        WriteAll(tmp / "prog/keep.txt", "not in the package");
        a = MakePackage(tmp / "www/pkg.zip", 1);
        b = MakePackage(tmp / "b.zip", 2);
        windows.folder = tmp / "prog/";
        env = TestDownloadEnvironment(tmp.Path(), &windows, &started);
    }

    StepOutcome RunSettled(std::atomic<bool>& paused, int maxAttempts = 4) {
        StepOutcome outcome = StepOutcome::Failed;
        for (int i = 0; i < maxAttempts; ++i) {
            DownloadStep step(env, observer);
            outcome = step.Run(paused);
            if (outcome != StepOutcome::RetryLater) break;
        }
        return outcome;
    }

    void ExpectInstalled(const Package& p) {
        EXPECT_EQ(ReadAll(tmp / "prog/quilmer"), p.program);
        EXPECT_EQ(ReadAll(tmp / "prog/lib/libcore.so"), p.library);
        EXPECT_TRUE(ReadAll(tmp / "prog/data/big.bin") == p.big) << "big file differs";
        EXPECT_EQ(ReadAll(tmp / "prog/keep.txt"), "not in the package");
        EXPECT_FALSE(fs::exists(tmp / "data/newversion.tmp"));
        EXPECT_FALSE(fs::exists(tmp / "data/newversion.time"));
        EXPECT_EQ(started, std::vector<std::wstring>{W(tmp / "prog/quilmer")});
        EXPECT_TRUE(windows.closed);
        EXPECT_EQ(windows.programAtClose, "old program") << "the program is closed before it is replaced";
    }

    void ExpectUntouched() {
        EXPECT_EQ(ReadAll(tmp / "prog/quilmer"), "old program");
        EXPECT_FALSE(fs::exists(tmp / "prog/data"));
        EXPECT_TRUE(started.empty());
        EXPECT_FALSE(windows.closed);
    }

    ScratchFolder tmp;
    Package a, b;
    DownloadEnvironment env;
    RecordingObserver observer;
    FakeWindows windows;
    std::vector<std::wstring> started;
};

std::string TmpFileValidator(const ScratchFolder& tmp) { return ReadAll(tmp / "data/newversion.time"); }

}  // namespace

TEST_F(UpdateDownload, NginxPauseAndResumeGivesTheIdenticalPackage) {
    NginxServer nginx;
    ASSERT_TRUE(nginx.Start(tmp / "nginx/", tmp / "www")) << nginx.ErrorLog();
    // Under /held/ the first request cannot finish before the pause (see NginxServer).
    env.args.packageUrl = W(nginx.Url("/held/pkg.zip?type=joiner&lang=English&ver=v1.9"));
    ASSERT_TRUE(OfferPackage(env, a.path));

    std::atomic<bool> paused{false};
    observer.onChunk = [&](std::uint64_t) {
        // The status line starts with the bytes received so far.
        if (std::wcstoull(observer.lastProgressLine.c_str(), nullptr, 10) >= 200000) paused = true;
    };
    EXPECT_EQ(RunSettled(paused), StepOutcome::Paused);
    std::uintmax_t partial = fs::file_size(tmp / "data/newversion.tmp");
    EXPECT_GT(partial, 100000u);
    EXPECT_LT(partial, fs::file_size(a.path));
    EXPECT_FALSE(TmpFileValidator(tmp).empty()) << "nginx's ETag is kept as the validator";
    ExpectUntouched();

    paused = false;
    observer.onChunk = nullptr;
    EXPECT_EQ(RunSettled(paused), StepOutcome::Installed)
        << (observer.errors.empty() ? "" : ToUtf8(observer.errors.back()));
    ExpectInstalled(a);
    EXPECT_EQ(observer.progress, 100);
    EXPECT_NE(nginx.AccessLog().find(" 206 \"bytes=" + std::to_string(partial) + "-\""), std::string::npos)
        << nginx.AccessLog();
    EXPECT_EQ(windows.askedClass, L"Corvane Video");
}

TEST_F(UpdateDownload, NginxPackageChangedSinceThePartialStartsAgain) {
    NginxServer nginx;
    ASSERT_TRUE(nginx.Start(tmp / "nginx/", tmp / "www")) << nginx.ErrorLog();
    env.args.packageUrl = W(nginx.Url("/moved/pkg.zip"));  // redirected to /pkg.zip
    ASSERT_TRUE(OfferPackage(env, a.path));
    // A partial file of another package, with that package's validator.
    WriteAll(tmp / "data/newversion.tmp", ReadAll(b.path).substr(0, 1 << 20));
    WriteAll(tmp / "data/newversion.time", "\"0-old\"");
    std::atomic<bool> paused{false};
    EXPECT_EQ(RunSettled(paused), StepOutcome::Installed);
    ExpectInstalled(a);
    std::string log = nginx.AccessLog();
    EXPECT_NE(log.find("/moved/pkg.zip 302 \"bytes=1048576-\""), std::string::npos) << log;
    EXPECT_NE(log.find("/pkg.zip 206 \"bytes=1048576-\""), std::string::npos)
        << "Range survives the redirect\n"
        << log;
    EXPECT_NE(log.find(" 200 \"-\""), std::string::npos) << "the second request goes without Range\n" << log;
}

TEST_F(UpdateDownload, ScriptedMisbehaviourEndsInTheRightPackageOrAClearFailure) {
    ScriptedServer server;
    ASSERT_TRUE(server.Start(a.path, b.path, tmp / "server.log"));
    struct Case {
        const char* path;
        StepOutcome expected;
        const Package* installed;
        bool withPartial;  // start from a partial file of package A and its validator
    };
    std::vector<Case> cases{{"/drop", StepOutcome::Installed, &a, false},
                            {"/drop-change", StepOutcome::Installed, &b, false},
                            {"/nolength", StepOutcome::Installed, &a, false},
                            {"/chunked", StepOutcome::Installed, &a, false},
                            {"/norange", StepOutcome::Installed, &a, true},
                            {"/nolength-drop", StepOutcome::NotVerified, nullptr, false},
                            {"/404", StepOutcome::Failed, nullptr, false},
                            {"/500", StepOutcome::Failed, nullptr, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        fs::remove_all(tmp / "prog");
        fs::create_directories(tmp / "prog");
        WriteAll(tmp / "prog/quilmer", "old program");
        WriteAll(tmp / "prog/keep.txt", "not in the package");
        fs::remove(tmp / "data/newversion.tmp");
        fs::remove(tmp / "data/newversion.time");
        started.clear();
        windows.closed = false;
        observer.errors.clear();
        if (c.withPartial) {
            WriteAll(tmp / "data/newversion.tmp", ReadAll(a.path).substr(0, 300000));
            WriteAll(tmp / "data/newversion.time", "\"A\"");
        }
        env.args.packageUrl = W(server.Url(c.path));
        ASSERT_TRUE(OfferPackage(env, c.installed ? c.installed->path : a.path));
        std::atomic<bool> paused{false};
        EXPECT_EQ(RunSettled(paused), c.expected);
        if (c.installed) {
            ExpectInstalled(*c.installed);
            // The file holds exactly one package: nothing was appended to an old partial.
            std::wstring whole = std::to_wstring(ReadAll(c.installed->path).size());
            EXPECT_EQ(observer.lastProgressLine.substr(0, whole.size() + 1), whole + L"/")
                << ToUtf8(observer.lastProgressLine);
        } else {
            ExpectUntouched();
            ASSERT_FALSE(observer.errors.empty());
            EXPECT_EQ(observer.errors.back(), c.expected == StepOutcome::NotVerified
                                                  ? L"The update package could not be verified."
                                                  : L"Failure to download update file.");
        }
        if (c.withPartial && !c.installed) {
            // An error page leaves the partial download as it was, for a later attempt.
            EXPECT_EQ(fs::file_size(tmp / "data/newversion.tmp"), 300000u);
        }
    }

    // The resume request carries the header exactly as "Range:bytes=N-" after Cache-Control.
    Teska::HttpClient client;
    auto log = client.Get(W(server.Url("/__log")));
    std::string text;
    char buffer[4096];
    while (std::size_t n = log->Read(buffer, sizeof buffer)) text.append(buffer, n);
    EXPECT_NE(text.find("\"Cache-Control: no-cache\", \"Range:bytes=300000-\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"User-Agent: Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 5.1; Acoo Browser)\""),
              std::string::npos);
}

TEST_F(UpdateDownload, DamagedOrUnreachablePackagesAreNeverInstalled) {
    // A package whose stored data no longer matches its checksum.
    std::string bytes = ReadAll(a.path);
    std::size_t at = bytes.find(a.big.substr(500000, 16));
    ASSERT_NE(at, std::string::npos);
    bytes[at] = static_cast<char>(~bytes[at]);
    WriteAll(tmp / "www/pkg.zip", bytes);
    NginxServer nginx;
    ASSERT_TRUE(nginx.Start(tmp / "nginx/", tmp / "www")) << nginx.ErrorLog();
    env.args.packageUrl = W(nginx.Url("/pkg.zip"));
    std::atomic<bool> paused{false};
    EXPECT_EQ(RunSettled(paused), StepOutcome::NotVerified);
    ExpectUntouched();
    EXPECT_FALSE(fs::exists(tmp / "data/newversion.tmp")) << "a damaged download is deleted";
    EXPECT_FALSE(observer.pauseEnabled);
    EXPECT_EQ(observer.size, L"");

    // Nobody listens (the port is held by this test, bound but not listening): the attempt is to
    // be retried, and the partial file survives.
    WriteAll(tmp / "data/newversion.tmp", "partial");
    ReservedPort closed;
    ASSERT_GT(closed.Port(), 0);
    env.args.packageUrl = W("http://127.0.0.1:" + std::to_string(closed.Port()) + "/pkg.zip");
    DownloadStep step(env, observer);
    EXPECT_EQ(step.Run(paused), StepOutcome::RetryLater);
    EXPECT_EQ(ReadAll(tmp / "data/newversion.tmp"), "partial");
    ExpectUntouched();
}

TEST(HttpClientLoopback, HeadersLengthsAndChunkedBodies) {
    ScratchFolder tmp;
    Package a = MakePackage(tmp / "a.zip", 5);
    ScriptedServer server;
    ASSERT_TRUE(server.Start(a.path, a.path, tmp / "server.log"));
    Teska::HttpClient client;
    auto r = client.Get(W(server.Url("/headers")));
    EXPECT_EQ(r->StatusCode(), 200);
    EXPECT_EQ(r->Header(L"set-cookie", 0), L"a=1");
    EXPECT_EQ(r->Header(L"Set-Cookie", 1), L"b=2");
    EXPECT_FALSE(r->Header(L"Set-Cookie", 2));
    EXPECT_FALSE(r->Validator());
    std::uint64_t length = 0;
    EXPECT_TRUE(r->ContentLength(length));
    EXPECT_EQ(length, 5u);

    r = client.Get(W(server.Url("/chunked")));
    EXPECT_FALSE(r->ContentLength(length));
    std::string body;
    std::vector<char> buffer(7777);  // odd sizes cut across the server's chunks
    while (std::size_t n = r->Read(buffer.data(), buffer.size())) body.append(buffer.data(), n);
    EXPECT_TRUE(r->Completed());
    EXPECT_TRUE(body == ReadAll(a.path));

    r = client.Get(W(server.Url("/drop")));
    body.clear();
    while (std::size_t n = r->Read(buffer.data(), buffer.size())) body.append(buffer.data(), n);
    EXPECT_TRUE(r->ReadFailed()) << "a body shorter than its Content-Length is a failed read";
    EXPECT_EQ(body.size(), ReadAll(a.path).size() / 2);
}

TEST(HttpClientLoopback, HttpsCertificatesAreVerified) {
    ScratchFolder tmp;
    fs::create_directories(tmp / "www");
    fs::create_directories(tmp / "nginx");
    WriteAll(tmp / "www/file.txt", "secret");
    std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 -keyout " +
                       (tmp / "key.pem") + " -out " + (tmp / "cert.pem") + " >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0) QUILMER_SKIP_OR_FAIL_IN_CI("openssl cannot make a certificate");
    NginxServer nginx;
    ASSERT_TRUE(nginx.Start(tmp / "nginx/", tmp / "www", tmp / "cert.pem", tmp / "key.pem"))
        << nginx.ErrorLog();
    Teska::HttpClient client;
    auto r = client.Get(W(nginx.Url("/file.txt", "HTTPS")));
    EXPECT_EQ(r->StatusCode(), 0) << "a self-signed certificate is refused";
    EXPECT_TRUE(r->ReadFailed());
    EXPECT_NE(r->ErrorText().find("certificate"), std::string::npos) << r->ErrorText();
    // The same server is reached over TLS at all: plain http to it gets nginx's complaint.
    r = client.Get(W(nginx.Url("/file.txt")));
    EXPECT_EQ(r->StatusCode(), 400);
}

TEST(UpdateCheckLoopback, DescriptorIsFetchedAndAnnouncedOnlyWhenComplete) {
    ScratchFolder tmp;
    fs::create_directories(tmp / "www");
    fs::create_directories(tmp / "nginx");
    const std::string descriptor = "[main]\nversion=v2.0\nreleasedate=Jan 1 2012\n";
    WriteAll(tmp / "www/quilmerver.ini", descriptor);
    ASSERT_TRUE(SignPackage(tmp / "www/quilmerver.ini"));  // the maker signs the descriptor too
    NginxServer nginx;
    ASSERT_TRUE(nginx.Start(tmp / "nginx/", tmp / "www")) << nginx.ErrorLog();

    ManualEventLoop loop;
    std::vector<int> ready;
    std::wstring path = W(tmp / "quilmerver.ini");
    WriteAll(tmp / "quilmerver.ini", "stale");
    auto window = std::make_shared<int>(0);
    UpdateCheck good(loop, path, W(nginx.Url("/quilmerver.ini?lang=English&ver=v1.9")), window,
                     [&](int f) { ready.push_back(f); });
    EXPECT_EQ(good.Run(), 0);
    EXPECT_TRUE(ready.empty()) << "the notice arrives on the loop thread";
    loop.RunPending();
    EXPECT_EQ(ready, std::vector<int>{1});
    EXPECT_EQ(ReadAll(tmp / "quilmerver.ini"), descriptor);

    auto missing = std::make_shared<UpdateCheck>(loop, path, W(nginx.Url("/nothing.ini")), window,
                                                 [&](int f) { ready.push_back(f); });
    auto worker = UpdateCheck::MakeWorker(missing);
    ASSERT_TRUE(worker->Start() || worker->QueryState() == WorkerThread::kEnded);
    worker->StopAndWait();
    EXPECT_EQ(worker->ExitCode(), 1);
    loop.RunPending();
    EXPECT_EQ(ready.size(), 1u);
    EXPECT_FALSE(fs::exists(tmp / "quilmerver.ini")) << "an error page is not kept as the descriptor";

    // A body that breaks off before its Content-Length: nothing is announced and nothing of it is
    // kept, neither as the descriptor nor as a half-written side file.
    WriteAll(tmp / "served.ini", descriptor);
    ASSERT_TRUE(SignPackage(tmp / "served.ini"));
    ScriptedServer server;  // its /drop sends half of the first download, then hangs up
    ASSERT_TRUE(server.Start(tmp / "served.ini", tmp / "served.ini", tmp / "server.log"));
    WriteAll(tmp / "quilmerver.ini", "stale");
    UpdateCheck truncated(loop, path, W(server.Url("/drop")), window, [&](int f) { ready.push_back(f); });
    EXPECT_EQ(truncated.Run(), 1);
    loop.RunPending();
    EXPECT_EQ(ready.size(), 1u) << "a truncated descriptor was announced";
    EXPECT_FALSE(fs::exists(tmp / "quilmerver.ini"));
    EXPECT_FALSE(fs::exists(tmp / "quilmerver.ini.download"));
    // The same address complete the second time: announced, and the file is the whole descriptor.
    EXPECT_EQ(truncated.Run(), 0);
    loop.RunPending();
    EXPECT_EQ(ready, (std::vector<int>{1, 1}));
    EXPECT_EQ(ReadAll(tmp / "quilmerver.ini"), descriptor);
}

TEST(UpdateCheckLoopback, ADescriptorOverOneMebibyteIsNoDescriptor) {
    ScratchFolder tmp;
    // 2 MiB of descriptor-looking text: announced, unannounced, chunked, and announced short.
    std::string big = "[main]\nversion=v9.0\n";
    big += std::string(2 * 1024 * 1024, ';');
    WriteAll(tmp / "big.ini", big);
    ScriptedServer server;
    ASSERT_TRUE(server.Start(tmp / "big.ini", tmp / "big.ini", tmp / "server.log"));
    ManualEventLoop loop;
    std::vector<int> ready;
    auto window = std::make_shared<int>(0);
    std::wstring path = W(tmp / "quilmerver.ini");
    for (const char* route : {"/ok", "/nolength", "/chunked"}) {
        SCOPED_TRACE(route);
        UpdateCheck check(loop, path, W(server.Url(route)), window, [&](int f) { ready.push_back(f); });
        EXPECT_EQ(check.Run(), 1);
        loop.RunPending();
        EXPECT_TRUE(ready.empty()) << "an oversized descriptor was announced";
        EXPECT_FALSE(fs::exists(tmp / "quilmerver.ini"));
        EXPECT_FALSE(fs::exists(tmp / "quilmerver.ini.download"));
    }
    // A server that announces 1000 bytes and sends 2 MiB: no more than the announced bytes are kept.
    UpdateCheck lying(loop, path, W(server.Url("/lying")), window, [&](int f) { ready.push_back(f); });
    lying.Run();
    loop.RunPending();
    // Unsigned, so it is discarded at once; were it kept, it would hold no more than announced.
    if (fs::exists(tmp / "quilmerver.ini")) {
        EXPECT_LE(fs::file_size(tmp / "quilmerver.ini"), 1000u);
    }
    EXPECT_FALSE(fs::exists(tmp / "quilmerver.ini.download"));

    // The limit itself: a body of exactly 1 MiB is a descriptor.
    std::string edge = "[main]\nversion=v9.0\n";
    edge += std::string(kDescriptorSizeLimit - edge.size(), ';');
    WriteAll(tmp / "edge.ini", edge);
    ScriptedServer edgeServer;
    ASSERT_TRUE(edgeServer.Start(tmp / "edge.ini", tmp / "edge.ini", tmp / "edge-server.log"));
    std::string error;
    EXPECT_TRUE(DownloadToFile(W(edgeServer.Url("/nolength")), path, nullptr, &error, kDescriptorSizeLimit)) << error;
    EXPECT_EQ(fs::file_size(tmp / "quilmerver.ini"), kDescriptorSizeLimit);
}

namespace {

class RecordingView : public UpdaterView {
public:
    void SetStatusText(const std::wstring& text, bool isError) override {
        if (!isError)
            ++progressLines;
        else
            errors.push_back(text);
    }
    void SetPauseLabel(const std::wstring& text) override { pauseLabel = text; }
    void EndDialog(int result) override { ended = result; }
    int progressLines = 0;
    std::vector<std::wstring> errors;
    std::wstring pauseLabel;
    int ended = 0;
};

// Runs the loop's queued work until cond holds or 20 s pass.
template <typename Cond>
bool PumpUntil(ManualEventLoop& loop, Cond cond) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        loop.RunPending();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace

TEST_F(UpdateDownload, ControllerPausesResumesAndRetriesOnTheLoop) {
    ScriptedServer server;  // its /hold path stops sending until the test has paused
    ASSERT_TRUE(server.Start(a.path, b.path, tmp / "server.log"));
    env.args.packageUrl = W(server.Url("/hold"));
    ASSERT_TRUE(OfferPackage(env, a.path));
    ManualEventLoop loop;
    RecordingView view;
    UpdaterController controller(loop, env, view);
    controller.Start();
    loop.Advance(999);
    EXPECT_FALSE(controller.IsStepRunning());
    loop.Advance(1);
    EXPECT_TRUE(controller.IsStepRunning());
    EXPECT_FALSE(controller.IsTimerArmed()) << "the timer rests while a step runs";

    ASSERT_TRUE(PumpUntil(loop, [&] { return view.progressLines > 20 || !controller.IsStepRunning(); }));
    ASSERT_TRUE(controller.IsStepRunning()) << "the held transfer ended by itself";
    controller.TogglePause();
    EXPECT_EQ(view.pauseLabel, L"&Resume");
    ASSERT_TRUE(PumpUntil(loop, [&] { return !controller.IsStepRunning(); }));
    EXPECT_EQ(controller.LastOutcome(), StepOutcome::Paused);
    ASSERT_TRUE(fs::exists(tmp / "data/newversion.tmp"));
    EXPECT_LT(fs::file_size(tmp / "data/newversion.tmp"), fs::file_size(a.path));
    EXPECT_FALSE(controller.IsTimerArmed());
    {
        Teska::HttpClient release;  // the held request may end now; nobody reads it any more
        EXPECT_EQ(release.Get(W(server.Url("/__release")))->StatusCode(), 200);
    }

    controller.TogglePause();
    EXPECT_EQ(view.pauseLabel, L"Pau&se");
    loop.Advance(1000);
    ASSERT_TRUE(PumpUntil(loop, [&] { return view.ended != 0; }));
    EXPECT_EQ(view.ended, 2);
    EXPECT_EQ(controller.LastOutcome(), StepOutcome::Installed);
    ExpectInstalled(a);

    // Nobody listening: the step fails and the timer is armed for another try.
    RecordingView view2;
    ReservedPort closed;
    ASSERT_GT(closed.Port(), 0);
    env.args.packageUrl = W("http://127.0.0.1:" + std::to_string(closed.Port()) + "/pkg.zip");
    UpdaterController retrying(loop, env, view2);
    retrying.Start();
    loop.Advance(1000);
    ASSERT_TRUE(PumpUntil(loop, [&] { return !retrying.IsStepRunning(); }));
    EXPECT_EQ(retrying.LastOutcome(), StepOutcome::RetryLater);
    EXPECT_TRUE(retrying.IsTimerArmed());
    EXPECT_EQ(view2.errors, std::vector<std::wstring>{L"Failure to download update file."});
    retrying.Cancel();
    EXPECT_EQ(view2.ended, 2);
    EXPECT_FALSE(retrying.IsTimerArmed());
}

TEST(UpdaterStart, TheSevenArgumentsArriveIntact) {
    ScratchFolder tmp;
    // A stand-in updater that writes each argument it receives on a line of its own.
    WriteAll(tmp / "updater",
             "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.args.tmp\"\n"
             "mv \"$0.args.tmp\" \"$0.args\"\n");
    ::chmod((tmp / "updater").c_str(), 0755);
    UpdaterLaunch launch{L"http://dl.example/soft.php?type=joiner", L"Chinese Simplified",
                         W(tmp / "app data/"), L"v1.9", L"v2.0"};
    ASSERT_TRUE(StartUpdater(W(tmp.Native()), launch));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!fs::exists(tmp / "updater.args") && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::string expected;
    for (const auto& arg : UpdaterArguments(launch)) expected += ToUtf8(arg) + "\n";
    EXPECT_EQ(ReadAll(tmp / "updater.args"), expected);
    EXPECT_FALSE(StartUpdater(W(tmp / "missing/"), launch));
}

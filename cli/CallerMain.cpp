// quilmer-caller: the calling program of a handed-over join, for scripts and tests. It registers
// a window of its own on the window protocol, starts quilmer with a job built from its
// arguments, waits for the notice that the join is done and writes the notice's bytes to
// standard output. Messages go to standard error.
//
// Exit status: 0 notice received; 1 bad arguments or quilmer could not be started; 3 quilmer
// ended without a notice (the join failed, was stopped, or the job was refused); 4 time-out.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "app/core/CallerNotice.h"
#include "app/core/HandOver.h"
#include "foundation/FileUtil.h"
#include "foundation/PlainEventLoop.h"
#include "foundation/Utf8.h"
#include "foundation/Version.h"
#include "foundation/protocol/ProtocolWindow.h"

extern char** environ;

namespace quilmer {
namespace {

constexpr int kExitNotice = 0;
constexpr int kExitUsage = 1;
constexpr int kExitNoNotice = 3;
constexpr int kExitTimeout = 4;

const char* kUsage =
    "Usage: quilmer-caller -o OUTPUT [options] CLIP...\n"
    "Hands quilmer a join of the clips into OUTPUT and waits until it is done.\n"
    "  -o, --output FILE      the joined file (its extension names the format)\n"
    "  -u, --url TEXT         text quilmer echoes back in its notice (\"FlvUrl\")\n"
    "  -l, --language NAME    language of quilmer's window (default English)\n"
    "  -q, --quilmer PROGRAM  the program to start (default: quilmer beside this program)\n"
    "  -t, --timeout SECONDS  how long to wait for the notice (default 3600)\n"
    "  -c, --class NAME       this program's window class (default \"Quilmer Caller <pid>\")\n"
    "  -m, --message NAME     this program's registered message (default UWM_QuilmerCaller_JobDone)\n"
    "  -x, --hex              write the notice as hexadecimal digits and a line feed\n"
    "  -h, --help             this text\n"
    "      --version          print the version and exit\n"
    "The notice's bytes (the escaped UTF-8 text and a zero byte) go to standard output as they came.\n"
    "Exit status: 0 notice received, 1 bad arguments or start failure, 3 quilmer ended without a\n"
    "notice, 4 time-out.\n";

struct Options {
    std::vector<std::string> clips;
    std::string output;
    std::string url;
    std::string language = "English";
    std::string quilmer;
    std::string windowClass;
    std::string message = "UWM_QuilmerCaller_JobDone";
    long timeoutSeconds = 3600;
    bool hex = false;
    bool help = false;
    bool version = false;
};

bool ParseOptions(int argc, char** argv, Options& o, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) {
                error = arg + " needs a value";
                return false;
            }
            into = argv[++i];
            return true;
        };
        if (arg == "-h" || arg == "--help") {
            o.help = true;
        } else if (arg == "--version") {
            o.version = true;
        } else if (arg == "-o" || arg == "--output") {
            if (!value(o.output)) return false;
        } else if (arg == "-u" || arg == "--url") {
            if (!value(o.url)) return false;
        } else if (arg == "-l" || arg == "--language") {
            if (!value(o.language)) return false;
        } else if (arg == "-q" || arg == "--quilmer") {
            if (!value(o.quilmer)) return false;
        } else if (arg == "-c" || arg == "--class") {
            if (!value(o.windowClass)) return false;
        } else if (arg == "-m" || arg == "--message") {
            if (!value(o.message)) return false;
        } else if (arg == "-x" || arg == "--hex") {
            o.hex = true;
        } else if (arg == "-t" || arg == "--timeout") {
            std::string text;
            if (!value(text)) return false;
            char* end = nullptr;
            o.timeoutSeconds = std::strtol(text.c_str(), &end, 10);
            if (text.empty() || *end || o.timeoutSeconds <= 0 || o.timeoutSeconds > 86400 * 7) {
                error = "the time-out must be a number of seconds from 1 to 604800";
                return false;
            }
        } else if (arg == "--") {
            for (++i; i < argc; ++i) o.clips.push_back(argv[i]);
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            error = "unknown option " + arg;
            return false;
        } else {
            o.clips.push_back(arg);
        }
    }
    if (o.help || o.version) return true;
    if (o.output.empty()) {
        error = "no output file (-o)";
        return false;
    }
    if (o.clips.empty()) {
        error = "no clips";
        return false;
    }
    if (o.message.empty()) {
        error = "the message name is empty";
        return false;
    }
    return true;
}

std::string ProgramFolder() {
    char buffer[4096];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return "./";
    std::string path(buffer, static_cast<std::size_t>(n));
    return path.substr(0, path.rfind('/') + 1);
}

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

int Run(int argc, char** argv) {
    Options o;
    std::string error;
    if (!ParseOptions(argc, argv, o, error)) {
        std::cerr << "quilmer-caller: " << error << "\n" << kUsage;
        return kExitUsage;
    }
    if (o.help) {
        std::cout << kUsage;
        return 0;
    }
    if (o.version) {
        std::cout << ToUtf8(FormatVersion(3)) << "\n";
        return 0;
    }
    if (o.quilmer.empty()) o.quilmer = ProgramFolder() + "quilmer";
    if (o.windowClass.empty()) o.windowClass = "Quilmer Caller " + std::to_string(::getpid());

    std::vector<std::wstring> clips;
    for (const auto& c : o.clips) clips.push_back(WidePath(c));
    std::wstring job = BuildHandOverArgument(clips, WidePath(o.output), WidePath(o.windowClass),
                                             WidePath(o.message), WidePath(o.language), WidePath(o.url));
    if (job.empty()) {
        std::cerr
            << "quilmer-caller: a clip, the output or a text is not valid UTF-8; a job cannot carry it\n";
        return kExitUsage;
    }

    PlainEventLoop loop;
    std::uint32_t messageId = RegisteredMessageId(WidePath(o.message));
    std::string notice;
    bool noticed = false;
    bool childEnded = false;
    TimerId grace = 0;
    ProtocolWindow window(loop, WidePath(o.windowClass), [&](const WindowRequest& request) -> std::int64_t {
        if (request.kind == RequestKind::Message)
            return request.value == messageId ? static_cast<std::int64_t>(messageId) : 0;
        if (request.kind == RequestKind::CopyData && request.value == kCallerNoticeTag && !noticed) {
            noticed = true;
            notice = request.bytes;
            if (childEnded) {
                loop.Quit(kExitNotice);
            } else if (!grace) {
                // The notice is what counts; wait a little for quilmer to end, to tell how it ended.
                grace = loop.StartTimer(30000, [&](std::uint32_t) {
                    loop.Quit(kExitNotice);
                    return false;
                });
            }
            return 1;
        }
        return 0;
    });
    if (!window.IsRegistered()) {
        std::cerr << "quilmer-caller: cannot register a window: " << window.Error() << "\n";
        return kExitUsage;
    }

    std::string jobBytes = NativePath(job);
    std::vector<char*> args{o.quilmer.data(), jobBytes.data(), nullptr};
    pid_t pid = 0;
    // Standard output carries only the notice: what quilmer prints goes to standard error.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, 2, 1);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    int rc = ::posix_spawn(&pid, o.quilmer.c_str(), &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        std::cerr << "quilmer-caller: cannot start " << o.quilmer << ": " << std::strerror(rc) << "\n";
        return kExitUsage;
    }
    std::cerr << "quilmer-caller: started " << o.quilmer << " (process " << pid << ")\n";

    std::thread([&loop, pid, &childEnded, &noticed] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        loop.Post([&loop, status, &childEnded, &noticed] {
            childEnded = true;
            if (WIFEXITED(status))
                std::cerr << "quilmer-caller: quilmer ended with exit code " << WEXITSTATUS(status) << "\n";
            else
                std::cerr << "quilmer-caller: quilmer ended by signal " << WTERMSIG(status) << "\n";
            loop.Quit(noticed ? kExitNotice : kExitNoNotice);
        });
    }).detach();

    loop.StartTimer(static_cast<std::uint32_t>(o.timeoutSeconds * 1000), [&](std::uint32_t) {
        if (!noticed) {
            std::cerr << "quilmer-caller: no notice within " << o.timeoutSeconds << " s; quilmer (process "
                      << pid << ") is left running\n";
            loop.Quit(kExitTimeout);
        }
        return false;
    });

    int code = loop.Run();
    window.Unregister();
    if (noticed) {
        if (o.hex) {
            std::cout << Hex(notice) << "\n";
        } else {
            std::cout.write(notice.data(), static_cast<std::streamsize>(notice.size()));
        }
        std::cout.flush();
    } else if (code == kExitNoNotice) {
        std::cerr << "quilmer-caller: quilmer ended without a notice\n";
    }
    // The waiting thread may still be blocked on a quilmer that outlives us; it ends with us.
    std::_Exit(std::cout.good() ? code : kExitUsage);
}

}  // namespace
}  // namespace quilmer

int main(int argc, char** argv) { return quilmer::Run(argc, argv); }

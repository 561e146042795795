#pragma once
// HTTP servers on 127.0.0.1 for the download tests: nginx with a generated configuration, and
// the scripted misbehaving server. Each runs under coreutils' `timeout`, so even a test process
// that dies without cleaning up leaves no server behind for long; the destructor stops it.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TestSupport.h"

extern char** environ;

namespace quilmer::testing {

inline bool CanConnect(int port) {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(s);
    return ok;
}

using quilmer::test::ReservedPort;

class ServerProcess {
public:
    ServerProcess() = default;
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;
    ~ServerProcess() { Stop(); }

    // Starts the program under `timeout lifetimeSeconds`. With captureLine, waits up to 30 s
    // for the first line of its standard output and stores it.
    bool Start(std::vector<std::string> argv, int lifetimeSeconds, std::string* captureLine = nullptr,
               const std::string& stderrFile = "/dev/null") {
        argv.insert(argv.begin(), {"timeout", "-k", "5", std::to_string(lifetimeSeconds)});
        int out[2];
        if (::pipe(out) != 0) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addopen(&actions, 2, stderrFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0644);
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        int rc = ::posix_spawnp(&pid_, "timeout", &actions, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        if (rc != 0) {
            ::close(out[0]);
            pid_ = -1;
            return false;
        }
        bool ok = true;
        if (captureLine) {
            captureLine->clear();
            auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            while (std::chrono::steady_clock::now() < deadline) {
                pollfd p{out[0], POLLIN, 0};
                if (::poll(&p, 1, 100) <= 0) continue;
                char c;
                if (::read(out[0], &c, 1) != 1) break;
                if (c == '\n') break;
                *captureLine += c;
            }
            ok = !captureLine->empty();
        }
        outFd_ = out[0];
        return ok;
    }

    bool Alive() {
        if (pid_ <= 0) return false;
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        return true;
    }

    void Stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            for (int i = 0; i < 50; ++i) {
                if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                    pid_ = -1;
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            if (pid_ > 0) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
                pid_ = -1;
            }
        }
        if (outFd_ >= 0) ::close(outFd_);
        outFd_ = -1;
    }

private:
    pid_t pid_ = -1;
    int outFd_ = -1;
};

// nginx serving one folder on a loopback port, logging each request's status and Range. The
// port is reserved by this process first and nginx binds it beside the reservation (reuseport),
// so no parallel test can take it in between. Under /held/ the same files are served, but a
// request without Range gets its first MiB and then a trickle (1 KiB/s) that cannot finish
// while a test is still to pause it; a resume (with Range) comes at full speed.
class NginxServer {
public:
    // dir: a scratch folder for configuration and logs; root: the folder served. With a
    // certificate and key, the server speaks HTTPS.
    bool Start(const std::string& dir, const std::string& root, const std::string& certificate = "",
               const std::string& key = "") {
        if (reserved_.Port() <= 0) return false;
        if (TryStart(dir, root, certificate, key)) return true;
        process_.Stop();
        return false;
    }
    std::string Url(const std::string& path, const char* scheme = "http") const {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_) + path;
    }
    std::string AccessLog() const {
        std::ifstream in(dir_ + "access.log");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::string ErrorLog() const {
        std::ifstream in(dir_ + "error.log");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    int Port() const { return port_; }

private:
    bool TryStart(const std::string& dir, const std::string& root, const std::string& certificate,
                  const std::string& key) {
        dir_ = dir;
        ::unlink((dir + "nginx.pid").c_str());
        port_ = reserved_.Port();
        std::string user;
        if (::geteuid() == 0) user = std::string("user ") + ::getpwuid(0)->pw_name + ";\n";
        std::ofstream conf(dir + "nginx.conf");
        conf << user << "worker_processes 1;\n"
             << "error_log " << dir << "error.log;\n"
             << "events { worker_connections 64; }\n"
             << "http {\n"
             << "  log_format ranges '$request_uri $status \"$http_range\" $body_bytes_sent';\n"
             << "  access_log " << dir << "access.log ranges;\n"
             << "  client_body_temp_path " << dir << "body;\n"
             << "  proxy_temp_path " << dir << "proxy;\n"
             << "  fastcgi_temp_path " << dir << "fastcgi;\n"
             << "  uwsgi_temp_path " << dir << "uwsgi;\n"
             << "  scgi_temp_path " << dir << "scgi;\n"
             << "  types { application/zip zip; text/plain ini; }\n"
             << "  map $http_range $held_rate { \"\" 1k; default 0; }\n"
             << "  server { location /moved/ { rewrite ^/moved/(.*)$ /$1 redirect; }\n"
             << "    location /held/ { alias " << root << "/; limit_rate_after 1m; limit_rate $held_rate; }\n"
             << "    listen 127.0.0.1:" << port_ << (certificate.empty() ? "" : " ssl") << " reuseport; root " << root
             << ";"
             << (certificate.empty()
                     ? ""
                     : " ssl_certificate " + certificate + "; ssl_certificate_key " + key + ";")
             << " }\n"
             << "}\n";
        conf.close();
        if (!process_.Start({"nginx", "-e", dir + "error.log", "-p", dir, "-c", dir + "nginx.conf", "-g",
                             "daemon off; pid " + dir + "nginx.pid;"},
                            300, nullptr, dir + "stderr.log"))
            return false;
        // The pid file appears once nginx holds its port; a failed bind ends the process first.
        for (int i = 0; i < 600 && process_.Alive(); ++i) {  // up to 30 s on a busy machine
            if (::access((dir + "nginx.pid").c_str(), F_OK) == 0 && CanConnect(port_)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    ReservedPort reserved_{true};
    ServerProcess process_;
    std::string dir_;
    int port_ = 0;
};

// The scripted server of scripted_server.py.
class ScriptedServer {
public:
    bool Start(const std::string& packageA, const std::string& packageB, const std::string& stderrFile) {
        std::string line;
        if (!process_.Start({"python3", std::string(QUILMER_SOURCE_DIR) + "/tests/update/scripted_server.py",
                             packageA, packageB},
                            300, &line, stderrFile))
            return false;
        port_ = std::atoi(line.c_str());
        return port_ > 0;
    }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

private:
    ServerProcess process_;
    int port_ = 0;
};

}  // namespace quilmer::testing

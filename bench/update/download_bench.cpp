// Download rate of the update HTTP client on loopback, against curl fetching the same file from
// the same nginx. Run by hand: see README.md.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "tests/update/LoopbackServers.h"
#include "update/HttpClient.h"

using namespace quilmer;
using Clock = std::chrono::steady_clock;

namespace {

double ClientSeconds(const std::string& url, std::size_t chunk, std::uint64_t expected) {
    auto start = Clock::now();
    Teska::HttpClient client;
    auto response = client.Get(std::wstring(url.begin(), url.end()));
    std::vector<char> buffer(chunk);
    std::uint64_t total = 0;
    std::FILE* sink = std::fopen("/dev/null", "wb");
    while (std::size_t n = response->Read(buffer.data(), buffer.size())) {
        std::fwrite(buffer.data(), 1, n, sink);
        total += n;
    }
    std::fclose(sink);
    double s = std::chrono::duration<double>(Clock::now() - start).count();
    if (total != expected || !response->Completed()) {
        std::fprintf(stderr, "client download incomplete: %llu of %llu\n",
                     static_cast<unsigned long long>(total), static_cast<unsigned long long>(expected));
        std::exit(1);
    }
    return s;
}

double CurlSeconds(const std::string& url) {
    auto start = Clock::now();
    std::string command = "curl -s -f -o /dev/null '" + url + "'";
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "curl failed\n");
        std::exit(1);
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Best(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200;
    int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    std::string dir = (std::filesystem::temp_directory_path() / "quilmer-bench-XXXXXX").string();
    if (!::mkdtemp(dir.data())) return 1;
    dir += "/";
    std::filesystem::create_directories(dir + "www");
    std::filesystem::create_directories(dir + "nginx");
    {
        std::ofstream out(dir + "www/package.zip", std::ios::binary);
        std::mt19937_64 gen(42);
        std::vector<std::uint64_t> block(1 << 17);  // 1 MiB
        for (std::uint64_t i = 0; i < megabytes; ++i) {
            for (auto& w : block) w = gen();
            out.write(reinterpret_cast<const char*>(block.data()),
                      static_cast<std::streamsize>(block.size() * 8));
        }
    }
    std::uint64_t size = megabytes << 20;
    int status = 0;
    {
        testing::NginxServer nginx;
        if (!nginx.Start(dir + "nginx/", dir + "www")) {
            std::fprintf(stderr, "nginx did not start:\n%s\n", nginx.ErrorLog().c_str());
            status = 1;
        } else {
            std::string url = nginx.Url("/package.zip");
            std::vector<double> client10k, client64k, curl;
            CurlSeconds(url);  // warm the page cache
            for (int r = 0; r < rounds; ++r) {
                client10k.push_back(ClientSeconds(url, 10240, size));
                client64k.push_back(ClientSeconds(url, 65536, size));
                curl.push_back(CurlSeconds(url));
            }
            double mb = static_cast<double>(size) / 1048576.0;
            std::printf("file: %llu MiB over loopback from nginx, best of %d rounds\n",
                        static_cast<unsigned long long>(megabytes), rounds);
            std::printf("client, 10240-byte reads (as the updater): %8.1f MiB/s\n", mb / Best(client10k));
            std::printf("client, 65536-byte reads:                  %8.1f MiB/s\n", mb / Best(client64k));
            std::printf("curl -o /dev/null:                         %8.1f MiB/s\n", mb / Best(curl));
            std::printf("ratio client(10240)/curl: %.2f\n", Best(curl) / Best(client10k));
            std::printf("ratio client(65536)/curl: %.2f\n", Best(curl) / Best(client64k));
        }
    }
    std::filesystem::remove_all(dir);
    return status;
}

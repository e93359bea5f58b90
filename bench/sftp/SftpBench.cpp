// bench_sftp [MiB] [rounds]: one file of MiB (default 256) downloaded and uploaded through
// TSftpSession and through OpenSSH's `sftp -b` against the same sshd on 127.0.0.1, in
// alternating order each round. Both sides log in with the same ed25519 key and their times
// include connecting. Prints MB/s per round, the medians and our ratio to sftp.
#include "remote/sftp/SftpSession.h"
#include "servers/ChildProcess.h"
#include "servers/SshdServer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/resource.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

void WriteRandomFile(const std::string& path, uint64_t size) {
    std::ofstream out(path, std::ios::binary);
    std::vector<uint64_t> block(1 << 17);
    uint64_t x = 0x9e3779b97f4a7c15ull;
    for (uint64_t written = 0; written < size;) {
        for (uint64_t& word : block) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            word = x;
        }
        const uint64_t n = std::min<uint64_t>(size - written, block.size() * 8);
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
        written += n;
    }
}

double Seconds(const std::function<void()>& work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void Check(const std::string& path, uint64_t size, const char* who) {
    if (!fs::exists(path) || fs::file_size(path) != size) {
        std::fprintf(stderr, "%s: %s has the wrong size\n", who, path.c_str());
        std::exit(1);
    }
}

} // namespace

int main(int argc, char** argv) {
    const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 256;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    if (const std::string why = testsrv::SshdServer::Unavailable(); !why.empty()) {
        std::fprintf(stderr, "bench_sftp: %s\n", why.c_str());
        return 1;
    }
    const uint64_t size = mib << 20;
    const std::string dir = testsrv::MakeTempDir("tavrin-bench-sftp-");
    const std::string root = dir + "/root", local = dir + "/local";
    fs::create_directories(root);
    fs::create_directories(local);
    ::setenv("HOME", dir.c_str(), 1); // no known_hosts of the user is read or written
    ::setenv("XDG_STATE_HOME", (dir + "/state").c_str(), 1);
    WriteRandomFile(root + "/big", size);
    WriteRandomFile(local + "/big", size);
    const std::string key = dir + "/key";
    testsrv::MakeSshKey(key, "ed25519");

    int status = 0;
    {
        testsrv::SshdServer server(
            {.root = root, .authorizedKeys = {testsrv::ReadWholeFile(key + ".pub")}});
        tavrin::sftp::TSftpSettings settings;
        settings.Host = "127.0.0.1";
        settings.Port = server.Port();
        settings.Username = server.User();
        settings.KeyFile = key;
        settings.OwnKnownHosts = tavrin::sftp::DefaultOwnKnownHosts();
        auto ours = [&](bool download) {
            tavrin::sftp::TSftpSession session;
            session.Connect(settings);
            if (download)
                session.Download("big", local + "/ours");
            else
                session.Upload(local + "/big", "ours");
            session.Close();
        };
        auto theirs = [&](bool download) {
            const std::string batch = dir + "/batch";
            testsrv::WriteWholeFile(batch, download ? "get big " + local + "/theirs\n"
                                                    : "put " + local + "/big theirs\n");
            std::string output;
            const int rc = testsrv::RunCommand(
                {"/usr/bin/sftp", "-q", "-F", "/dev/null", "-o", "BatchMode=yes", "-o",
                 "StrictHostKeyChecking=no", "-o", "UserKnownHostsFile=/dev/null", "-i", key, "-P",
                 std::to_string(server.Port()), "-b", batch, server.User() + "@127.0.0.1"},
                output, std::chrono::minutes(10));
            if (rc != 0) {
                std::fprintf(stderr, "sftp failed (%d): %s\n", rc, output.c_str());
                std::exit(1);
            }
        };
        std::vector<double> oursDown, theirsDown, oursUp, theirsUp;
        const double mb = static_cast<double>(size) / 1e6;
        std::printf("%llu MiB, %d rounds, sshd on 127.0.0.1:%u\n",
                    static_cast<unsigned long long>(mib), rounds, server.Port());
        for (int round = 0; round < rounds; ++round) {
            for (const bool download : {true, false}) {
                double ourTime = 0, theirTime = 0;
                if (round % 2 == 0) {
                    ourTime = Seconds([&] { ours(download); });
                    theirTime = Seconds([&] { theirs(download); });
                } else {
                    theirTime = Seconds([&] { theirs(download); });
                    ourTime = Seconds([&] { ours(download); });
                }
                Check(download ? local + "/ours" : root + "/ours", size, "tavrin");
                Check(download ? local + "/theirs" : root + "/theirs", size, "sftp");
                (download ? oursDown : oursUp).push_back(mb / ourTime);
                (download ? theirsDown : theirsUp).push_back(mb / theirTime);
                std::printf("round %d %-8s tavrin %8.1f MB/s   sftp %8.1f MB/s   ratio %.2f\n",
                            round + 1, download ? "download" : "upload", mb / ourTime,
                            mb / theirTime, theirTime / ourTime);
            }
        }
        std::printf("median   download tavrin %8.1f MB/s   sftp %8.1f MB/s   ratio %.2f\n",
                    Median(oursDown), Median(theirsDown), Median(oursDown) / Median(theirsDown));
        std::printf("median   upload   tavrin %8.1f MB/s   sftp %8.1f MB/s   ratio %.2f\n",
                    Median(oursUp), Median(theirsUp), Median(oursUp) / Median(theirsUp));
        struct rusage usage {};
        ::getrusage(RUSAGE_SELF, &usage);
        std::printf("peak RSS of this process: %.1f MB\n", usage.ru_maxrss / 1024.0);
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return status;
}

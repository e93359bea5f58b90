// Throughput against peers on 127.0.0.1, 1 GiB each way in alternating rounds so both see
// the same machine state: tavrin-ftp against curl driving vsftpd, plain and TLS; our SFTP
// layer against OpenSSH's sftp driving sshd (SftpRows.cpp). Prints the medians, the ratio
// ours/peer and our peak memory (the child's maximum resident set size from wait4).
//
//   bench_transfer [ROUNDS] [SIZE_MIB] [plain|tls|ftp|sftp|all] [auto|tool|layer]
// The last word picks our SFTP side: tavrin-ftp --sftp, our SFTP layer alone, or (auto) the
// tool when this build's tool speaks SFTP.
// Build it in a release build (-DCMAKE_BUILD_TYPE=Release) for figures worth comparing.
// It runs vsftpd itself (as root, anonymous login into a private root folder, uploads into a
// folder owned by "daemon"), so the FTP rows need no prepared account; the SFTP rows use the
// test account of tests/servers/prepare.

#include "TransferRows.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using bench::Run;
using bench::RunResult;

using Clock = std::chrono::steady_clock;
namespace stdfs = std::filesystem;

bool SameSize(const std::string& a, const std::string& b) {
    std::error_code ignored;
    return stdfs::file_size(a, ignored) == stdfs::file_size(b, ignored);
}

// True when something on 127.0.0.1:port accepts a connection and says "220".
bool Greets(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool greeted = false;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        timeval limit{2, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        char buffer[4] = {};
        greeted = ::recv(fd, buffer, 3, MSG_WAITALL) == 3 && std::string(buffer, 3) == "220";
    }
    ::close(fd);
    return greeted;
}

// vsftpd in the foreground on a free port of 127.0.0.1, stopped by its own process id.
class PrivateVsftpd {
public:
    PrivateVsftpd(const stdfs::path& work, bool tls) {
        port_ = static_cast<uint16_t>(20000 + getpid() % 20000);
        stdfs::create_directories(work / "empty");
        stdfs::create_directories(work / "root" / "up");
        if (::chown((work / "root" / "up").c_str(), 1, 1) != 0) // daemon writes uploads
            throw std::runtime_error("chown failed (run as root)");
        const std::string config = (work / "vsftpd.conf").string();
        std::ofstream out(config);
        out << "listen=YES\nlisten_address=127.0.0.1\nlisten_port=" << port_
            << "\nbackground=NO\nanonymous_enable=YES\nlocal_enable=NO\nno_anon_password=YES"
            << "\nftp_username=daemon\nanon_root=" << (work / "root").string()
            << "\nsecure_chroot_dir=" << (work / "empty").string()
            << "\nwrite_enable=YES\nanon_upload_enable=YES\nseccomp_sandbox=NO"
            << "\npasv_min_port=" << port_ + 1 << "\npasv_max_port=" << port_ + 40
            << "\nxferlog_enable=NO\n";
        if (tls) {
            const std::string cert = (work / "cert.pem").string();
            const std::string key = (work / "key.pem").string();
            RunResult made =
                Run({"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                     key, "-out", cert, "-days", "1", "-subj", "/CN=127.0.0.1"});
            if (!made.ok)
                throw std::runtime_error("openssl req failed");
            out << "ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=YES\n"
                << "force_anon_data_ssl=YES\nrsa_cert_file=" << cert
                << "\nrsa_private_key_file=" << key << "\n";
        }
        out.close();
        char* args[] = {const_cast<char*>("/usr/sbin/vsftpd"), const_cast<char*>(config.c_str()),
                        nullptr};
        if (posix_spawn(&pid_, args[0], nullptr, nullptr, args, environ) != 0)
            throw std::runtime_error("cannot start vsftpd");
        // Bounded wait until it answers.
        for (int attempt = 0; attempt < 100; ++attempt) {
            if (Greets(port_))
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        Stop();
        throw std::runtime_error("vsftpd did not come up");
    }
    ~PrivateVsftpd() { Stop(); }
    uint16_t Port() const { return port_; }
    void Stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

private:
    pid_t pid_ = -1;
    uint16_t port_ = 0;
};

void Bench(bool tls, int rounds, size_t mib) {
    const stdfs::path work =
        stdfs::temp_directory_path() / ("tavrin-bench-" + std::to_string(getpid()));
    const bench::ScratchFolder scratch(work.string());
    stdfs::create_directories(work / "root");
    stdfs::create_directories(work / "local");
    const std::string remoteName = "big.bin";
    const std::string source = (work / "local" / "source.bin").string();
    bench::WriteRandomFile(source, static_cast<uint64_t>(mib) << 20);
    stdfs::copy_file(source, work / "root" / remoteName);
    stdfs::permissions(work / "root" / remoteName, stdfs::perms::owner_all |
                                                       stdfs::perms::group_read |
                                                       stdfs::perms::others_read);

    PrivateVsftpd server(work, tls);
    const std::string port = std::to_string(server.Port());
    const std::string url = "ftp://127.0.0.1:" + port + "/";
    const std::string user = "anonymous:x";
    const double megabytes = static_cast<double>(mib) * 1048576.0 / 1e6;

    std::vector<std::string> tool = {TAVRIN_FTP_TOOL};
    if (tls)
        tool.push_back("--tls");
    for (const std::string& a :
         {std::string("127.0.0.1"), port, std::string("anonymous"), std::string("x")})
        tool.push_back(a);
    std::vector<std::string> curl = {"/usr/bin/curl", "-s", "-S", "--user", user};
    if (tls)
        for (const char* a : {"--ssl-reqd", "-k"})
            curl.push_back(a);

    bench::TransferFigures down, up;
    const std::string target = (work / "local" / "got.bin").string();
    for (int round = 0; round < rounds; ++round) {
        // Alternate who goes first so neither always meets a cold or warm cache.
        for (int turn = 0; turn < 2; ++turn) {
            const bool ours = (turn == 0) == (round % 2 == 0);
            stdfs::remove(target);
            std::vector<std::string> argv = ours ? tool : curl;
            if (ours) {
                for (const std::string& a : {std::string("get"), remoteName, target})
                    argv.push_back(a);
            } else {
                argv.push_back(url + remoteName);
                argv.push_back("-o");
                argv.push_back(target);
            }
            RunResult r = Run(argv);
            if (!r.ok || !SameSize(target, source)) {
                ++down.failures;
                continue;
            }
            down.Add(ours, megabytes, r);
        }
        for (int turn = 0; turn < 2; ++turn) {
            const bool ours = (turn == 0) == (round % 2 == 0);
            const std::string name = ours ? "up/tavrin.bin" : "up/curl.bin";
            stdfs::remove(work / "root" / name);
            std::vector<std::string> argv = ours ? tool : curl;
            if (ours) {
                for (const std::string& a : {std::string("put"), source, name})
                    argv.push_back(a);
            } else {
                argv.push_back("-T");
                argv.push_back(source);
                argv.push_back(url + name);
            }
            RunResult r = Run(argv);
            if (!r.ok || !SameSize((work / "root" / name).string(), source)) {
                ++up.failures;
                continue;
            }
            up.Add(ours, megabytes, r);
        }
        std::fflush(stdout);
    }
    const std::string label = tls ? "TLS" : "plain";
    bench::PrintRow(label + " download", down, "tavrin-ftp", "curl", 0.95);
    bench::PrintRow(label + " upload", up, "tavrin-ftp", "curl", 0.95);
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
    const size_t mib = argc > 2 ? static_cast<size_t>(std::atol(argv[2])) : 1024;
    std::string which = argc > 3 ? argv[3] : "all";
    if (which == "both")
        which = "ftp";
    const std::string sftpClient = argc > 4 ? argv[4] : "auto";
    std::printf("%d rounds, %zu MiB, on 127.0.0.1 (medians)\n", rounds, mib);
    try {
        if (which == "plain" || which == "ftp" || which == "all")
            Bench(false, rounds, mib);
        if (which == "tls" || which == "ftp" || which == "all")
            Bench(true, rounds, mib);
        if (which == "sftp" || which == "all") {
#ifdef TAVRIN_WITH_SFTP
            bench::BenchSftp(rounds, mib, sftpClient);
#else
            throw std::runtime_error("built without the SFTP layer or the test servers");
#endif
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_transfer: %s\n", error.what());
        return 1;
    }
    return 0;
}

// Throughput of tavrin-ftp against curl, both driving vsftpd on 127.0.0.1: a 1 GiB download
// and upload, plain and TLS, in alternating rounds so both see the same machine state.
// Prints MB/s per round, the medians, the ratio tavrin/curl, and tavrin-ftp's peak memory
// (the child's maximum resident set size from wait4).
//
//   bench_transfer [ROUNDS] [SIZE_MIB] [plain|tls|both]
// Build it in a release build (-DCMAKE_BUILD_TYPE=Release) for figures worth comparing.
// It runs vsftpd itself (as root, anonymous login into a private root folder, uploads into a
// folder owned by "daemon"), so it needs no prepared account.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <random>
#include <signal.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
namespace stdfs = std::filesystem;

struct RunResult {
    bool ok = false;
    double seconds = 0;
    long peakKiB = 0;
};

// Runs a program to its end; its time and its peak resident memory.
RunResult Run(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    RunResult result;
    const auto start = Clock::now();
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return result;
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) != pid)
        return result;
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    result.peakKiB = usage.ru_maxrss;
    return result;
}

void MakeRandomFile(const std::string& path, size_t mib) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::mt19937_64 generator(42);
    std::vector<uint64_t> block(1 << 17); // 1 MiB
    for (size_t i = 0; i < mib; ++i) {
        for (auto& word : block)
            word = generator();
        out.write(reinterpret_cast<const char*>(block.data()),
                  static_cast<std::streamsize>(block.size() * sizeof(uint64_t)));
    }
}

bool SameSize(const std::string& a, const std::string& b) {
    std::error_code ignored;
    return stdfs::file_size(a, ignored) == stdfs::file_size(b, ignored);
}

double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
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

struct Figures {
    std::vector<double> tavrin, curl;
    long peakKiB = 0;
    int failures = 0;
};

void Report(const char* what, const Figures& f) {
    const double t = Median(f.tavrin), c = Median(f.curl);
    std::printf("%-16s tavrin-ftp %8.1f MB/s   curl %8.1f MB/s   ratio %.2f   "
                "tavrin-ftp peak %.1f MB%s\n",
                what, t, c, c > 0 ? t / c : 0.0, f.peakKiB / 1024.0,
                f.failures ? "   (some runs failed)" : "");
}

void Bench(bool tls, int rounds, size_t mib) {
    const stdfs::path work =
        stdfs::temp_directory_path() / ("tavrin-bench-" + std::to_string(getpid()));
    stdfs::create_directories(work / "root");
    stdfs::create_directories(work / "local");
    const std::string remoteName = "big.bin";
    const std::string source = (work / "local" / "source.bin").string();
    MakeRandomFile(source, mib);
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

    Figures down, up;
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
            (ours ? down.tavrin : down.curl).push_back(megabytes / r.seconds);
            if (ours)
                down.peakKiB = std::max(down.peakKiB, r.peakKiB);
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
            (ours ? up.tavrin : up.curl).push_back(megabytes / r.seconds);
            if (ours)
                up.peakKiB = std::max(up.peakKiB, r.peakKiB);
        }
        std::fflush(stdout);
    }
    const std::string label = tls ? "TLS" : "plain";
    Report((label + " download").c_str(), down);
    Report((label + " upload").c_str(), up);
    std::error_code ignored;
    stdfs::remove_all(work, ignored);
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
    const size_t mib = argc > 2 ? static_cast<size_t>(std::atol(argv[2])) : 1024;
    const std::string which = argc > 3 ? argv[3] : "both";
    std::printf("%d rounds, %zu MiB, vsftpd on 127.0.0.1 (medians)\n", rounds, mib);
    try {
        if (which != "tls")
            Bench(false, rounds, mib);
        if (which != "plain")
            Bench(true, rounds, mib);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_transfer: %s\n", error.what());
        return 1;
    }
    return 0;
}

// Export monitor timings against vsftpd on 127.0.0.1, plain and TLS:
//   latency   from the writer closing a small file to the cycle's "done" line (median, one
//             file at a time), with no settle time and with the default one of 1,000 ms;
//   rate      files per second for 1,000 small files dropped at once (no settle time), and
//             whether every one of them was sent exactly once;
//   login     the server's part of each cycle (connect, login, QUIT) alone, plain;
//   curl      the same small uploads by curl, one process and one connection per file, as a
//             peer for the per-file cost.
// Not a test: prints figures only.
#include "config/LogSwitches.h"
#include "export/FolderMonitorUnit.h"
#include "ftp/IdFTP.h"
#include "servers/RealServers.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
namespace stdfs = std::filesystem;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Remembers when each file's "done" line arrived.
class DoneLines {
public:
    TLogEvent Sink() {
        return [this](const void*, const std::string& text, TColor) {
            if (std::getenv("TAVRIN_BENCH_VERBOSE"))
                std::fprintf(stderr, "%10.1f %s\n", Ms(Clock::now().time_since_epoch()),
                             text.c_str());
            const std::string tail = "\" done";
            auto start = text.find('"');
            if (start == std::string::npos || text.size() < tail.size() ||
                text.compare(text.size() - tail.size(), tail.size(), tail) != 0) {
                if (text.find("not uploaded") != std::string::npos)
                    std::fprintf(stderr, "%s\n", text.c_str());
                return;
            }
            std::string path = text.substr(start + 1, text.size() - tail.size() - start - 1);
            std::lock_guard lock(mutex_);
            const std::string name = stdfs::path(path).filename().string();
            ++times_[name];
            done_[name] = Clock::now();
            changed_.notify_all();
        };
    }
    // The time the file's line arrived, waiting for it (bounded).
    bool WaitFor(const std::string& name, Clock::time_point& at) {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, std::chrono::seconds(60),
                               [&] { return done_.count(name) != 0; }))
            return false;
        at = done_[name];
        return true;
    }
    bool WaitForCount(size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(600),
                                 [&] { return done_.size() >= count; });
    }
    Clock::time_point Last() {
        std::lock_guard lock(mutex_);
        Clock::time_point last{};
        for (auto& [name, at] : done_)
            last = std::max(last, at);
        return last;
    }

    // Names whose "done" line came more than once.
    size_t Repeated() {
        std::lock_guard lock(mutex_);
        size_t repeated = 0;
        for (auto& [name, count] : times_)
            repeated += count > 1;
        return repeated;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, Clock::time_point> done_;
    std::map<std::string, int> times_;
};

void WriteFile(const std::string& path, size_t size) {
    std::ofstream(path, std::ios::binary) << std::string(size, 'x');
}

int Run(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Figures {
    double loginMs = 0, medianLatencyMs = 0, settledLatencyMs = 0, filesPerSecond = 0,
           curlMsPerFile = 0;
    size_t burstDone = 0, burstRepeated = 0;
};

// The median time from close to "done" over `count` files written one after the other.
double MedianLatency(const RConfiguration& config, const std::string& prefix, int count) {
    DoneLines done;
    TFolderMonitor monitor(config, done.Sink());
    std::vector<double> latencies;
    for (int i = 0; i < count; ++i) {
        std::string name = prefix + std::to_string(i);
        WriteFile(config.LocalFolder + "/" + name, 1024);
        Clock::time_point closed = Clock::now(), at;
        if (!done.WaitFor(name, at)) {
            std::fprintf(stderr, "no done line for %s\n", name.c_str());
            break;
        }
        latencies.push_back(Ms(at - closed));
    }
    std::sort(latencies.begin(), latencies.end());
    return latencies.empty() ? 0 : latencies[latencies.size() / 2];
}

// The median time of the server's part of every cycle: connect, login, system query and
// QUIT, with no upload. Plain only: it is the floor under the plain close->done time.
double MedianLogin(const RConfiguration& config, int count) {
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        TIdFTP client;
        client.SetHost(config.Host);
        client.SetPort(std::stoi(config.Port));
        client.SetUsername(config.Username);
        client.SetPassword(config.Password);
        client.SetPassive(true);
        Clock::time_point start = Clock::now();
        client.Connect();
        client.Disconnect(true);
        times.push_back(Ms(Clock::now() - start));
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

Figures Measure(bool tls, const std::string& root) {
    const std::string watched = root + "/watched", serverRoot = root + "/server";
    stdfs::create_directories(watched);
    stdfs::create_directories(serverRoot + "/in");
    stdfs::permissions(root, stdfs::perms::owner_all | stdfs::perms::others_read |
                                 stdfs::perms::others_exec);
    stdfs::permissions(serverRoot, stdfs::perms::all);
    stdfs::permissions(serverRoot + "/in", stdfs::perms::all);
    testsrv::VsftpdServer server(testsrv::VsftpdOptions{serverRoot, tls, true});

    RConfiguration config;
    config.LocalFolder = watched;
    config.Host = "127.0.0.1";
    config.Port = std::to_string(server.Port());
    config.Username = server.User();
    config.Password = server.Password();
    config.PassiveMode = true;
    config.BinaryMode = true;
    // vsftpd shows the whole file system, so the folder goes by its full path.
    config.RemoteFolder = serverRoot + "/in";
    if (tls) {
        const auto& certificates = testsrv::Certificates();
        config.SSL = true;
        config.SSLCertificate = certificates.clientCert;
        config.SSLKey = certificates.clientKey;
        config.SSLPass = certificates.clientKeyPassword;
    }

    Figures figures;
    if (!tls)
        figures.loginMs = MedianLogin(config, 50);
    config.SettleTime = 0;
    figures.medianLatencyMs = MedianLatency(config, "lat", 100);
    config.SettleTime = 1000;
    figures.settledLatencyMs = MedianLatency(config, "settled", 10);
    config.SettleTime = 0;
    {
        DoneLines done;
        TFolderMonitor monitor(config, done.Sink());
        Clock::time_point start = Clock::now();
        for (int i = 0; i < 1000; ++i)
            WriteFile(watched + "/many" + std::to_string(i), 1024);
        if (done.WaitForCount(1000))
            figures.filesPerSecond = 1000.0 / (Ms(done.Last() - start) / 1000.0);
        // Late repeats would show up within a moment.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        figures.burstRepeated = done.Repeated();
    }
    figures.burstDone = 0;
    for (int i = 0; i < 1000; ++i)
        figures.burstDone += stdfs::exists(serverRoot + "/in/many" + std::to_string(i));

    // The peer: curl, one process per file, the same 1 KiB files.
    std::vector<std::string> base = {
        "/usr/bin/curl", "-s",     "-S",
        "--ftp-pasv",    "--user", server.User() + ":" + server.Password()};
    if (tls) {
        const auto& certificates = testsrv::Certificates();
        for (const std::string& arg :
             {std::string("--ssl-reqd"), std::string("-k"), std::string("--cert"),
              certificates.clientCert, std::string("--key"), certificates.clientKey,
              std::string("--pass"), certificates.clientKeyPassword})
            base.push_back(arg);
    }
    Clock::time_point start = Clock::now();
    int uploaded = 0;
    for (int i = 0; i < 100; ++i) {
        auto args = base;
        args.push_back("-T");
        args.push_back(watched + "/lat" + std::to_string(i));
        args.push_back("ftp://127.0.0.1:" + std::to_string(server.Port()) + "/" + serverRoot +
                       "/in/curl" + std::to_string(i));
        uploaded += Run(args) == 0;
    }
    if (uploaded == 100)
        figures.curlMsPerFile = Ms(Clock::now() - start) / 100;
    else
        std::fprintf(stderr, "curl uploaded %d of 100\n", uploaded);
    return figures;
}

} // namespace

int main() {
    LogMonitor = false;
    // TAVRIN_BENCH_VERBOSE=1 prints every line, status texts included.
    LogVerbose = LogSSL = std::getenv("TAVRIN_BENCH_VERBOSE") != nullptr;
    LogFileTransfer = true; // the "done" line is what is timed
    char pattern[] = "/tmp/tavrin-bench-export-XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        return 1;
    const std::string root = pattern;
    int result = 0;
    for (bool tls : {false, true}) {
        try {
            Figures f = Measure(tls, root + (tls ? "/tls" : "/plain"));
            if (!tls)
                std::printf("plain  server's login and QUIT alone, median: %.1f ms\n", f.loginMs);
            std::printf("%-5s  close->done median: settle 0 %.1f ms, settle 1000 %.1f ms   "
                        "%.1f files/s (1,000 x 1 KiB; %zu on the server, %zu sent twice)"
                        "   curl %.1f ms/file   ours/curl per file %.2f\n",
                        tls ? "TLS" : "plain", f.medianLatencyMs, f.settledLatencyMs,
                        f.filesPerSecond, f.burstDone, f.burstRepeated, f.curlMsPerFile,
                        f.curlMsPerFile > 0 ? f.medianLatencyMs / f.curlMsPerFile : 0.0);
        } catch (const std::exception& failure) {
            std::fprintf(stderr, "%s: %s\n", tls ? "TLS" : "plain", failure.what());
            result = 1;
        }
    }
    stdfs::remove_all(root);
    return result;
}

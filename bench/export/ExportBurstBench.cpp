// A burst of 1,000 files of 1 KiB moved into the export folder at once, against vsftpd on
// 127.0.0.1, plain and TLS: files per second with one login per file on one connection (the
// old way), with four kept connections, and lftp's "mirror -R --parallel=4" sending the same
// files to the same server in the same run. Not a test: prints figures only.
#include "common/BenchUtil.h"
#include "config/LogSwitches.h"
#include "export/FolderMonitorUnit.h"
#include "servers/RealServers.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
namespace stdfs = std::filesystem;

constexpr int kFiles = 1000;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Counts the "done" lines and the failures.
class Dones {
public:
    TLogEvent Sink() {
        return [this](const void*, const std::string& text, TColor colour) {
            std::lock_guard lock(mutex_);
            if (colour == clRed)
                ++failed_;
            if (text.size() > 6 && text.compare(text.size() - 6, 6, "\" done") == 0)
                ++done_;
            changed_.notify_all();
        };
    }
    bool WaitForAll() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::minutes(10), [&] { return done_ >= kFiles; });
    }
    int Failed() {
        std::lock_guard lock(mutex_);
        return failed_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int done_ = 0, failed_ = 0;
};

void MakeFiles(const std::string& folder) {
    stdfs::create_directories(folder);
    for (int i = 0; i < kFiles; ++i)
        std::ofstream(folder + "/f" + std::to_string(i) + ".dat", std::ios::binary)
            << std::string(1024, static_cast<char>('a' + i % 26));
}

// A fresh, empty folder on the server for each run.
std::string ServerFolder(const std::string& serverRoot, const std::string& name) {
    const std::string folder = serverRoot + "/" + name;
    stdfs::create_directories(folder);
    stdfs::permissions(folder, stdfs::perms::all);
    return folder;
}

// Ours: the files are made aside and moved into the watched folder at once.
double OursFilesPerSecond(RConfiguration config, const std::string& root,
                          const std::string& serverRoot, const std::string& label) {
    const std::string staged = root + "/staged-" + label, watched = root + "/watched-" + label;
    MakeFiles(staged);
    stdfs::create_directories(watched);
    config.LocalFolder = watched;
    config.RemoteFolder = ServerFolder(serverRoot, label);
    Dones dones;
    TFolderMonitor monitor(config, dones.Sink());
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < kFiles; ++i) {
        const std::string name = "/f" + std::to_string(i) + ".dat";
        stdfs::rename(staged + name, watched + name);
    }
    const bool all = dones.WaitForAll();
    const double seconds = Seconds(Clock::now() - start);
    const size_t arrived = bench::FilesIn(config.RemoteFolder);
    if (!all || arrived != kFiles || dones.Failed() != 0)
        std::fprintf(stderr, "%s: %zu of %d on the server, %d red lines\n", label.c_str(), arrived,
                     kFiles, dones.Failed());
    return all ? kFiles / seconds : 0;
}

double LftpFilesPerSecond(const RConfiguration& config, bool tls, const std::string& root,
                          const std::string& serverRoot, const std::string& label) {
    const std::string staged = root + "/staged-" + label;
    MakeFiles(staged);
    const std::string target = ServerFolder(serverRoot, label);
    std::string script = "set ftp:passive-mode true; set net:max-retries 1; ";
    if (tls)
        script += "set ftp:ssl-force true; set ssl:verify-certificate no; ";
    script += "mirror -R --parallel=4 " + staged + " " + target + "; quit";
    const bench::RunResult lftp =
        bench::Run({"/usr/bin/lftp", "-u", config.Username + "," + config.Password, "-p",
                    config.Port, "-e", script, "127.0.0.1"});
    const size_t arrived = bench::FilesIn(target);
    if (!lftp.ok || arrived != kFiles) {
        std::fprintf(stderr, "lftp: %s, %zu of %d on the server\n", lftp.ok ? "ended" : "failed",
                     arrived, kFiles);
        return 0;
    }
    return kFiles / lftp.seconds;
}

void Measure(bool tls, const std::string& root, bool withOld) {
    const std::string serverRoot = root + "/server";
    stdfs::create_directories(serverRoot);
    stdfs::permissions(root, stdfs::perms::owner_all | stdfs::perms::others_read |
                                 stdfs::perms::others_exec);
    stdfs::permissions(serverRoot, stdfs::perms::all);
    // lftp does not resume TLS sessions on its data connections.
    testsrv::VsftpdServer server(testsrv::VsftpdOptions{serverRoot, tls, false});

    RConfiguration config;
    config.Host = "127.0.0.1";
    config.Port = std::to_string(server.Port());
    config.Username = server.User();
    config.Password = server.Password();
    config.PassiveMode = true;
    config.BinaryMode = true;
    config.SSL = tls;
    config.SettleTime = 0;

    const double old = withOld ? OursFilesPerSecond(config, root, serverRoot, "one") : 0;
    config.Connections = 4;
    config.KeepConnection = true;
    const double kept = OursFilesPerSecond(config, root, serverRoot, "kept4");
    const double lftp = LftpFilesPerSecond(config, tls, root, serverRoot, "lftp4");
    std::printf("%-5s  export 1,000 x 1 KiB: Connections=1 KeepConnection=0 %7.1f files/s   "
                "Connections=4 KeepConnection=1 %7.1f files/s   lftp mirror -R --parallel=4 "
                "%7.1f files/s   ours/lftp %.2f\n",
                tls ? "TLS" : "plain", old, kept, lftp, lftp > 0 ? kept / lftp : 0.0);
}

} // namespace

// "--skip-old" leaves out the slow one-login-per-file figure.
int main(int argc, char** argv) {
    const bool withOld = !(argc > 1 && std::string(argv[1]) == "--skip-old");
    LogMonitor = LogVerbose = LogSSL = false;
    LogFileTransfer = true;                   // the "done" line is what is counted
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // each figure as soon as it is measured
    char pattern[] = "/tmp/tavrin-bench-burst-XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        return 1;
    const std::string root = pattern;
    int result = 0;
    for (bool tls : {false, true}) {
        try {
            Measure(tls, root + (tls ? "/tls" : "/plain"), withOld);
        } catch (const std::exception& failure) {
            std::fprintf(stderr, "%s: %s\n", tls ? "TLS" : "plain", failure.what());
            result = 1;
        }
    }
    stdfs::remove_all(root);
    return result;
}

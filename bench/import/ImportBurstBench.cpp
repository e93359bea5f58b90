// 1,000 new files of 1 KiB on vsftpd on 127.0.0.1, plain and TLS: one import cycle that fetches
// them all with one connection and with four, beside lftp's "mirror --parallel=4" fetching the
// same files from the same server in the same run. Not a test: prints figures only.
#include "common/BenchUtil.h"
#include "config/LogSwitches.h"
#include "import/MonitorFTPUnit.h"
#include "servers/RealServers.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
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

double OursFilesPerSecond(RConfiguration config, const std::string& root,
                          const std::string& label) {
    const std::string local = root + "/local-" + label;
    stdfs::create_directories(local);
    config.LocalFolder = local;
    const Clock::time_point start = Clock::now();
    {
        TMonitorFTP monitor(config, {}, root + "/register-" + label + ".txt");
        monitor.Checker().PollCycle();
        monitor.RequestStop();
    }
    const double seconds = Seconds(Clock::now() - start);
    const size_t arrived = bench::FilesIn(local);
    if (arrived != kFiles) {
        std::fprintf(stderr, "%s: %zu of %d fetched\n", label.c_str(), arrived, kFiles);
        return 0;
    }
    return kFiles / seconds;
}

double LftpFilesPerSecond(const RConfiguration& config, bool tls, const std::string& root) {
    const std::string local = root + "/local-lftp";
    std::string script = "set ftp:passive-mode true; set net:max-retries 1; ";
    if (tls)
        script += "set ftp:ssl-force true; set ssl:verify-certificate no; ";
    script += "mirror --parallel=4 " + config.RemoteFolder + " " + local + "; quit";
    const bench::RunResult lftp =
        bench::Run({"/usr/bin/lftp", "-u", config.Username + "," + config.Password, "-p",
                    config.Port, "-e", script, "127.0.0.1"});
    const size_t arrived = stdfs::exists(local) ? bench::FilesIn(local) : 0;
    if (!lftp.ok || arrived != kFiles) {
        std::fprintf(stderr, "lftp: %s, %zu of %d fetched\n", lftp.ok ? "ended" : "failed", arrived,
                     kFiles);
        return 0;
    }
    return kFiles / lftp.seconds;
}

void Measure(bool tls, const std::string& root) {
    const std::string served = root + "/server";
    stdfs::create_directories(served);
    stdfs::permissions(root, stdfs::perms::owner_all | stdfs::perms::others_read |
                                 stdfs::perms::others_exec);
    for (int i = 0; i < kFiles; ++i)
        std::ofstream(served + "/new" + std::to_string(i) + ".dat", std::ios::binary)
            << std::string(1024, static_cast<char>('a' + i % 26));
    // lftp does not resume TLS sessions on its data connections.
    testsrv::VsftpdServer server(testsrv::VsftpdOptions{served, tls, false});

    RConfiguration config;
    config.Host = "127.0.0.1";
    config.Port = std::to_string(server.Port());
    config.Username = server.User();
    config.Password = server.Password();
    config.PassiveMode = true;
    config.BinaryMode = true;
    config.SSL = tls;
    config.RemoteFolder = served; // vsftpd shows the whole file system
    config.CheckInterval = 3600;  // the cycle is run by hand
    config.WaitForStableFiles = false;

    const double one = OursFilesPerSecond(config, root, "one");
    config.Connections = 4;
    const double four = OursFilesPerSecond(config, root, "four");
    const double lftp = LftpFilesPerSecond(config, tls, root);
    std::printf("%-5s  import 1,000 x 1 KiB: Connections=1 %7.1f files/s   Connections=4 %7.1f "
                "files/s   lftp mirror --parallel=4 %7.1f files/s   ours/lftp %.2f\n",
                tls ? "TLS" : "plain", one, four, lftp, lftp > 0 ? four / lftp : 0.0);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    LogMonitor = LogVerbose = LogSSL = LogFileTransfer = false;
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // each figure as soon as it is measured
    char pattern[] = "/tmp/tavrin-bench-import-burst-XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        return 1;
    const std::string root = pattern;
    int result = 0;
    for (bool tls : {false, true}) {
        try {
            Measure(tls, root + (tls ? "/tls" : "/plain"));
        } catch (const std::exception& failure) {
            std::fprintf(stderr, "%s: %s\n", tls ? "TLS" : "plain", failure.what());
            result = 1;
        }
    }
    stdfs::remove_all(root);
    return result;
}

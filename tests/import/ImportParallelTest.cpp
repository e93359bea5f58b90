// Several files of a cycle at once: each file arrives whole and once over its own connection,
// the register holds each name once, and a stop during stalled transfers ends them all at once.
#include "ImportTestSupport.h"

#include "config/LogSwitches.h"
#include "import/MonitorFTPUnit.h"
#include "servers/RealServers.h"
#include "servers/ScriptedFtpServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <thread>

using namespace importtest;

namespace {

using namespace std::chrono_literals;

struct ParallelCase {
    const char* label;
    bool vsftpd;
    bool tls;
    int connections;
};

class ImportParallel : public ::testing::TestWithParam<ParallelCase> {};

TEST_P(ImportParallel, EveryFileArrivesOnceAndIsRegisteredOnce) {
    const ParallelCase& which = GetParam();
    Scratch scratch;
    std::map<std::string, std::string> files;
    for (int i = 0; i < 40; ++i)
        files["f" + std::to_string(i) + ".bin"] = Payload(1000 + 997 * i, 100 + i);
    files["large.bin"] = Payload(3 * 1024 * 1024, 7);
    for (const auto& [name, bytes] : files)
        WriteFile(scratch.server + "/" + name, bytes);

    std::unique_ptr<testsrv::PyFtpdServer> pyftpd;
    std::unique_ptr<testsrv::VsftpdServer> vsftpd;
    RConfiguration config;
    if (which.vsftpd) {
        vsftpd = std::make_unique<testsrv::VsftpdServer>(
            testsrv::VsftpdOptions{.root = scratch.server, .tls = which.tls});
        config = LocalServerConfig(scratch, vsftpd->Port(), vsftpd->User(), vsftpd->Password());
    } else {
        testsrv::PyFtpdOptions options{.root = scratch.server, .tls = which.tls};
        pyftpd = std::make_unique<testsrv::PyFtpdServer>(options);
        config = LocalServerConfig(scratch, pyftpd->Port(), options.user, options.password);
    }
    if (which.tls) {
        const testsrv::TestCertificates& certs = testsrv::Certificates();
        config.SSL = true;
        config.SSLCertificate = certs.clientCert;
        config.SSLKey = certs.clientKey;
        config.SSLPass = certs.clientKeyPassword;
    }
    config.Connections = which.connections;
    config.MoveDelete = true;
    config.FirstToTemp = true;

    Recorder log;
    {
        TMonitorFTP monitor(config, log.Sink(), scratch.registerPath);
        monitor.Checker().PollCycle();
        EXPECT_EQ(monitor.Checker().LocalFileList().Count(), files.size());
        // A second cycle finds nothing new.
        monitor.Checker().PollCycle();
        monitor.RequestStop();
    }
    EXPECT_EQ(log.boxes, std::vector<std::string>{});
    EXPECT_EQ(log.CountColour(clRed), 0u);
    const std::string saved = ReadFile(scratch.registerPath);
    for (const auto& [name, bytes] : files) {
        EXPECT_TRUE(ReadFile(scratch.local + "/" + name) == bytes) << name;
        EXPECT_FALSE(Exists(scratch.server + "/" + name)) << name;
        EXPECT_EQ(log.Count("Import > Getting file \"" + name + "\" done"), 1u) << name;
        size_t times = 0;
        for (size_t at = saved.find(name + "\r\n"); at != std::string::npos;
             at = saved.find(name + "\r\n", at + 1))
            times += at == 0 || saved[at - 1] == '\n';
        EXPECT_EQ(times, 1u) << name;
    }
    if (pyftpd) {
        // The cycle's own login and one for each further connection; a second cycle logs in
        // only once since it has nothing to fetch.
        const auto commands = pyftpd->Commands();
        EXPECT_EQ(
            std::count_if(commands.begin(), commands.end(),
                          [](const std::string& line) { return line.rfind("USER ", 0) == 0; }),
            which.connections + 1);
        for (const auto& [name, bytes] : files)
            EXPECT_EQ(std::count(commands.begin(), commands.end(), "RETR " + name), 1) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, ImportParallel,
                         ::testing::Values(ParallelCase{"PyFtpd1", false, false, 1},
                                           ParallelCase{"PyFtpd4", false, false, 4},
                                           ParallelCase{"PyFtpdTls4", false, true, 4},
                                           ParallelCase{"Vsftpd4", true, false, 4},
                                           ParallelCase{"VsftpdTls4", true, true, 4}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(ImportParallelStop, StopDuringFourStalledTransfersEndsThemWithinTwoSeconds) {
    Scratch scratch;
    testsrv::ScriptedFtpServer server;
    std::string listing;
    for (int i = 0; i < 6; ++i)
        listing += "-rw-r--r--   1 user     group     1000000 Jan 15 10:30 s" + std::to_string(i) +
                   ".bin\r\n";
    server.Handle("LIST", testsrv::ServeData(listing));
    // Sends a little and then nothing more, as a server that hangs mid-file.
    server.Handle("RETR", [](testsrv::ScriptedSession& s, const std::string&) {
        s.Send("150 Opening\r\n");
        s.DataSend("the first few bytes");
    });
    RConfiguration config = LocalServerConfig(scratch, server.Port(), "u", "p");
    config.Connections = 4;
    Recorder log;
    TMonitorFTP monitor(config, log.Sink(), scratch.registerPath);
    const std::shared_ptr<TPollerStop> stopper = monitor.Stopper();

    std::atomic<bool> stalled{false};
    std::chrono::steady_clock::time_point stopAt;
    std::thread stopping([&] {
        const auto limit = std::chrono::steady_clock::now() + 30s;
        auto retrs = [&] {
            const auto all = server.Commands();
            return std::count_if(all.begin(), all.end(), [](const std::string& line) {
                return line.rfind("RETR ", 0) == 0;
            });
        };
        while (retrs() < 4 && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(10ms);
        stalled = retrs() == 4;
        // As a job stops its poller: the request, and the cut once the grace is over.
        stopAt = std::chrono::steady_clock::now();
        stopper->RequestStop();
        stopper->CutIfBusy();
    });
    monitor.Checker().PollCycle();
    const auto endedAt = std::chrono::steady_clock::now();
    stopping.join();
    EXPECT_TRUE(stalled) << "four transfers at once";
    EXPECT_LT(endedAt - stopAt, 2s);
    EXPECT_EQ(server.SessionsAccepted(), 4);
    EXPECT_EQ(monitor.Checker().LocalFileList().Count(), 0u);
    for (int i = 0; i < 6; ++i)
        EXPECT_FALSE(Exists(scratch.local + "/s" + std::to_string(i) + ".bin"));
}

// Four files at once, and the server cuts one of them in the middle: the other three arrive
// and are registered once, the cut one never shows under its name in part and arrives whole at
// the next check.
TEST(ImportParallelCut, OneCutFileArrivesWholeAtTheNextCheckAndNothingTwice) {
    Scratch scratch;
    testsrv::ScriptedFtpServer server;
    std::map<std::string, std::string> files;
    std::string listing;
    for (const char* name : {"one.bin", "two.bin", "cut.bin", "four.bin"}) {
        files[name] = Payload(2 * 1024 * 1024, name[0]);
        listing += "-rw-r--r--   1 user     group     " + std::to_string(files[name].size()) +
                   " Jan 15 10:30 " + name + "\r\n";
    }
    server.Handle("LIST", testsrv::ServeData(listing));
    std::atomic<int> cuts{0};
    server.Handle("RETR", [&](testsrv::ScriptedSession& s, const std::string& line) {
        const std::string& bytes = files.at(line.substr(5));
        s.Send("150 Opening\r\n");
        if (line.ends_with("cut.bin") && cuts++ == 0) {
            // Half the file, then a reset, and the control connection gone with it.
            s.DataSend(bytes.substr(0, bytes.size() / 2));
            s.DataAbort();
            s.CloseControl();
            return;
        }
        s.DataSend(bytes);
        s.DataClose();
        s.Send("226 Transfer complete\r\n");
    });
    RConfiguration config = LocalServerConfig(scratch, server.Port(), "u", "p");
    config.Connections = 4;
    Recorder log;
    TMonitorFTP monitor(config, log.Sink(), scratch.registerPath);

    monitor.Checker().PollCycle();
    EXPECT_EQ(cuts.load(), 1);
    EXPECT_FALSE(Exists(scratch.local + "/cut.bin"));
    EXPECT_EQ(monitor.Checker().LocalFileList().Count(), 3u);
    monitor.Checker().PollCycle();

    for (const auto& [name, bytes] : files)
        EXPECT_EQ(ReadFile(scratch.local + "/" + name), bytes) << name;
    const std::vector<std::string> commands = server.Commands();
    for (const auto& [name, bytes] : files)
        EXPECT_EQ(std::count(commands.begin(), commands.end(), "RETR " + name),
                  name == "cut.bin" ? 2 : 1)
            << name;
    std::map<std::string, int> registered;
    const std::string text = ReadFile(scratch.registerPath);
    for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
        ++registered[text.substr(at, end - at)];
    EXPECT_EQ(registered, (std::map<std::string, int>{
                              {"one.bin", 1}, {"two.bin", 1}, {"cut.bin", 1}, {"four.bin", 1}}))
        << text;
}

} // namespace

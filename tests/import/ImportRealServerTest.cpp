// Polling cycles against real servers on 127.0.0.1: pyftpdlib lists with MLSD, vsftpd with
// LIST in the Unix format; both plain and with explicit TLS and a client certificate.
#include "ImportTestSupport.h"

#include "config/LogSwitches.h"
#include "import/MonitorFTPUnit.h"
#include "servers/RealServers.h"

#include <QPointer>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>

using namespace importtest;

namespace {

enum class Kind { PyFtpd, PyFtpdTls, Vsftpd, VsftpdTls };

std::string KindName(const ::testing::TestParamInfo<Kind>& info) {
    switch (info.param) {
    case Kind::PyFtpd:
        return "PyFtpd";
    case Kind::PyFtpdTls:
        return "PyFtpdTls";
    case Kind::Vsftpd:
        return "Vsftpd";
    case Kind::VsftpdTls:
        return "VsftpdTls";
    }
    return "?";
}

class ImportRealServer : public ::testing::TestWithParam<Kind> {
protected:
    void StartServer() {
        Kind kind = GetParam();
        bool tls = kind == Kind::PyFtpdTls || kind == Kind::VsftpdTls;
        if (kind == Kind::PyFtpd || kind == Kind::PyFtpdTls) {
            testsrv::PyFtpdOptions options;
            options.root = scratch.server;
            options.tls = tls;
            pyftpd = std::make_unique<testsrv::PyFtpdServer>(options);
            config = LocalServerConfig(scratch, pyftpd->Port(), options.user, options.password);
        } else {
            testsrv::VsftpdOptions options;
            options.root = scratch.server;
            options.tls = tls;
            vsftpd = std::make_unique<testsrv::VsftpdServer>(options);
            config = LocalServerConfig(scratch, vsftpd->Port(), vsftpd->User(), vsftpd->Password());
        }
        if (tls) {
            const testsrv::TestCertificates& certs = testsrv::Certificates();
            config.SSL = true;
            config.SSLCertificate = certs.clientCert;
            config.SSLKey = certs.clientKey;
            config.SSLPass = certs.clientKeyPassword;
        }
    }
    std::string Served(const std::string& name) const { return scratch.server + "/" + name; }
    // Files written after vsftpd started belong to root; its user may read them, and the
    // folder it owns lets it delete them.
    void Put(const std::string& name, const std::string& bytes) { WriteFile(Served(name), bytes); }

    Scratch scratch;
    Recorder log;
    RConfiguration config;
    std::unique_ptr<testsrv::PyFtpdServer> pyftpd;
    std::unique_ptr<testsrv::VsftpdServer> vsftpd;
};

TEST_P(ImportRealServer, FetchesNewRegularFilesWholeAndOnlyOnce) {
    Put("a.bin", Payload(300000, 1));
    Put("Report.TXT", Payload(1000, 2));
    Put("empty.dat", "");
    Put(".hidden", "secret");
    ::mkdir(Served("folder").c_str(), 0755);
    WriteFile(Served("folder/inner.txt"), "inside");
    StartServer();

    {
        TMonitorFTP monitor(config, log.Sink(), scratch.registerPath);
        monitor.Checker().PollCycle();
        EXPECT_FALSE(monitor.Checker().Busy());
        EXPECT_EQ(monitor.Checker().LocalFileList().Count(), 3u);
        monitor.RequestStop();
    }
    EXPECT_EQ(log.boxes, std::vector<std::string>{});
    EXPECT_TRUE(ReadFile(scratch.local + "/a.bin") == Payload(300000, 1))
        << scratch.local + "/a.bin";
    EXPECT_TRUE(ReadFile(scratch.local + "/Report.TXT") == Payload(1000, 2))
        << scratch.local + "/Report.TXT";
    EXPECT_TRUE(Exists(scratch.local + "/empty.dat"));
    EXPECT_FALSE(Exists(scratch.local + "/.hidden"));
    EXPECT_FALSE(Exists(scratch.local + "/folder"));
    EXPECT_FALSE(Exists(scratch.local + "/inner.txt"));
    EXPECT_EQ(log.Count("Import > Getting file \"a.bin\" done"), 1u);
    EXPECT_EQ(log.lines.front().text, "Import > Monitor started");
    EXPECT_EQ(log.lines.front().colour, clMaroon);
    EXPECT_EQ(log.lines.back().text, "Import > Monitor closed");
    EXPECT_EQ(log.CountColour(clRed), 0u);
    EXPECT_TRUE(Exists(Served("a.bin"))); // MoveDelete off

    // A restart reads the register the first run saved: nothing is fetched again, but a new
    // name is.
    ::unlink((scratch.local + "/a.bin").c_str());
    Put("later.txt", "later");
    log.lines.clear();
    {
        TMonitorFTP monitor(config, log.Sink(), scratch.registerPath);
        monitor.Checker().PollCycle();
    }
    EXPECT_FALSE(Exists(scratch.local + "/a.bin"));
    EXPECT_EQ(log.Count("Import > Getting file \"later.txt\" done"), 1u);
    EXPECT_EQ(log.Count("Import > Getting file \"Report.TXT\""), 0u);
    EXPECT_EQ(ReadFile(scratch.registerPath).find("later.txt\r\n") != std::string::npos, true);
}

TEST_P(ImportRealServer, StagingFolderMoveAndDeleteOnlyWhatArrived) {
    Put("new.csv", Payload(5000, 3));
    Put("clash.csv", Payload(700, 4));
    StartServer();
    WriteFile(scratch.local + "/clash.csv", "already here");
    config.FirstToTemp = true;
    config.MoveDelete = true;

    TMonitorFTP monitor(config, log.Sink(), scratch.registerPath);
    monitor.Checker().PollCycle();

    EXPECT_TRUE(ReadFile(scratch.local + "/new.csv") == Payload(5000, 3))
        << scratch.local + "/new.csv";
    EXPECT_FALSE(Exists(scratch.temp + "/new.csv"));
    // The import folder already had the name: the new copy stays in the staging folder.
    EXPECT_EQ(ReadFile(scratch.local + "/clash.csv"), "already here");
    EXPECT_TRUE(ReadFile(scratch.temp + "/clash.csv") == Payload(700, 4))
        << scratch.temp + "/clash.csv";
    EXPECT_FALSE(Exists(Served("new.csv")));
    EXPECT_FALSE(Exists(Served("clash.csv")));
    EXPECT_EQ(log.Count("Import > Deleting file ... done"), 2u);
    EXPECT_TRUE(log.boxes.empty());
}

TEST_P(ImportRealServer, KeepAliveHoldsOneConnectionWithNoops) {
    Put("one.txt", "1");
    StartServer();
    config.KeepAlive = true;
    TMonitorFTP monitor(config, log.Sink(), scratch.registerPath);
    EXPECT_EQ(monitor.Checker().interval(), 5000);
    monitor.Checker().PollCycle();
    EXPECT_TRUE(monitor.Checker().Session().IsConnected());
    Put("two.txt", "2");
    monitor.Checker().KeepAliveTick();
    monitor.Checker().PollCycle();
    EXPECT_EQ(ReadFile(scratch.local + "/two.txt"), "2");
    // The server line comes with a login only.
    size_t serverLines = std::count_if(log.lines.begin(), log.lines.end(), [](const LogLine& l) {
        return l.text.rfind("Import > Server is a \"", 0) == 0;
    });
    EXPECT_EQ(serverLines, 1u);
    // The NOOP reply's text, CR LF after it, without its code.
    size_t noopLines = std::count_if(log.lines.begin(), log.lines.end(), [](const LogLine& l) {
        return l.colour == clHotLight && l.text.size() > 11 &&
               l.text.rfind("Import > 200", 0) != 0 &&
               l.text.compare(l.text.size() - 2, 2, "\r\n") == 0;
    });
    EXPECT_EQ(noopLines, 1u);
    if (pyftpd) {
        std::vector<std::string> commands = pyftpd->Commands();
        EXPECT_EQ(std::count(commands.begin(), commands.end(), "NOOP"), 1);
        EXPECT_EQ(std::count_if(commands.begin(), commands.end(),
                                [](const std::string& c) { return c.rfind("USER", 0) == 0; }),
                  1);
    }
}

TEST_P(ImportRealServer, WithoutKeepAliveEachCycleEndsWithQuit) {
    Put("one.txt", "1");
    StartServer();
    config.CheckInterval = 7;
    TMonitorFTP monitor(config, log.Sink(), scratch.registerPath);
    EXPECT_EQ(monitor.Checker().interval(), 7000);
    monitor.Checker().PollCycle();
    EXPECT_FALSE(monitor.Checker().Session().IsConnected());
    monitor.Checker().KeepAliveTick(); // nothing to keep alive
    monitor.Checker().PollCycle();
    if (pyftpd) {
        std::vector<std::string> commands = pyftpd->Commands();
        EXPECT_EQ(std::count(commands.begin(), commands.end(), "QUIT"), 2);
        EXPECT_EQ(std::count(commands.begin(), commands.end(), "NOOP"), 0);
    }
    EXPECT_EQ(log.Count("Import > Getting file \"one.txt\""), 1u);
}

TEST_P(ImportRealServer, StopDuringACycleFinishesTheEntriesThenQuits) {
    for (int i = 0; i < 4; ++i)
        Put("f" + std::to_string(i) + ".bin", Payload(200000, 10 + i));
    StartServer();
    auto* monitor = new TMonitorFTP(config, log.Sink(), scratch.registerPath);
    // The user stops the monitor while the first file is on its way; the monitor goes once
    // the cycle is over, as a job's worker does it.
    bool stopped = false;
    log.onLine = [&](const LogLine& line) {
        if (line.text == "Import > Getting file \"f0.bin\"" && !stopped) {
            stopped = true;
            monitor->RequestStop();
            QTimer::singleShot(0, [&] {
                delete monitor;
                monitor = nullptr;
            });
        }
    };
    QTimer::singleShot(0, [&] { monitor->Checker().PollCycle(); });
    ASSERT_TRUE(WaitUntil([&] { return monitor == nullptr; }));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(ReadFile(scratch.local + "/f" + std::to_string(i) + ".bin"),
                  Payload(200000, 10 + i));
    // Lines after the stop were not forwarded through the destroyed monitor.
    EXPECT_EQ(log.lines.back().text, "Import > Monitor closed");
    size_t starts = 0, dones = 0;
    for (const LogLine& line : log.lines) {
        if (line.text.rfind("Import > Getting file", 0) == 0)
            (line.text.size() > 5 && line.text.compare(line.text.size() - 5, 5, " done") == 0
                 ? dones
                 : starts)++;
    }
    EXPECT_EQ(starts, 1u);
    EXPECT_EQ(dones, 0u);
    // The late poller saved what it fetched after its monitor was gone.
    std::string saved = ReadFile(scratch.registerPath);
    for (int i = 0; i < 4; ++i)
        EXPECT_NE(saved.find("f" + std::to_string(i) + ".bin\r\n"), std::string::npos);
    if (pyftpd) {
        std::vector<std::string> commands = pyftpd->Commands();
        ASSERT_FALSE(commands.empty());
        EXPECT_EQ(commands.back(), "QUIT");
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, ImportRealServer,
                         ::testing::Values(Kind::PyFtpd, Kind::PyFtpdTls, Kind::Vsftpd,
                                           Kind::VsftpdTls),
                         KindName);

} // namespace

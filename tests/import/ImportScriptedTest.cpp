// Polling cycles against the scripted server, for what real servers will not do on request:
// Windows NT listings, refused downloads, hostile names, a server that drops every session.
#include "ImportTestSupport.h"

#include "base/IdException.h"
#include "config/LogSwitches.h"
#include "import/MonitorFTPUnit.h"
#include "servers/ScriptedFtpServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <dirent.h>
#include <sys/stat.h>
#include <thread>

using namespace importtest;

namespace {

const std::string kNtListing = "01-15-03  02:05PM                    10 good.txt\r\n"
                               "01-15-03  02:05PM                    12 bad.txt\r\n"
                               "01-15-03  10:30AM       <DIR>          docs\r\n"
                               "01-15-03  02:05PM                     5 sub\\..\\..\\evil.txt\r\n"
                               "01-15-03  02:05PM                     5 x/../../evil2.txt\r\n";

const std::string kUnixListing = "-rw-r--r--   1 user     group           5 Jan 15 10:30 a.txt\r\n";

class ImportScripted : public ::testing::Test {
protected:
    void SetUp() override {
        config = LocalServerConfig(scratch, server.Port(), "u", "p");
        LogVerbose = false;
    }
    void TearDown() override { LogMonitor = LogFileTransfer = LogSSL = LogVerbose = true; }
    size_t CommandCount(const std::string& command) const {
        std::vector<std::string> all = server.Commands();
        return static_cast<size_t>(std::count(all.begin(), all.end(), command));
    }
    void ServeUnixFolder() {
        server.Handle("LIST", testsrv::ServeData(kUnixListing));
        server.Handle("RETR", testsrv::ServeData("hello"));
    }

    Scratch scratch;
    Recorder log;
    testsrv::ScriptedFtpServer server;
    RConfiguration config;
};

TEST_F(ImportScripted, WindowsListingGivesEachEntryOnceAndOneTryPerCycle) {
    server.Reply("SYST", "215 Windows_NT\r\n");
    server.Handle("LIST", testsrv::ServeData(kNtListing));
    auto good = testsrv::ServeData("good bytes");
    server.Handle("RETR", [good](testsrv::ScriptedSession& session, const std::string& line) {
        if (line == "RETR good.txt")
            good(session, line);
        else
            session.Send("550 Failed to open file.\r\n");
    });

    TMonitorFTP monitor(config, log.Sink(), scratch.registerPath);
    monitor.Checker().PollCycle();

    EXPECT_TRUE(log.boxes.empty());
    EXPECT_EQ(monitor.Checker().LastListing().size(), 5u);
    EXPECT_EQ(CommandCount("RETR good.txt"), 1u);
    EXPECT_EQ(ReadFile(scratch.local + "/good.txt"), "good bytes");
    // The failing file is tried once in the cycle; the try says so in red, followed by the
    // server's reason.
    EXPECT_EQ(CommandCount("RETR bad.txt"), 1u);
    EXPECT_EQ(log.Count("Import > bad.txt is not a file or is demaged."), 1u);
    EXPECT_EQ(log.Count("Import > Failed to open file."), 1u);
    EXPECT_EQ(log.CountColour(clRed), 2u);
    EXPECT_FALSE(Exists(scratch.local + "/.bad.txt.part"));
    EXPECT_FALSE(monitor.Checker().LocalFileList().Contains("bad.txt"));
    EXPECT_EQ(monitor.Checker().LocalFileList().Names(), std::vector<std::string>{"good.txt"});

    // Names that would climb out of the import folder are never asked for.
    for (const std::string& command : server.Commands())
        EXPECT_EQ(command.find("evil"), std::string::npos) << command;
    EXPECT_FALSE(Exists(scratch.root + "/evil.txt"));
    EXPECT_FALSE(Exists(scratch.root + "/evil2.txt"));
    EXPECT_FALSE(Exists("/tmp/evil.txt"));
}

TEST_F(ImportScripted, ServerDownGivesOneBoxPerCycleAndPollingResumes) {
    std::atomic<bool> down{true};
    server.Handle("USER", [&down](testsrv::ScriptedSession& session, const std::string&) {
        if (down)
            session.CloseControl();
        else
            session.Send("331 Password required\r\n");
    });
    ServeUnixFolder();
    config.CheckInterval = 1;
    TMonitorFTP monitor(config, log.Sink(), scratch.registerPath);

    // The timer drives the cycles: the first one fails and is reported once...
    ASSERT_TRUE(WaitUntil([&] { return !log.boxes.empty(); }));
    EXPECT_EQ(log.boxes.size(), 1u);
    EXPECT_FALSE(monitor.Checker().Busy());
    EXPECT_FALSE(monitor.Checker().Session().IsConnected());
    EXPECT_TRUE(monitor.Checker().isActive());

    // ...and once the server is back, the next tick fetches.
    down = false;
    ASSERT_TRUE(WaitUntil([&] { return Exists(scratch.local + "/a.txt"); }));
    EXPECT_EQ(ReadFile(scratch.local + "/a.txt"), "hello");
    EXPECT_LE(log.boxes.size(), 2u);
}

TEST_F(ImportScripted, PollIntervalsAndTheFirstTick) {
    ServeUnixFolder();
    {
        config.CheckInterval = 0; // never polls
        TMonitorFTP monitor(config, log.Sink(), scratch.registerPath);
        EXPECT_FALSE(monitor.Checker().isActive());
        RunEventsFor(std::chrono::milliseconds(300));
        EXPECT_EQ(server.SessionsAccepted(), 0);
        EXPECT_EQ(monitor.Checker().KeepAliveTimer().interval(), 10000);
        EXPECT_TRUE(monitor.Checker().KeepAliveTimer().isActive());
    }
    config.CheckInterval = 1;
    TMonitorFTP monitor(config, log.Sink(), scratch.registerPath);
    EXPECT_EQ(monitor.Checker().interval(), 1000);
    RunEventsFor(std::chrono::milliseconds(300)); // no poll at the start
    EXPECT_EQ(server.SessionsAccepted(), 0);
    ASSERT_TRUE(WaitUntil([&] { return Exists(scratch.local + "/a.txt"); }));
}

TEST_F(ImportScripted, SetUpFailuresLeaveNoMonitor) {
    config.Port = "21x";
    EXPECT_THROW(TMonitorFTP(config, log.Sink(), scratch.registerPath), EConvertError);
    config.Port = std::to_string(server.Port());
    ASSERT_EQ(::mkdir(scratch.registerPath.c_str(), 0700), 0); // present, not readable
    EXPECT_THROW(TMonitorFTP(config, log.Sink(), scratch.registerPath), EIdException);
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(ImportScripted, MasterSwitchOffWritesNothing) {
    ServeUnixFolder();
    LogMonitor = false;
    {
        TMonitorFTP monitor(config, log.Sink(), scratch.registerPath);
        monitor.Checker().PollCycle();
    }
    EXPECT_EQ(ReadFile(scratch.local + "/a.txt"), "hello");
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(ImportScripted, SwitchChangedBetweenTwoLinesGovernsTheNextOne) {
    ServeUnixFolder();
    server.Reply("DELE", "250 Deleted\r\n");
    config.MoveDelete = true;
    log.onLine = [](const LogLine& line) {
        if (line.text == "Import > Getting file \"a.txt\"")
            LogFileTransfer = false;
        if (line.text == "Import > Deleting file ...")
            LogMonitor = false;
    };
    TMonitorFTP monitor(config, log.Sink(), scratch.registerPath);
    monitor.Checker().PollCycle();

    ASSERT_GE(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[log.lines.size() - 2].text, "Import > Getting file \"a.txt\"");
    EXPECT_EQ(log.lines.back().text, "Import > Deleting file ...");
    EXPECT_EQ(log.lines.back().colour, clHotLight);
    EXPECT_EQ(CommandCount("DELE a.txt"), 1u);
    EXPECT_TRUE(monitor.Checker().LocalFileList().Contains("a.txt"));
}

} // namespace

namespace {

// A tick that falls due while a cycle still runs is dropped: the next cycle comes a whole
// interval after the long one, not straight after it.
TEST_F(ImportScripted, TickDueDuringALongCycleIsDropped) {
    server.Handle("LIST", testsrv::ServeData(kUnixListing));
    auto serve = testsrv::ServeData("hello");
    server.Handle("RETR", [serve](testsrv::ScriptedSession& session, const std::string& line) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500)); // longer than the interval
        serve(session, line);
    });
    config.KeepAlive = false;
    config.CheckInterval = 1;
    TMonitorFTP monitor(config, log.Sink(), scratch.registerPath);
    ASSERT_TRUE(WaitUntil([&] { return log.Count("Import > Getting file \"a.txt\" done") == 1; }));
    RunEventsFor(std::chrono::milliseconds(500));
    EXPECT_EQ(CommandCount("LIST"), 1u);
    EXPECT_TRUE(WaitUntil([&] { return CommandCount("LIST") == 2; }, std::chrono::seconds(5)));
}

} // namespace

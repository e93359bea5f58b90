// What the import says about a file or a server that keeps failing: a refused file is tried
// again on a growing schedule instead of at every cycle, a name that cannot be used here is
// named once, and no failure ever gives an empty line or an empty box.
#include "ImportTestSupport.h"

#include "config/LogSwitches.h"
#include "import/MonitorFTPUnit.h"
#include "servers/ScriptedFtpServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>

using namespace importtest;
using namespace std::chrono_literals;

namespace {

std::string UnixLine(const std::string& name, int size) {
    return "-rw-r--r--   1 user     group    " + std::to_string(size) + " Jan 15 10:30 " + name +
           "\r\n";
}

class ImportQuietFailures : public ::testing::Test {
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
    // The LIST handler serves whatever `listing` holds at the time.
    void ServeListing() {
        server.Handle("LIST", [this](testsrv::ScriptedSession& session, const std::string& line) {
            std::string now;
            {
                std::lock_guard<std::mutex> lock(mutex);
                now = listing;
            }
            testsrv::ServeData(now)(session, line);
        });
    }
    void SetListing(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex);
        listing = text;
    }

    Scratch scratch;
    Recorder log;
    testsrv::ScriptedFtpServer server;
    RConfiguration config;
    std::mutex mutex;
    std::string listing;
};

TEST_F(ImportQuietFailures, RefusedFileIsTriedOnAGrowingScheduleAndAtOnceWhenItChanges) {
    ServeListing();
    SetListing(UnixLine("bad.txt", 10) + UnixLine("good.txt", 4));
    server.Handle("RETR", [](testsrv::ScriptedSession& session, const std::string& line) {
        if (line == "RETR good.txt")
            testsrv::ServeData("good")(session, line);
        else
            session.Send("550 Refused.\r\n");
    });
    TMonitorFTP monitor(config, log.Sink(), scratch.registerPath);
    std::chrono::steady_clock::time_point now{};
    monitor.Checker().SetRetrySchedule({2s, 4s}, [&now] { return now; });

    struct Cycle {
        int second;       // when the cycle runs
        int size;         // bad.txt's size in the listing
        bool tried;       // RETR bad.txt in this cycle
        const char* next; // the hot-light line after the failure
    };
    const Cycle cycles[] = {
        {0, 10, true, "at the next check"},
        {1, 10, true, "in 2 s"},
        {2, 10, false, ""},
        {3, 10, true, "in 4 s"},
        {6, 10, false, ""},
        {7, 10, true, "in 4 s"},
        {10, 10, false, ""},
        {11, 10, true, "in 4 s"},
        {12, 11, true, "at the next check"}, // it changed on the server: at once, from the start
        {13, 11, true, "in 2 s"},
        {14, 11, false, ""},
    };
    for (const Cycle& cycle : cycles) {
        SCOPED_TRACE("second " + std::to_string(cycle.second));
        now = std::chrono::steady_clock::time_point{} + std::chrono::seconds(cycle.second);
        SetListing(UnixLine("bad.txt", cycle.size) + UnixLine("good.txt", 4));
        const size_t before = CommandCount("RETR bad.txt");
        log.lines.clear();
        monitor.Checker().PollCycle();
        EXPECT_EQ(CommandCount("RETR bad.txt") - before, cycle.tried ? 1u : 0u);
        // Each try keeps its two red lines, then says when the next one is due.
        std::vector<std::string> said;
        for (const LogLine& line : log.lines)
            if (line.colour == clRed || line.text.find("bad.txt") != std::string::npos)
                said.push_back(line.text);
        if (cycle.tried)
            EXPECT_EQ(said,
                      (std::vector<std::string>{
                          "Import > Getting file \"bad.txt\"",
                          "Import > bad.txt is not a file or is demaged.", "Import > Refused.",
                          std::string("Import > Next try of \"bad.txt\" ") + cycle.next + "."}));
        else
            EXPECT_EQ(said, std::vector<std::string>{});
    }
    EXPECT_EQ(CommandCount("RETR good.txt"), 1u);
    EXPECT_EQ(ReadFile(scratch.local + "/good.txt"), "good");
    EXPECT_TRUE(log.boxes.empty());
}

TEST_F(ImportQuietFailures, NameThatCannotBeUsedHereIsNamedOnceNotEveryCycle) {
    const std::string tooLong(256, 'x');
    const std::vector<std::string> unusable = {"back\\slash.txt", tooLong};
    ServeListing();
    SetListing(UnixLine(unusable[0], 3) + UnixLine(tooLong, 3) + UnixLine("fine.txt", 3));
    server.Handle("RETR", testsrv::ServeData("abc"));
    TMonitorFTP monitor(config, log.Sink(), scratch.registerPath);
    for (int cycle = 0; cycle < 3; ++cycle)
        monitor.Checker().PollCycle();
    for (const std::string& name : unusable) {
        SCOPED_TRACE(name.substr(0, 20));
        size_t named = 0;
        for (const LogLine& line : log.lines)
            if (line.text.find("\"" + name + "\"") != std::string::npos) {
                EXPECT_EQ(line.colour, clHotLight);
                ++named;
            }
        EXPECT_EQ(named, 1u);
        EXPECT_EQ(CommandCount("RETR " + name), 0u);
    }
    EXPECT_EQ(ReadFile(scratch.local + "/fine.txt"), "abc");
    EXPECT_EQ(log.CountColour(clRed), 0u);
    // Gone from the listing and back: worth one more line.
    SetListing(UnixLine("fine.txt", 3));
    monitor.Checker().PollCycle();
    SetListing(UnixLine(unusable[0], 3));
    monitor.Checker().PollCycle();
    EXPECT_EQ(log.Count("Import > File \"back\\slash.txt\" is not fetched: a name with a path "
                        "separator cannot be used here."),
              2u);
}

TEST_F(ImportQuietFailures, FailuresWithoutAMessageSayWhatWasBeingDoneAndWhere) {
    using Server = testsrv::ScriptedFtpServer;
    auto refuse = [](testsrv::ScriptedSession& session, const std::string&) {
        session.Send("550 \r\n"); // a code and nothing else
    };
    struct Row {
        const char* what;
        std::function<void(RConfiguration&, Server&)> setUp;
        std::string said; // "@" stands for 127.0.0.1:port, "#" for the port
        bool box;
    };
    const Row rows[] = {
        {"no host", [](RConfiguration& c, Server&) { c.Host = ""; },
         "Failed while connecting to (no host):#.", true},
        {"port 0", [](RConfiguration& c, Server&) { c.Port = "0"; },
         "Failed while connecting to 127.0.0.1:0.", true},
        {"login refused", [&](RConfiguration&, Server& s) { s.Handle("PASS", refuse); },
         "Failed while logging in on @.", true},
        {"folder refused",
         [&](RConfiguration& c, Server& s) {
             c.RemoteFolder = "in";
             s.Handle("CWD", refuse);
         },
         "Cannot change to folder \"in\" on @.", true},
        {"listing refused", [&](RConfiguration&, Server& s) { s.Handle("LIST", refuse); },
         "Failed while listing the folder on @.", true},
        {"download refused", [&](RConfiguration&, Server& s) { s.Handle("RETR", refuse); },
         "Failed while fetching \"a.txt\" from @.", false},
        {"delete refused",
         [&](RConfiguration& c, Server& s) {
             c.MoveDelete = true;
             s.Handle("DELE", refuse);
         },
         "Deleting file ... error: Failed while deleting \"a.txt\" on @.", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Server rowServer;
        rowServer.Handle("LIST", testsrv::ServeData(UnixLine("a.txt", 3)));
        rowServer.Handle("RETR", testsrv::ServeData("abc"));
        RConfiguration settings = LocalServerConfig(scratch, rowServer.Port(), "u", "p");
        row.setUp(settings, rowServer);
        std::string said = row.said;
        const std::string port = std::to_string(rowServer.Port());
        if (size_t at = said.find('@'); at != std::string::npos)
            said.replace(at, 1, "127.0.0.1:" + port);
        if (size_t hash = said.find('#'); hash != std::string::npos)
            said.replace(hash, 1, port);
        ::unlink(scratch.registerPath.c_str());
        ::unlink((scratch.local + "/a.txt").c_str());
        log.lines.clear();
        log.boxes.clear();
        {
            TMonitorFTP monitor(settings, log.Sink(), scratch.registerPath);
            monitor.Checker().PollCycle();
        }
        RunEventsFor(100ms); // a box opens once no cycle runs
        for (const LogLine& line : log.lines)
            EXPECT_NE(line.text.find_first_not_of(" \r\n", 9), std::string::npos)
                << "empty line: [" << line.text << "]";
        for (const std::string& box : log.boxes)
            EXPECT_NE(box.find_first_not_of(" \r\n"), std::string::npos) << "empty box";
        EXPECT_EQ(log.Count("Import > " + said), 1u) << said;
        EXPECT_EQ(log.boxes, row.box ? std::vector<std::string>{said} : std::vector<std::string>{});
    }
}

} // namespace

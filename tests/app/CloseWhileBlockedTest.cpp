// Closing the window while the import cycle is blocked on a server that went quiet: the
// close cuts the cycle's connections, so the cycle ends at once instead of after the read
// time, the register is saved and the job stops; nothing is reported as a failure.
#include "app/MainForm.h"
#include "config/ConfigPaths.h"
#include "config/dialog/MessageBoxes.h"
#include "servers/ChildProcess.h"
#include "servers/ScriptedFtpServer.h"

#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

using namespace std::chrono_literals;

namespace {

bool ListingStalled(const testsrv::ScriptedFtpServer& server) {
    for (const std::string& command : server.Commands())
        if (command.rfind("LIST", 0) == 0 || command.rfind("MLSD", 0) == 0)
            return true;
    return false;
}

void StallData(testsrv::ScriptedSession& session, const std::string&) {
    session.Send("150 Here it comes\r\n");
    session.DataSend(""); // connected, and then nothing, not even the end
}

TEST(CloseWhileBlocked, ClosingTheWindowEndsAStalledImportCycleWithinFiveSeconds) {
    struct Case {
        const char* what;
        std::string greeting;
        bool stallListing;
        bool stopFirst; // the user stopped the monitor during the stall, then closed
        std::function<bool(const testsrv::ScriptedFtpServer&)> stalled;
    } cases[] = {
        {"server accepts and never greets", "", false, false,
         [](const testsrv::ScriptedFtpServer& s) { return s.SessionsAccepted() > 0; }},
        {"listing stalls", "220 Ready\r\n", true, false, ListingStalled},
        {"stopped during a stalled listing, then closed", "220 Ready\r\n", true, true,
         ListingStalled},
    };
    const std::string dir = testsrv::MakeTempDir("close-blocked-");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testsrv::ScriptedFtpServer server(c.greeting);
        if (c.stallListing) {
            server.Handle("LIST", StallData);
            server.Handle("MLSD", StallData);
        }
        // The first poll comes one interval after the start.
        std::ofstream(tavrin::ConfigFilePath())
            << "[Import]\nHost=127.0.0.1\nPort=" << server.Port()
            << "\nUsername=u\nPassword=p\nKeepAlive=0\nCheckInterval=1\nLocalFolder=" << dir
            << "\n";
        std::remove(tavrin::RegisterFilePath().c_str());
        tavrin::TMessageRecorder boxes;

        TfmMainForm window;
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        window.Startimportmonitor1->trigger();
        tavrin::jobs::TJob& job = *window.Jobs().Find("Import");
        ASSERT_EQ(job.State(), tavrin::jobs::TJobState::Running);

        // The cycle blocks the job's worker; the window's thread stays free for the close.
        ASSERT_TRUE(QTest::qWaitFor([&] { return c.stalled(server); }, 20000));
        if (c.stopFirst)
            window.Startimportmonitor1->trigger();
        const auto closedAt = std::chrono::steady_clock::now();
        window.close();
        EXPECT_LE(std::chrono::steady_clock::now() - closedAt, 5s);
        EXPECT_EQ(job.State(), tavrin::jobs::TJobState::Stopped);
        EXPECT_TRUE(std::filesystem::exists(tavrin::RegisterFilePath()));
        QTest::qWait(100); // an error box would be queued by now
        EXPECT_TRUE(boxes.Messages().empty()) << boxes.Messages().front().Text;
    }
    std::filesystem::remove_all(dir);
    std::remove(tavrin::ConfigFilePath().c_str());
}

} // namespace

// Closing the window while the import cycle is blocked on a server that went quiet: the
// close cuts the cycle's connections, so the cycle ends at once instead of after the read
// time, the register is saved and the poller goes; nothing is reported as a failure.
#include "app/MainForm.h"
#include "config/ConfigPaths.h"
#include "config/dialog/MessageBoxes.h"
#include "servers/ChildProcess.h"
#include "servers/ScriptedFtpServer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QTest>
#include <QTimer>

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
        std::ofstream(tavrin::ConfigFilePath())
            << "[Import]\nHost=127.0.0.1\nPort=" << server.Port()
            << "\nUsername=u\nPassword=p\nKeepAlive=1\nLocalFolder=" << dir << "\n";
        std::remove(tavrin::RegisterFilePath().c_str());
        tavrin::TMessageRecorder boxes;

        TfmMainForm window;
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        window.Startimportmonitor1->trigger();
        ASSERT_TRUE(window.ImportMonitor);
        QPointer<QObject> poller(&window.ImportMonitor->Checker());

        // The cycle below blocks this thread; the close comes from the events its wait
        // keeps handling, as a click or a logout would.
        std::chrono::steady_clock::time_point closedAt{};
        QTimer watch;
        watch.setInterval(20);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (closedAt == std::chrono::steady_clock::time_point{} && c.stalled(server)) {
                if (c.stopFirst)
                    window.Startimportmonitor1->trigger();
                closedAt = std::chrono::steady_clock::now();
                window.close();
            }
        });
        watch.start();
        window.ImportMonitor->Checker().PollCycle();
        const auto ended = std::chrono::steady_clock::now();
        watch.stop();

        ASSERT_NE(closedAt, std::chrono::steady_clock::time_point{}) << "the cycle never stalled";
        EXPECT_LE(ended - closedAt, 5s);
        EXPECT_FALSE(window.ImportMonitor);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(poller.isNull()) << "the poller deletes itself after its cycle";
        EXPECT_TRUE(std::filesystem::exists(tavrin::RegisterFilePath()));
        QTest::qWait(100); // an error box would be queued by now
        EXPECT_TRUE(boxes.Messages().empty()) << boxes.Messages().front().Text;
    }
    std::filesystem::remove_all(dir);
    std::remove(tavrin::ConfigFilePath().c_str());
}

} // namespace

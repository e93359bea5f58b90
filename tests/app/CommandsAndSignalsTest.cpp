// Monitor commands that arrive while a stop is still talking to the server are ignored, so
// captions, panels, images and jobs always agree; and SIGTERM, SIGINT and SIGHUP close
// the window the way Exit does: monitors stopped, the register saved.
#include "app/MainForm.h"
#include "app/SignalCloser.h"
#include "config/ConfigPaths.h"
#include "config/LogSwitches.h"
#include "config/dialog/MessageBoxes.h"
#include "config/dialog/SettingsForm.h"
#include "servers/ChildProcess.h"
#include "servers/ScriptedFtpServer.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>

using namespace std::chrono_literals;

namespace {

class CommandsAndSignals : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = testsrv::MakeTempDir("commands-");
        server_.Handle("LIST", testsrv::ServeData("-rw-r--r-- 1 u g 5 Jan 01 00:00 held.txt\r\n"));
        server_.Handle("RETR", testsrv::ServeData("bytes"));
        // QUIT is answered only once the test lets it: the stop stays under way meanwhile.
        server_.Handle("QUIT", [this](testsrv::ScriptedSession& session, const std::string&) {
            for (int i = 0; i < 1000 && holdQuit_; ++i)
                std::this_thread::sleep_for(10ms);
            session.Send("221 Goodbye\r\n");
            session.CloseControl();
        });
        std::ofstream(tavrin::ConfigFilePath())
            << "[Import]\nHost=127.0.0.1\nPort=" << server_.Port()
            << "\nUsername=u\nPassword=p\nKeepAlive=1\nWaitForStableFiles=0\nLocalFolder=" << dir_
            << "\n[Export]\nHost=127.0.0.1\nLocalFolder=" << dir_ << "\n";
        std::remove(tavrin::RegisterFilePath().c_str());
    }
    void TearDown() override {
        holdQuit_ = false;
        std::remove(tavrin::ConfigFilePath().c_str());
        std::remove(tavrin::RegisterFilePath().c_str());
        std::filesystem::remove_all(dir_);
        LogMonitor = LogFileTransfer = LogSSL = LogVerbose = true;
    }
    static bool ShowsImportStopped(const TfmMainForm& w) {
        return w.Startimportmonitor1->text() == "Start IMPORT monitor" &&
               w.StatusPanelText(0) == "Import monitor: STOPPED" &&
               TfmMainForm::ButtonImage(w.tbtnImport) == 1;
    }
    static bool ShowsImportActive(const TfmMainForm& w) {
        return w.Startimportmonitor1->text() == "Stop IMPORT monitor" &&
               w.StatusPanelText(0) == "Import monitor: ACTIVE" &&
               TfmMainForm::ButtonImage(w.tbtnImport) == 0;
    }
    static QStringList Log(const TfmMainForm& window) {
        QCoreApplication::processEvents();
        QStringList lines;
        for (int row = 0; row < window.LogLines->rowCount(); ++row)
            lines << QString::fromStdString(window.LogLines->Line(row).Text);
        return lines;
    }
    static tavrin::jobs::TJobState State(TfmMainForm& window, const char* job) {
        return window.Jobs().Find(job)->State();
    }
    // Starts the import monitor and waits for its first cycle to end: connected (keep-alive),
    // the file fetched (now or in an earlier run).
    void StartConnectedImport(TfmMainForm& window) {
        const size_t listedBefore = Count("LIST");
        window.Startimportmonitor1->trigger();
        ASSERT_EQ(State(window, "Import"), tavrin::jobs::TJobState::Running);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return std::filesystem::exists(dir_ + "/held.txt") && Count("LIST") > listedBefore;
            },
            20000))
            << Log(window).join('\n').toStdString();
        quitsBefore_ = Count("QUIT");
    }
    size_t Count(const std::string& command) const {
        const auto commands = server_.Commands();
        return static_cast<size_t>(
            std::count_if(commands.begin(), commands.end(),
                          [&](const std::string& c) { return c.rfind(command, 0) == 0; }));
    }
    bool QuitArrived() const { return Count("QUIT") > quitsBefore_; }

    std::string dir_;
    testsrv::ScriptedFtpServer server_;
    std::atomic<bool> holdQuit_{true};
    size_t quitsBefore_ = 0;
    tavrin::TMessageRecorder boxes_;
};

TEST_F(CommandsAndSignals, CommandsDuringASlowStopAreIgnored) {
    // What arrives while the stop waits for the server's goodbye: the user clicks the tool
    // button again, or chooses the menu item, or saves the settings (which restarts what runs).
    enum class Arrives { ToolButton, MenuItem, SettingsSaved };
    for (Arrives arrives : {Arrives::ToolButton, Arrives::MenuItem, Arrives::SettingsSaved}) {
        SCOPED_TRACE(static_cast<int>(arrives));
        holdQuit_ = true;
        TfmMainForm window;
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        StartConnectedImport(window);

        window.tbtnImport->click(); // the stop: QUIT, held by the server
        ASSERT_TRUE(QTest::qWaitFor([&] { return QuitArrived(); }, 10000));
        EXPECT_EQ(State(window, "Import"), tavrin::jobs::TJobState::Stopping);
        EXPECT_TRUE(ShowsImportStopped(window));
        switch (arrives) {
        case Arrives::ToolButton:
            window.tbtnImport->click();
            break;
        case Arrives::MenuItem:
            window.Startimportmonitor1->trigger();
            break;
        case Arrives::SettingsSaved:
            QTimer::singleShot(0, [] {
                if (auto* dialog = qobject_cast<TfrmSettings*>(QApplication::activeModalWidget()))
                    dialog->btnSave->click();
            });
            window.Settings1->trigger();
            break;
        }
        holdQuit_ = false;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return State(window, "Import") == tavrin::jobs::TJobState::Stopped; }, 10000));
        EXPECT_TRUE(ShowsImportStopped(window));
        QTest::qWait(20);
        EXPECT_EQ(State(window, "Import"), tavrin::jobs::TJobState::Stopped)
            << "nothing started behind the window's back";
        EXPECT_EQ(Log(window).filter("Monitor started").size(), 1);

        // Afterwards the commands work again.
        window.tbtnImport->click();
        EXPECT_EQ(State(window, "Import"), tavrin::jobs::TJobState::Running);
        EXPECT_TRUE(ShowsImportActive(window));
        window.tbtnImport->click();
        EXPECT_TRUE(ShowsImportStopped(window));
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return State(window, "Import") == tavrin::jobs::TJobState::Stopped; }, 10000));
    }
}

TEST_F(CommandsAndSignals, TermIntAndHupCloseTheWindowWithMonitorsStoppedAndRegisterSaved) {
    holdQuit_ = false;
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        std::remove(tavrin::RegisterFilePath().c_str());
        std::filesystem::remove(dir_ + "/held.txt");
        TfmMainForm window;
        TSignalCloser closer(&window);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        StartConnectedImport(window);
        window.StartEXPORTmonitor1->trigger();
        ASSERT_EQ(State(window, "Export"), tavrin::jobs::TJobState::Running);

        ASSERT_EQ(::kill(::getpid(), signal), 0);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !window.isVisible(); }, 10000));
        EXPECT_EQ(closer.LastSignal(), signal);
        EXPECT_EQ(State(window, "Import"), tavrin::jobs::TJobState::Stopped);
        EXPECT_EQ(State(window, "Export"), tavrin::jobs::TJobState::Stopped);
        const QStringList log = Log(window);
        EXPECT_LT(log.indexOf("Export > Monitor closed"), log.indexOf("Import > Monitor closed"));
        EXPECT_GE(log.indexOf("Export > Monitor closed"), 0);
        EXPECT_EQ(testsrv::ReadWholeFile(tavrin::RegisterFilePath()).substr(0, 8), "held.txt");
        EXPECT_TRUE(QuitArrived()) << "the connection was closed politely";
    }
    // The closers put the old handlers back: ignoring SIGHUP is still ours to choose.
    struct sigaction now {};
    sigaction(SIGTERM, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
}

} // namespace

// Starting and stopping the monitors from the window: captions, panels and images follow the
// monitor fields, a failed start leaves the direction stopped, a confirmed settings dialog
// restarts what runs (import first), and closing the window destroys export first.
#include "app/MainForm.h"
#include "config/ConfigPaths.h"
#include "config/LogSwitches.h"
#include "config/dialog/MessageBoxes.h"
#include "config/dialog/SettingsForm.h"

#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <filesystem>

#include <cstdio>
#include <fstream>

namespace {

// Both directions set up so that nothing goes on the network: the import monitor never polls
// (no keep-alive, interval 0) and the export monitor watches an empty temporary folder.
class MonitorControl : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.isValid());
        WriteSettings("21");
    }
    void TearDown() override {
        std::remove(tavrin::ConfigFilePath().c_str());
        LogMonitor = LogFileTransfer = LogSSL = LogVerbose = true;
    }
    void WriteSettings(const std::string& importPort) {
        const std::string dir = folder_.path().toStdString();
        std::ofstream(tavrin::ConfigFilePath())
            << "[Import]\nHost=127.0.0.1\nPort=" << importPort << "\nKeepAlive=0\nCheckInterval=0\n"
            << "LocalFolder=" << dir << "\n[Export]\nLocalFolder=" << dir
            << "\nHost=127.0.0.1\nPort=21\n";
    }
    static tavrin::jobs::TJobState State(TfmMainForm& window, const char* job) {
        return window.Jobs().Find(job)->State();
    }
    static bool Running(TfmMainForm& window, const char* job) {
        return State(window, job) == tavrin::jobs::TJobState::Running;
    }
    // A stop ends on the job's worker; the window hears of it through its event loop.
    static bool WaitStopped(TfmMainForm& window, const char* job) {
        return QTest::qWaitFor(
            [&] { return State(window, job) == tavrin::jobs::TJobState::Stopped; }, 10000);
    }
    QStringList Log(const TfmMainForm& window) const {
        QCoreApplication::processEvents(); // lines from other threads land on a later turn
        QStringList lines;
        for (int row = 0; row < window.LogLines->rowCount(); ++row)
            lines << QString::fromStdString(window.LogLines->Line(row).Text);
        return lines;
    }

    QTemporaryDir folder_;
    tavrin::TMessageRecorder boxes_;
};

TEST_F(MonitorControl, StartAndStopToggleCaptionsPanelsAndImages) {
    TfmMainForm window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    window.Startimportmonitor1->trigger();
    ASSERT_TRUE(Running(window, "Import"));
    EXPECT_EQ(window.Startimportmonitor1->text(), "Stop IMPORT monitor");
    EXPECT_EQ(window.StatusPanelText(0), "Import monitor: ACTIVE");
    EXPECT_EQ(TfmMainForm::ButtonImage(window.tbtnImport), 0);

    window.tbtnExport->click(); // the tool button does what the menu item does
    ASSERT_TRUE(Running(window, "Export"));
    EXPECT_EQ(window.StartEXPORTmonitor1->text(), "Stop EXPORT monitor");
    EXPECT_EQ(window.StatusPanelText(1), "Export monitor: ACTIVE");
    EXPECT_EQ(TfmMainForm::ButtonImage(window.tbtnExport), 2);
    EXPECT_EQ(window.tbtnExport->text(), "Export monitor"); // captions never change

    window.tbtnImport->click();
    EXPECT_EQ(window.StatusPanelText(0), "Import monitor: STOPPED"); // at once, while it stops
    ASSERT_TRUE(WaitStopped(window, "Import"));
    window.StartEXPORTmonitor1->trigger();
    ASSERT_TRUE(WaitStopped(window, "Export"));
    EXPECT_EQ(window.Startimportmonitor1->text(), "Start IMPORT monitor");
    EXPECT_EQ(window.StatusPanelText(0), "Import monitor: STOPPED");
    EXPECT_EQ(TfmMainForm::ButtonImage(window.tbtnImport), 1);
    EXPECT_EQ(window.StatusPanelText(1), "Export monitor: STOPPED");
    EXPECT_EQ(TfmMainForm::ButtonImage(window.tbtnExport), 3);
    EXPECT_EQ(Log(window), QStringList({"Import > Monitor started", "Export > Monitor started",
                                        "Import > Monitor closed", "Export > Monitor closed"}));
    EXPECT_TRUE(boxes_.Messages().empty());
}

TEST_F(MonitorControl, BadPortLeavesTheDirectionStoppedWithTheErrorBox) {
    WriteSettings("21x");
    TfmMainForm window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.Startimportmonitor1->trigger();
    EXPECT_FALSE(Running(window, "Import"));
    EXPECT_EQ(window.Startimportmonitor1->text(), "Start IMPORT monitor");
    EXPECT_EQ(window.StatusPanelText(0), "Import monitor: STOPPED");
    EXPECT_EQ(boxes_.Texts(tavrin::TMessageKind::mkError),
              std::vector<std::string>{
                  "Import monitor not started:\n'21x' is not a valid integer value"});
    EXPECT_TRUE(Log(window).isEmpty());
}

// A monitor that could not do any work is not started: one box names everything that is
// missing, the direction stays stopped and no line is written.
TEST_F(MonitorControl, SettingsThatCannotWorkLeaveTheDirectionStoppedWithOneMessage) {
    const std::string dir = folder_.path().toStdString();
    const std::string gone = dir + "/gone";
    struct Case {
        const char* what;
        bool import;
        std::string section; // keys of that direction's section
        std::vector<std::string> named;
    } cases[] = {
        {"first start, no settings at all",
         true,
         "",
         {"Host is empty", "Import folder is not set"}},
        {"empty host", true, "Host=\nPort=21\nLocalFolder=" + dir, {"Host is empty"}},
        {"host and port both wrong",
         true,
         "Host= \nPort=x1\nLocalFolder=" + dir,
         {"Host is empty", "'x1' is not a valid integer value"}},
        {"import folder gone",
         true,
         "Host=127.0.0.1\nPort=21\nLocalFolder=" + gone,
         {"Import folder \"" + gone + "\" does not exist"}},
        {"staging folder not set",
         true,
         "Host=127.0.0.1\nPort=21\nFirstToTemp=1\nLocalFolder=" + dir,
         {"Staging folder is not set"}},
        {"export, no settings at all", false, "", {"Host is empty", "Export folder is not set"}},
        {"export folder gone",
         false,
         "Host=127.0.0.1\nPort=21\nLocalFolder=" + gone,
         {"Export folder \"" + gone + "\" does not exist"}},
        {"export moves sent files but names no folder for them",
         false,
         "Host=127.0.0.1\nPort=21\nMoveDelete=1\nMoveToFolder= \nLocalFolder=" + dir,
         {"Folder for exported files is not set"}},
        {"export TLS key unreadable",
         false,
         "Host=127.0.0.1\nPort=21\nSSL=1\nSSLKey=" + gone + "/key.pem\nLocalFolder=" + dir,
         {"Cannot read TLS key \"" + gone + "/key.pem\""}},
        {"password file others may read",
         true,
         "Host=127.0.0.1\nPort=21\nLocalFolder=" + dir + "\nPasswordFile=" + dir + "/shared",
         {"Password file \"" + dir + "/shared\" may be used by other users (mode 0644)"}},
        {"export password file missing, host empty",
         false,
         "Host=\nLocalFolder=" + dir + "\nPasswordFile=" + gone,
         {"Host is empty", "Password file \"" + gone + "\" cannot be read"}},
    };
    std::ofstream(dir + "/shared") << "pw\n";
    std::filesystem::permissions(dir + "/shared", std::filesystem::perms(0644));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::ofstream(tavrin::ConfigFilePath())
            << (c.import ? "[Import]\n" : "[Export]\n") << c.section << "\n";
        boxes_.Clear();
        TfmMainForm window;
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        (c.import ? window.Startimportmonitor1 : window.StartEXPORTmonitor1)->trigger();
        EXPECT_EQ(State(window, c.import ? "Import" : "Export"),
                  tavrin::jobs::TJobState::FailedToStart);
        EXPECT_EQ(window.StatusPanelText(c.import ? 0 : 1),
                  c.import ? "Import monitor: STOPPED" : "Export monitor: STOPPED");
        const auto shown = boxes_.Texts(tavrin::TMessageKind::mkError);
        EXPECT_EQ(shown.size(), 1u) << (shown.empty() ? "" : shown.back());
        if (shown.empty())
            continue;
        EXPECT_EQ(shown[0].rfind(c.import ? "Import monitor not started:\n"
                                          : "Export monitor not started:\n",
                                 0),
                  0u)
            << shown[0];
        for (const std::string& named : c.named)
            EXPECT_NE(shown[0].find(named), std::string::npos) << shown[0];
        EXPECT_TRUE(Log(window).isEmpty()) << Log(window).join("|").toStdString();
    }
}

TEST_F(MonitorControl, SavedSettingsRestartRunningMonitorsImportFirst) {
    TfmMainForm window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.Startimportmonitor1->trigger();
    window.StartEXPORTmonitor1->trigger();

    // Press Save once the modal dialog is up (the "Settings saved." box goes to the recorder).
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<TfrmSettings*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->btnSave->click();
    });
    window.Settings1->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.Jobs().Restarting(); }, 10000));

    EXPECT_TRUE(Running(window, "Import") && Running(window, "Export"));
    EXPECT_EQ(boxes_.Texts(tavrin::TMessageKind::mkInformation),
              std::vector<std::string>{"Settings saved."});
    const QStringList log = Log(window);
    ASSERT_GE(log.size(), 6);
    EXPECT_EQ(log.mid(2), QStringList({"Import > Monitor closed", "Import > Monitor started",
                                       "Export > Monitor closed", "Export > Monitor started"}));
}

TEST_F(MonitorControl, CancelledSettingsRestartNothingAndClosingDestroysExportFirst) {
    TfmMainForm window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.Startimportmonitor1->trigger();
    window.StartEXPORTmonitor1->trigger();

    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<TfrmSettings*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->btnCancel->click();
    });
    window.tbtnSettings->click();
    EXPECT_TRUE(Running(window, "Import") && Running(window, "Export"));
    EXPECT_EQ(Log(window).size(), 2);

    window.close();
    EXPECT_EQ(State(window, "Import"), tavrin::jobs::TJobState::Stopped);
    EXPECT_EQ(State(window, "Export"), tavrin::jobs::TJobState::Stopped);
    EXPECT_EQ(Log(window).mid(2),
              QStringList({"Export > Monitor closed", "Import > Monitor closed"}));
    // Closing does not touch the captions and panels.
    EXPECT_EQ(window.StatusPanelText(0), "Import monitor: ACTIVE");
}

} // namespace

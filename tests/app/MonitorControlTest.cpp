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
    ASSERT_TRUE(window.ImportMonitor);
    EXPECT_EQ(window.Startimportmonitor1->text(), "Stop IMPORT monitor");
    EXPECT_EQ(window.StatusPanelText(0), "Import monitor: ACTIVE");
    EXPECT_EQ(TfmMainForm::ButtonImage(window.tbtnImport), 0);

    window.tbtnExport->click(); // the tool button does what the menu item does
    ASSERT_TRUE(window.ExportMonitor);
    EXPECT_EQ(window.StartEXPORTmonitor1->text(), "Stop EXPORT monitor");
    EXPECT_EQ(window.StatusPanelText(1), "Export monitor: ACTIVE");
    EXPECT_EQ(TfmMainForm::ButtonImage(window.tbtnExport), 2);
    EXPECT_EQ(window.tbtnExport->text(), "Export monitor"); // captions never change

    window.tbtnImport->click();
    window.StartEXPORTmonitor1->trigger();
    EXPECT_FALSE(window.ImportMonitor);
    EXPECT_FALSE(window.ExportMonitor);
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
    EXPECT_FALSE(window.ImportMonitor);
    EXPECT_EQ(window.Startimportmonitor1->text(), "Start IMPORT monitor");
    EXPECT_EQ(window.StatusPanelText(0), "Import monitor: STOPPED");
    EXPECT_EQ(boxes_.Texts(tavrin::TMessageKind::mkError),
              std::vector<std::string>{"'21x' is not a valid integer value"});
    EXPECT_TRUE(Log(window).isEmpty());
}

TEST_F(MonitorControl, SavedSettingsRestartRunningMonitorsImportFirst) {
    TfmMainForm window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.Startimportmonitor1->trigger();
    window.StartEXPORTmonitor1->trigger();
    const TMonitorFTP* oldImport = window.ImportMonitor.get();

    // Press Save once the modal dialog is up (the "Settings saved." box goes to the recorder).
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<TfrmSettings*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->btnSave->click();
    });
    window.Settings1->trigger();

    EXPECT_TRUE(window.ImportMonitor && window.ExportMonitor);
    EXPECT_NE(window.ImportMonitor.get(), oldImport);
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
    const TFolderMonitor* exportMonitor = window.ExportMonitor.get();

    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<TfrmSettings*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->btnCancel->click();
    });
    window.tbtnSettings->click();
    EXPECT_EQ(window.ExportMonitor.get(), exportMonitor);
    EXPECT_EQ(Log(window).size(), 2);

    window.close();
    EXPECT_FALSE(window.ImportMonitor);
    EXPECT_FALSE(window.ExportMonitor);
    EXPECT_EQ(Log(window).mid(2),
              QStringList({"Export > Monitor closed", "Import > Monitor closed"}));
    // Closing does not touch the captions and panels.
    EXPECT_EQ(window.StatusPanelText(0), "Import monitor: ACTIVE");
}

} // namespace

// The window as the user first sees it: caption, menu, tool bar, panels, the settings loaded
// when it is shown, and Exit.
#include "app/MainForm.h"
#include "config/ConfigPaths.h"
#include "config/LogSwitches.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

namespace {

QStringList ActionTexts(const QList<QAction*>& actions) {
    QStringList texts;
    for (QAction* action : actions)
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return texts;
}

// Writes the settings file for one test and takes it away again afterwards, restoring the
// log switches that showing the window loads from it.
class SettingsFileForTest {
public:
    explicit SettingsFileForTest(const std::string& contents) : path_(tavrin::ConfigFilePath()) {
        std::ofstream(path_) << contents;
    }
    ~SettingsFileForTest() {
        std::remove(path_.c_str());
        LogMonitor = LogFileTransfer = LogSSL = LogVerbose = true;
    }

private:
    std::string path_;
};

} // namespace

TEST(MainForm, OpensWithCaptionMenuToolBarAndBothMonitorsStopped) {
    ASSERT_FALSE(std::ifstream(tavrin::ConfigFilePath()).good()) << "no settings file expected";
    TfmMainForm window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    EXPECT_EQ(window.windowTitle(), "Tavrin");
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);

    const QList<QAction*> menus = window.menuBar()->actions();
    ASSERT_EQ(menus.size(), 2);
    EXPECT_EQ(menus[0]->text(), "Monitor");
    EXPECT_EQ(menus[1]->text(), "Help");
    EXPECT_EQ(
        ActionTexts(window.Monitor1->actions()),
        QStringList({"Start IMPORT monitor", "Start EXPORT monitor", "Settings", "-", "Exit"}));
    EXPECT_EQ(window.Monitor1->actions()[0]->objectName(), "Startimportmonitor1");
    EXPECT_EQ(window.Monitor1->actions()[1]->objectName(), "StartEXPORTmonitor1");
    EXPECT_EQ(window.Monitor1->actions()[4]->objectName(), "Exit1");

    // Tool buttons from left to right, captions under their images.
    QStringList buttons;
    for (QAction* action : window.ToolBar1->actions())
        if (auto* button = qobject_cast<QToolButton*>(window.ToolBar1->widgetForAction(action)))
            buttons << button->text();
    EXPECT_EQ(buttons, QStringList({"Import monitor", "Export monitor", "Settings"}));
    EXPECT_EQ(window.tbtnImport->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    EXPECT_EQ(window.imgListLarge.Count(), 5);
    EXPECT_EQ(window.imgListSmall.Image(0).size(), QSize(16, 16));

    EXPECT_EQ(window.StatusPanelText(0), "Import monitor: STOPPED");
    EXPECT_EQ(window.StatusPanelText(1), "Export monitor: STOPPED");
    EXPECT_EQ(window.LogLines->rowCount(), 0);
    EXPECT_FALSE(window.IdAntiFreeze1.OnlyWhenIdle);
    EXPECT_EQ(TIdAntiFreezeBase::Instance(), &window.IdAntiFreeze1);

    // Defaults of a missing file.
    EXPECT_EQ(window.ImportConfig.Port, "21");
    EXPECT_EQ(window.ImportConfig.CheckInterval, 10);
    EXPECT_TRUE(window.ImportConfig.KeepAlive);
    EXPECT_EQ(window.ExportConfig.Port, "21");
    EXPECT_TRUE(window.ExportConfig.PassiveMode);
}

TEST(MainForm, ShowingLoadsBothDirectionsAndTheLogSwitchesFromTheFile) {
    SettingsFileForTest settings("[Import]\nHost=import.test\nCheckInterval=0x1E\n"
                                 "[Export]\nHost=export.test\nPassiveMode=0\n"
                                 "[General]\nLogSSL=0\nLogVerbose=0\n");
    TfmMainForm window;
    EXPECT_TRUE(window.ImportConfig.Host.empty()) << "nothing is read before the window shows";
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    EXPECT_EQ(window.ImportConfig.Host, "import.test");
    EXPECT_EQ(window.ImportConfig.CheckInterval, 30);
    EXPECT_FALSE(window.ImportConfig.PassiveMode) << "passive mode is shared with export";
    EXPECT_EQ(window.ExportConfig.Host, "export.test");
    EXPECT_FALSE(window.ExportConfig.PassiveMode);
    EXPECT_TRUE(LogMonitor);
    EXPECT_FALSE(LogSSL);
    EXPECT_FALSE(LogVerbose);
    // Settings that name a server still start nothing.
    EXPECT_EQ(window.StatusPanelText(0), "Import monitor: STOPPED");
    EXPECT_EQ(window.StatusPanelText(1), "Export monitor: STOPPED");
    EXPECT_EQ(window.LogLines->rowCount(), 0);
}

TEST(MainForm, ExitClosesTheWindow) {
    TfmMainForm window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.Exit1->trigger();
    EXPECT_FALSE(window.isVisible());
}

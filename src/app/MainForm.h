#pragma once
// The program's one window: the Monitor menu, the tool bar, the activity log and the status
// bar with one panel per direction. When first shown it loads both directions' settings and
// the log switches and shows both monitors stopped; nothing starts by itself.
#include "app/ActivityLogModel.h"
#include "app/ActivityLogView.h"
#include "app/IdAntiFreeze.h"
#include "app/ToolBarImages.h"
#include "config/CommonTypesUnit.h"
#include "config/LogEvent.h"
#include "config/LogFileWriter.h"
#include "config/SettingsFile.h"
#include "export/FolderMonitorUnit.h"
#include "import/MonitorFTPUnit.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>
#include <string>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QToolBar;
class QToolButton;

class TfmMainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TfmMainForm(QWidget* parent = nullptr);
    ~TfmMainForm() override;

    // The log sink every monitor is given. Callable from any thread; the line is appended
    // on the window's thread, in the order the calls were made.
    void AddLogLine(const void* sender, const std::string& text, TColor colour);
    TLogEvent LogEvent();

    // Status bar panel 0 tells the import monitor's state, panel 1 the export monitor's.
    void SetStatusPanel(int panel, const QString& text);
    QString StatusPanelText(int panel) const;
    // A tool button shows image `index` of imgListLarge, and of imgListSmall under the mouse.
    void SetButtonImage(QToolButton* button, int index);

    // Start or stop a direction; open the settings dialog and restart running monitors.
    void Startimportmonitor1Click();
    void StartEXPORTmonitor1Click();
    void Settings1Click();
    void tbtnSettingsClick();
    // The image index a tool button shows now.
    static int ButtonImage(const QToolButton* button);
    // Whether a start or stop of that direction is under way (a stop's QUIT keeps the event
    // loop turning); commands for that direction are ignored meanwhile.
    bool ImportSwitching() const { return importSwitching_; }
    bool ExportSwitching() const { return exportSwitching_; }

    // The "General" keys for the log: how many lines stay, and the optional log file.
    void ApplyLogKeeping(const tavrin::TLogKeepingValues& keeping);

    // Controls.
    QMenu* Monitor1 = nullptr;
    QAction* Startimportmonitor1 = nullptr;
    QAction* StartEXPORTmonitor1 = nullptr;
    QAction* Settings1 = nullptr;
    QAction* N1 = nullptr;
    QAction* Exit1 = nullptr;
    QToolBar* ToolBar1 = nullptr;
    QToolButton* tbtnImport = nullptr;
    QToolButton* tbtnExport = nullptr;
    QToolButton* tbtnSettings = nullptr;
    TActivityLogView* lstLog = nullptr;
    TActivityLogModel* LogLines = nullptr;
    const TImageList imgListLarge{32};
    const TImageList imgListSmall{16};
    TIdAntiFreeze IdAntiFreeze1;

    // A monitor field being set is what "running" means; captions, panels and images follow.
    std::unique_ptr<TFolderMonitor> ExportMonitor;
    std::unique_ptr<TMonitorFTP> ImportMonitor;

    // Settings of each direction as last loaded.
    RConfiguration ExportConfig;
    RConfiguration ImportConfig;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildMenu();
    void BuildToolBar();
    void BuildStatusBar();
    void InstallErrorMessageSink();

    void FormShow();
    void Exit1Click();
    void FormClose();
    void BindMonitorCommands();
    bool RefusedStart(const char* direction, const std::vector<std::string>& problems);
    std::vector<std::string> StartProblems(const char* job, RConfiguration& config,
                                           std::vector<std::string> problems);

    void WriteLogFileLine(const TLogLine& line, std::chrono::system_clock::time_point when);

    QLabel* statusPanels_[2] = {nullptr, nullptr};
    bool shown_ = false;
    bool importSwitching_ = false;
    bool exportSwitching_ = false;
    std::unique_ptr<tavrin::TLogFileWriter> logFile_;
    // Pollers of stopped monitors that are still finishing their cycle.
    std::vector<QPointer<TFTPChecker>> finishingPollers_;
};

#pragma once
// The program's one window: the Monitor menu, the tool bar, the activity log and the status
// bar with one panel per direction. When first shown it loads both directions' settings and
// the log switches and shows both monitors stopped; nothing starts by itself.
#include "app/ActivityLogModel.h"
#include "app/ActivityLogView.h"
#include "app/IdAntiFreeze.h"
#include "app/JobErrorBoxes.h"
#include "app/JobTablePanel.h"
#include "app/LogFilterBar.h"
#include "app/Notifier.h"
#include "app/ToolBarImages.h"
#include "app/TrayIcon.h"
#include "config/CommonTypesUnit.h"
#include "config/LogEvent.h"
#include "config/LogFileWriter.h"
#include "config/SettingsFile.h"
#include "jobs/JobSet.h"
#include "secrets/Keyring.h"

#include <QMainWindow>

#include <memory>
#include <string>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QSplitter;
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

    // The jobs: always "Import" and "Export" (the tool buttons act on them), and every
    // further job the settings file defines.
    tavrin::jobs::TJobSet& Jobs() { return *jobs_; }
    // Reads the jobs of the settings file again: new ones join the set (stopped), those gone
    // leave it, and the table lists the file's jobs in its order.
    void ReloadJobs();

    // The job table's commands: the selected jobs, every job, a new one, one to edit.
    void StartSelectedJobs();
    void StopSelectedJobs();
    void StartAllJobs();
    void StopAllJobs();
    void AddJobClick();
    void EditJobClick(tavrin::jobs::TJob* job);
    void About1Click();

    // The "General" keys for the log: how many lines stay, and the optional log file.
    void ApplyLogKeeping(const tavrin::TLogKeepingValues& keeping);

    // Controls.
    QMenu* Monitor1 = nullptr;
    QAction* Startimportmonitor1 = nullptr;
    QAction* StartEXPORTmonitor1 = nullptr;
    QAction* Settings1 = nullptr;
    QAction* N1 = nullptr;
    QAction* Exit1 = nullptr;
    QMenu* Help1 = nullptr;
    QAction* About1 = nullptr;
    QToolBar* ToolBar1 = nullptr;
    QToolButton* tbtnImport = nullptr;
    QToolButton* tbtnExport = nullptr;
    QToolButton* tbtnSettings = nullptr;
    TActivityLogView* lstLog = nullptr;
    TActivityLogModel* LogLines = nullptr;
    TLogFilterBar* LogFilter = nullptr;
    QSplitter* Splitter = nullptr;
    tavrin::app::TJobTableModel* JobRows = nullptr;
    tavrin::app::TJobTablePanel* JobTable = nullptr;
    TJobErrorBoxes* JobBoxes = nullptr;
    tavrin::app::TTrayIcon* Tray = nullptr;
    tavrin::app::TNotifier* Notifications = nullptr;
    const TImageList imgListLarge{32};
    const TImageList imgListSmall{16};
    TIdAntiFreeze IdAntiFreeze1;

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
    // Stops a running job, starts a stopped one; a job that is starting or stopping is left
    // to that.
    void ToggleJob(const std::string& name);
    // Starts the job; a refused start is shown at once, or added to `refusals` when given.
    void StartJob(tavrin::jobs::TJob& job, std::vector<std::string>* refusals = nullptr);
    void StartJobs(const std::vector<tavrin::jobs::TJob*>& jobs);
    void ShowJobState(const tavrin::jobs::TJob& job);
    void BuildCentralArea();
    void BindJobTable();
    void BindTray();
    void WatchJob(tavrin::jobs::TJob& job);
    void JobActivityChanged(const tavrin::jobs::TJob& job);
    // The settings dialog, on the page of the job named (any case) or, without one, on the
    // General page; after a save, the jobs follow the file.
    void OpenSettings(const std::string& job);
    void ApplySavedJobs(const std::vector<std::string>& changed);
    bool EveryEnabledJobRuns() const;

    void WriteLogFileLine(const TLogLine& line, std::chrono::system_clock::time_point when);

    QLabel* statusPanels_[2] = {nullptr, nullptr};
    bool shown_ = false;
    std::unique_ptr<tavrin::TLogFileWriter> logFile_;
    std::unique_ptr<tavrin::TKeyring> keyring_;
    std::unique_ptr<tavrin::jobs::TJobSet> jobs_;
};

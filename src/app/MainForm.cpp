#include "app/MainForm.h"

#include "app/WindowArguments.h"
#include "base/StrUtils.h"
#include "config/ConfigPaths.h"
#include "config/JobSections.h"
#include "config/SettingsFile.h"
#include "config/StartChecks.h"
#include "config/UserMessages.h"
#include "config/dialog/MessageBoxes.h"
#include "config/dialog/SettingsForm.h"
#include "secrets/keyring/DesktopKeyring.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QSplitter>
#include <QStatusBar>
#include <QThread>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kToolBarHeight = 57;
constexpr QSize kToolButtonSize(89, 52);
constexpr int kStatusBarHeight = 20;
constexpr int kStatusPanelWidth = 200;
constexpr const char* kFailureWithoutText = "A monitor failed without giving a reason.";

QWidget* ToolBarGap(int width, QWidget* parent) {
    auto* gap = new QWidget(parent);
    gap->setFixedWidth(width);
    return gap;
}

} // namespace

TfmMainForm::TfmMainForm(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("fmMainForm"));
    setWindowTitle(QStringLiteral("Tavrin"));
    setWindowIcon(ApplicationIcon());
    // System menu and minimise only: no maximise button, but a border that resizes.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setContextMenuPolicy(Qt::PreventContextMenu); // the tool bar is not for hiding

    IdAntiFreeze1.OnlyWhenIdle = false;

    BuildMenu();
    BuildToolBar();

    LogLines = new TActivityLogModel(this);
    LogLines->SetLineWritten(
        [this](const TLogLine& line, std::chrono::system_clock::time_point when) {
            WriteLogFileLine(line, when);
        });
    jobs_ = std::make_unique<tavrin::jobs::TJobSet>(tavrin::jobs::StandardJobs(), std::string(),
                                                    LogEvent());
    // Jobs that keep their passwords in the desktop keyring find them there.
    keyring_ = std::make_unique<tavrin::TDesktopKeyring>();
    JobBoxes = new TJobErrorBoxes(this);
    for (const std::unique_ptr<tavrin::jobs::TJob>& job : jobs_->Jobs())
        WatchJob(*job);
    BuildCentralArea();

    BuildStatusBar();
    connect(jobs_.get(), &tavrin::jobs::TJobSet::JobStateChanged, this,
            [this](tavrin::jobs::TJob* job, tavrin::jobs::TJobState) { ShowJobState(*job); });
    connect(jobs_.get(), &tavrin::jobs::TJobSet::JobActivityChanged, this,
            [this](tavrin::jobs::TJob* job) { JobActivityChanged(*job); });
    BindMonitorCommands();
    BindJobTable();
    BindTray();
    InstallErrorMessageSink();

    // Client area 797 x 521 below the menu bar.
    resize(797, 521 + menuBar()->sizeHint().height());
    move(437, 213);
}

TfmMainForm::~TfmMainForm() {
    FormClose(); // a window destroyed without being closed still stops its monitors
    tavrin::SetErrorMessageSink(nullptr);
}

void TfmMainForm::BuildMenu() {
    menuBar()->setObjectName(QStringLiteral("mnMainMenu"));
    Monitor1 = menuBar()->addMenu(QStringLiteral("Monitor"));
    Monitor1->setObjectName(QStringLiteral("Monitor1"));

    Startimportmonitor1 = Monitor1->addAction(QStringLiteral("Start IMPORT monitor"));
    Startimportmonitor1->setObjectName(QStringLiteral("Startimportmonitor1"));
    StartEXPORTmonitor1 = Monitor1->addAction(QStringLiteral("Start EXPORT monitor"));
    StartEXPORTmonitor1->setObjectName(QStringLiteral("StartEXPORTmonitor1"));
    Settings1 = Monitor1->addAction(QStringLiteral("Settings"));
    Settings1->setObjectName(QStringLiteral("Settings1"));
    N1 = Monitor1->addSeparator();
    N1->setObjectName(QStringLiteral("N1"));
    Exit1 = Monitor1->addAction(QStringLiteral("Exit"));
    Exit1->setObjectName(QStringLiteral("Exit1"));

    Exit1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    Exit1->setShortcutContext(Qt::ApplicationShortcut);
    connect(Exit1, &QAction::triggered, this,
            [this] { tavrin::RunGuarded(this, [this] { Exit1Click(); }); });

    Help1 = menuBar()->addMenu(QStringLiteral("Help"));
    Help1->setObjectName(QStringLiteral("Help1"));
    About1 = Help1->addAction(QStringLiteral("About Tavrin"));
    About1->setObjectName(QStringLiteral("About1"));
    connect(About1, &QAction::triggered, this,
            [this] { tavrin::RunGuarded(this, [this] { About1Click(); }); });
}

// The job table above, the activity log with its filter below; the user moves the line
// between them.
void TfmMainForm::BuildCentralArea() {
    JobRows = new tavrin::app::TJobTableModel(*jobs_, this);
    JobTable = new tavrin::app::TJobTablePanel(JobRows, this);

    auto* logArea = new QWidget(this);
    auto* logLayout = new QVBoxLayout(logArea);
    logLayout->setContentsMargins(0, 0, 0, 0);
    logLayout->setSpacing(0);
    lstLog = new TActivityLogView(logArea);
    lstLog->SetLogModel(LogLines);
    LogFilter = new TLogFilterBar(lstLog, logArea);
    logLayout->addWidget(LogFilter);
    logLayout->addWidget(lstLog, 1);

    Splitter = new QSplitter(Qt::Vertical, this);
    Splitter->setObjectName(QStringLiteral("Splitter"));
    Splitter->setChildrenCollapsible(false);
    Splitter->addWidget(JobTable);
    Splitter->addWidget(logArea);
    Splitter->setStretchFactor(0, 1);
    Splitter->setStretchFactor(1, 2);
    setCentralWidget(Splitter);
}

void TfmMainForm::About1Click() {
    tavrin::ShowInformation(this, tavrin::app::AboutText());
}

void TfmMainForm::BuildToolBar() {
    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setFixedHeight(kToolBarHeight);
    ToolBar1->setIconSize(QSize(imgListLarge.Size(), imgListLarge.Size()));
    addToolBar(Qt::TopToolBarArea, ToolBar1);

    QFont bold = font();
    bold.setBold(true);
    auto makeButton = [&](const char* name, const char* caption, int image) {
        auto* button = new QToolButton(ToolBar1);
        button->setObjectName(QString::fromLatin1(name));
        button->setText(QString::fromLatin1(caption));
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setAutoRaise(true);
        button->setFont(bold);
        // 89 wide unless the caption needs more in this desktop's font.
        const int captionWidth = QFontMetrics(bold).horizontalAdvance(button->text()) + 12;
        button->setFixedSize(std::max(kToolButtonSize.width(), captionWidth),
                             kToolButtonSize.height());
        button->setIconSize(QSize(imgListLarge.Size(), imgListLarge.Size()));
        SetButtonImage(button, image);
        return button;
    };

    ToolBar1->addWidget(ToolBarGap(9, ToolBar1));
    tbtnImport = makeButton("tbtnImport", "Import monitor", tiImportStopped);
    ToolBar1->addWidget(tbtnImport);
    ToolBar1->addWidget(ToolBarGap(18, ToolBar1));
    tbtnExport = makeButton("tbtnExport", "Export monitor", tiExportStopped);
    ToolBar1->addWidget(tbtnExport);
    ToolBar1->addWidget(ToolBarGap(18, ToolBar1));
    tbtnSettings = makeButton("tbtnSettings", "Settings", tiSettings);
    ToolBar1->addWidget(tbtnSettings);
}

void TfmMainForm::BuildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("statusBar"));
    bar->setFixedHeight(kStatusBarHeight);
    bar->setSizeGripEnabled(true);
    for (int panel = 0; panel < 2; ++panel) {
        auto* label = new QLabel(bar);
        label->setObjectName(QStringLiteral("statusPanel%1").arg(panel));
        label->setFixedWidth(kStatusPanelWidth);
        label->setFrameShape(QFrame::Panel);
        label->setFrameShadow(QFrame::Sunken);
        bar->addWidget(label);
        statusPanels_[panel] = label;
    }
}

// Code below the window reports a failure from any thread; the box always opens on the
// window's thread, at once when the caller is there (returning when it is closed).
void TfmMainForm::InstallErrorMessageSink() {
    QPointer<TfmMainForm> window(this);
    QThread* windowThread = thread();
    tavrin::SetErrorMessageSink([window, windowThread](const std::string& given) {
        // An empty box tells the user only that something, somewhere, went wrong.
        const std::string text =
            tavrin::Trim(given).empty() ? std::string(kFailureWithoutText) : given;
        if (QThread::currentThread() == windowThread) {
            tavrin::ShowErrorBox(window.data(), text);
            return;
        }
        // The application object outlives the window; the window is looked up only on its
        // own thread, where it can no longer be half destroyed.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [window, text] { tavrin::ShowErrorBox(window.data(), text); }, Qt::QueuedConnection);
    });
}

void TfmMainForm::AddLogLine(const void* /*sender*/, const std::string& text, TColor colour) {
    LogLines->Append(text, colour);
}

TLogEvent TfmMainForm::LogEvent() {
    return [this](const void* sender, const std::string& text, TColor colour) {
        AddLogLine(sender, text, colour);
    };
}

void TfmMainForm::SetStatusPanel(int panel, const QString& text) {
    statusPanels_[panel]->setText(text);
}

QString TfmMainForm::StatusPanelText(int panel) const {
    return statusPanels_[panel]->text();
}

void TfmMainForm::SetButtonImage(QToolButton* button, int index) {
    button->setIcon(ToolButtonIcon(imgListLarge, imgListSmall, index));
    button->setProperty("imageIndex", index);
}

int TfmMainForm::ButtonImage(const QToolButton* button) {
    return button->property("imageIndex").toInt();
}

void TfmMainForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shown_)
        return;
    shown_ = true;
    tavrin::RunGuarded(this, [this] { FormShow(); });
}

void TfmMainForm::FormShow() {
    ExportConfig = tavrin::LoadExportConfiguration();
    ImportConfig = tavrin::LoadImportConfiguration();
    tavrin::LoadLogSwitches();
    ApplyLogKeeping(tavrin::LoadLogKeeping());
    SetStatusPanel(0, QStringLiteral("Import monitor: STOPPED"));
    SetStatusPanel(1, QStringLiteral("Export monitor: STOPPED"));
    ReloadJobs();
}

void TfmMainForm::ApplyLogKeeping(const tavrin::TLogKeepingValues& keeping) {
    LogLines->SetLineLimit(static_cast<size_t>(std::max<int32_t>(0, keeping.LogLines)));
    // A file that failed before is tried again after every save of the settings.
    if (keeping.LogFile.empty())
        logFile_.reset();
    else
        logFile_ = std::make_unique<tavrin::TLogFileWriter>(keeping.LogFile);
}

// One red line in the window when the file cannot be written, then no further attempts
// (until the settings are saved again): the window goes on without its file.
void TfmMainForm::WriteLogFileLine(const TLogLine& line,
                                   std::chrono::system_clock::time_point when) {
    if (!logFile_ || logFile_->Write(line.Text, when))
        return;
    const std::string error = logFile_->Error();
    logFile_.reset();
    LogLines->Append("Log file not written: " + error, clRed);
}

void TfmMainForm::Exit1Click() {
    close();
}

void TfmMainForm::BindMonitorCommands() {
    auto bind = [this](auto* control, auto signal, void (TfmMainForm::*handler)()) {
        connect(control, signal, this, [this, handler] {
            tavrin::RunGuarded(this, [this, handler] { (this->*handler)(); });
        });
    };
    bind(Startimportmonitor1, &QAction::triggered, &TfmMainForm::Startimportmonitor1Click);
    bind(StartEXPORTmonitor1, &QAction::triggered, &TfmMainForm::StartEXPORTmonitor1Click);
    bind(Settings1, &QAction::triggered, &TfmMainForm::Settings1Click);
    bind(tbtnImport, &QToolButton::clicked, &TfmMainForm::Startimportmonitor1Click);
    bind(tbtnExport, &QToolButton::clicked, &TfmMainForm::StartEXPORTmonitor1Click);
    bind(tbtnSettings, &QToolButton::clicked, &TfmMainForm::tbtnSettingsClick);
}

namespace {
// How the window shows each of today's two jobs.
struct TJobLook {
    const char* job;
    int panel;
    const char* startCaption;
    const char* stopCaption;
    const char* stoppedPanel;
    const char* activePanel;
    int stoppedImage;
    int activeImage;
};
const TJobLook kJobLooks[] = {
    {"Import", 0, "Start IMPORT monitor", "Stop IMPORT monitor", "Import monitor: STOPPED",
     "Import monitor: ACTIVE", tiImportStopped, tiImportActive},
    {"Export", 1, "Start EXPORT monitor", "Stop EXPORT monitor", "Export monitor: STOPPED",
     "Export monitor: ACTIVE", tiExportStopped, tiExportActive},
};
} // namespace

void TfmMainForm::Startimportmonitor1Click() {
    ToggleJob("Import");
}

void TfmMainForm::StartEXPORTmonitor1Click() {
    ToggleJob("Export");
}

// A command that arrives while its job is still starting or stopping is ignored, so the
// captions, panels and images always tell what the job does.
void TfmMainForm::ToggleJob(const std::string& name) {
    tavrin::jobs::TJob* job = jobs_->Find(name);
    if (job == nullptr)
        return;
    switch (job->State()) {
    case tavrin::jobs::TJobState::Running:
        jobs_->Stop(*job);
        break;
    case tavrin::jobs::TJobState::Stopped:
    case tavrin::jobs::TJobState::FailedToStart:
        StartJob(*job);
        break;
    case tavrin::jobs::TJobState::Starting:
    case tavrin::jobs::TJobState::Stopping:
        break;
    }
}

// A job that could do no work at all is not started: the direction stays stopped and one box
// names everything that is missing. Shown here rather than raised, so that a restart after
// saving the settings still goes on to the other direction. What the checks cannot see (an
// unreadable register) is raised to the command's handler.
void TfmMainForm::StartJob(tavrin::jobs::TJob& job, std::vector<std::string>* refusals) {
    try {
        jobs_->Start(job);
    } catch (const tavrin::jobs::EJobRefused& refused) {
        const std::string text = job.Name() + " monitor not started:\n" +
                                 tavrin::JoinedProblems(refused.Problems(), "\n");
        if (refusals)
            refusals->push_back(text);
        else
            tavrin::ShowErrorBox(this, text);
        return;
    }
    // The two records tell what "Import" and "Export" were last started with; a further job
    // of the same direction has its own settings and leaves them alone.
    if (job.Name() == "Import")
        ImportConfig = job.Config();
    else if (job.Name() == "Export")
        ExportConfig = job.Config();
}

void TfmMainForm::ShowJobState(const tavrin::jobs::TJob& job) {
    for (const TJobLook& look : kJobLooks) {
        if (job.Name() != look.job)
            continue;
        const bool active = job.State() == tavrin::jobs::TJobState::Running ||
                            job.State() == tavrin::jobs::TJobState::Starting;
        QAction* action = look.panel == 0 ? Startimportmonitor1 : StartEXPORTmonitor1;
        QToolButton* button = look.panel == 0 ? tbtnImport : tbtnExport;
        action->setText(QString::fromLatin1(active ? look.stopCaption : look.startCaption));
        SetStatusPanel(look.panel,
                       QString::fromLatin1(active ? look.activePanel : look.stoppedPanel));
        SetButtonImage(button, active ? look.activeImage : look.stoppedImage);
    }
}

void TfmMainForm::Settings1Click() {
    OpenSettings({});
}

void TfmMainForm::tbtnSettingsClick() {
    Settings1Click();
}

// The tray brings the window back, starts and stops every job, and ends the program.
void TfmMainForm::BindTray() {
    Tray = new tavrin::app::TTrayIcon(*jobs_, this);
    Notifications = new tavrin::app::TNotifier(*jobs_, Tray, std::nullopt, this);
    auto showWindow = [this] {
        showNormal();
        raise();
        activateWindow();
    };
    connect(Tray->ShowAction, &QAction::triggered, this, showWindow);
    connect(Tray, &tavrin::app::TTrayIcon::Activated, this, showWindow);
    connect(Tray->StartAllAction, &QAction::triggered, this,
            [this] { tavrin::RunGuarded(this, [this] { StartAllJobs(); }); });
    connect(Tray->StopAllAction, &QAction::triggered, this,
            [this] { tavrin::RunGuarded(this, [this] { StopAllJobs(); }); });
    // Closing a hidden window is no last window closing: the program is ended outright.
    connect(Tray->QuitAction, &QAction::triggered, this, [this] {
        if (close())
            QCoreApplication::quit();
    });
}

void TfmMainForm::closeEvent(QCloseEvent* event) {
    // The window's own close button only hides it when the jobs are to go on in the tray;
    // Exit, the tray's Quit and the signals that end the program close it for good.
    if (event->spontaneous() && Tray->CloseHides()) {
        event->ignore();
        hide();
        return;
    }
    tavrin::RunGuarded(this, [this] { FormClose(); });
    QMainWindow::closeEvent(event);
}

// Export first, then import; menu, panels and images stay as they are. Cycles in progress
// (also those of jobs still stopping) have their connections cut: the program must not wait
// on a server that went quiet.
void TfmMainForm::FormClose() {
    disconnect(jobs_.get(), &tavrin::jobs::TJobSet::JobStateChanged, this, nullptr);
    Tray->Detach();
    jobs_->StopAllNow();
}

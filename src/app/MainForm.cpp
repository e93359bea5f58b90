#include "app/MainForm.h"

#include "config/SettingsFile.h"
#include "config/UserMessages.h"
#include "config/dialog/MessageBoxes.h"

#include <QAction>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QStatusBar>
#include <QThread>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>

namespace {

constexpr int kToolBarHeight = 57;
constexpr QSize kToolButtonSize(89, 52);
constexpr int kStatusBarHeight = 20;
constexpr int kStatusPanelWidth = 200;

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
    lstLog = new TActivityLogView(this);
    lstLog->SetLogModel(LogLines);
    setCentralWidget(lstLog);

    BuildStatusBar();
    InstallErrorMessageSink();

    // Client area 797 x 521 below the menu bar.
    resize(797, 521 + menuBar()->sizeHint().height());
    move(437, 213);
}

TfmMainForm::~TfmMainForm() {
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

    connect(Exit1, &QAction::triggered, this,
            [this] { tavrin::RunGuarded(this, [this] { Exit1Click(); }); });
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
    tavrin::SetErrorMessageSink([window, windowThread](const std::string& text) {
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
    SetStatusPanel(0, QStringLiteral("Import monitor: STOPPED"));
    SetStatusPanel(1, QStringLiteral("Export monitor: STOPPED"));
}

void TfmMainForm::Exit1Click() {
    close();
}

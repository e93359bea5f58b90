#include "config/dialog/SettingsFrameGeneralUnit.h"

#include "config/ConfigPaths.h"
#include "config/dialog/HostKeysGroup.h"
#include "config/dialog/KnownServersGroup.h"
#include "config/dialog/MessageBoxes.h"
#include "config/dialog/SettingsPageParts.h"
#include "platform/FileSystem.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>

using namespace tavrin;

TfrGeneral::TfrGeneral(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("frGeneral"));
    setMinimumSize(kPageWidth, kPageHeight);

    auto* log = new TOuterGroup("grpLogOptions", QStringLiteral("Log options"), this);
    QWidget* in = log->Contents();
    chkLogMonitor = NewCheck("chkLogMonitor", QStringLiteral("Show log for monitor status"), in);
    chkLogSSL = NewCheck("chkLogSSL", QStringLiteral("Show log for TLS/SSL connections"), in);
    chkLogFile = NewCheck("chkLogFile", QStringLiteral("Show log for file transfer"), in);
    chkLogVerbose =
        NewCheck("chkLogVerbose", QStringLiteral("Verbose log ( show all messages )"), in);
    QGridLayout* grid = log->Grid();
    grid->addWidget(chkLogMonitor, 0, 0);
    grid->addWidget(chkLogSSL, 1, 0);
    grid->addWidget(chkLogFile, 2, 0);
    grid->addWidget(chkLogVerbose, 3, 0);

    auto* list = new TOuterGroup("grpImportedFiles", QStringLiteral("Imported files list"), this);
    in = list->Contents();
    btnClearList = new QPushButton(QStringLiteral("Clear list"), in);
    btnClearList->setObjectName(QStringLiteral("btnClearList"));
    btnClearList->setAutoDefault(false);
    btnEditList = new QPushButton(QStringLiteral("Edit list"), in);
    btnEditList->setObjectName(QStringLiteral("btnEditList"));
    btnEditList->setAutoDefault(false);
    grid = list->Grid();
    grid->addWidget(btnClearList, 0, 0);
    grid->addWidget(btnEditList, 0, 1);
    grid->setColumnStretch(2, 1);

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(4, 4, 4, 4);
    page->addWidget(log);
    page->addWidget(list);
    page->addWidget(BuildLogKeepingGroup());
    page->addWidget(new TKnownServersGroup(this));
    page->addWidget(new THostKeysGroup(this));
    page->addStretch();

    connect(btnClearList, &QPushButton::clicked, this, &TfrGeneral::btnClearListClick);
    connect(btnEditList, &QPushButton::clicked, this, &TfrGeneral::btnEditListClick);
}

QWidget* TfrGeneral::BuildLogKeepingGroup() {
    auto* group = new TOuterGroup("grpLogKeeping", QStringLiteral("Log keeping"), this);
    QWidget* in = group->Contents();
    spnLogLines = new QSpinBox(in);
    spnLogLines->setObjectName(QStringLiteral("spnLogLines"));
    spnLogLines->setRange(0, 100000000);
    spnLogLines->setSingleStep(10000);
    spnLogLines->setSpecialValueText(QStringLiteral("no limit"));
    spnLogLines->setValue(static_cast<int>(TLogKeepingValues{}.LogLines));
    edtLogFile = new QLineEdit(in);
    edtLogFile->setObjectName(QStringLiteral("edtLogFile"));
    edtLogFile->setPlaceholderText(QStringLiteral("none"));
    btnLogFile = new QPushButton(QStringLiteral("..."), in);
    btnLogFile->setObjectName(QStringLiteral("btnLogFile"));
    btnLogFile->setAutoDefault(false);
    btnLogFile->setFixedWidth(28);
    QGridLayout* grid = group->Grid();
    grid->addWidget(new QLabel(QStringLiteral("Lines kept in the window (0 = no limit)"), in), 0,
                    0);
    grid->addWidget(spnLogLines, 0, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Also write the log to file"), in), 1, 0);
    grid->addWidget(edtLogFile, 1, 1);
    grid->addWidget(btnLogFile, 1, 2);
    connect(btnLogFile, &QPushButton::clicked, this, &TfrGeneral::btnLogFileClick);
    return group;
}

void TfrGeneral::btnLogFileClick() {
    RunGuarded(this, [this] {
        if (auto path = BrowseForSaveFile(this))
            edtLogFile->setText(QString::fromStdString(*path));
    });
}

TLogSwitchValues TfrGeneral::Shown() const {
    return {chkLogMonitor->isChecked(), chkLogFile->isChecked(), chkLogSSL->isChecked(),
            chkLogVerbose->isChecked()};
}

void TfrGeneral::LoadLogSwitches() {
    TLogSwitchValues v = tavrin::LoadLogSwitches();
    chkLogMonitor->setChecked(v.LogMonitor);
    chkLogFile->setChecked(v.LogFileTransfer);
    chkLogSSL->setChecked(v.LogSSL);
    chkLogVerbose->setChecked(v.LogVerbose);
    const TLogKeepingValues keeping = LoadLogKeeping();
    spnLogLines->setValue(
        static_cast<int>(std::min<int32_t>(keeping.LogLines, spnLogLines->maximum())));
    edtLogFile->setText(QString::fromStdString(keeping.LogFile));
}

void TfrGeneral::SaveLogSwitches() {
    tavrin::SaveLogSwitches(Shown());
    SaveLogKeeping({spnLogLines->value(), edtLogFile->text().toStdString()});
}

void TfrGeneral::btnClearListClick() {
    RunGuarded(this, [this] {
        if (!AskWarning(this, "Clearing the list will allow Import Monitor to download again the "
                              "same files.\r\nContinue clearing the list?"))
            return;
        const std::string path = RegisterFilePath();
        // A register that stays behind would keep its files from being fetched again, so a
        // failed deletion is reported instead of "List clear.".
        if (fs::FileExists(path) && !fs::DeleteFile(path)) {
            const int error = errno;
            throw EIdException("Unable to delete " + path + "\r\n" + fs::SystemErrorText(error));
        }
        ShowInformation(this, "List clear.\r\n\r\nSave settings before exit.");
    });
}

void TfrGeneral::btnEditListClick() {
    RunGuarded(this, [] {
        const std::string path = RegisterFilePath();
        if (!fs::FileExists(path))
            return;
        // The editor runs on its own; the dialog does not wait for it. A desktop with no
        // program for text files would otherwise leave the click without any answer.
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path))))
            throw EIdException("No program is set up to open " + path);
    });
}

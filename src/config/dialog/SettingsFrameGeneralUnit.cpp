#include "config/dialog/SettingsFrameGeneralUnit.h"

#include "config/ConfigPaths.h"
#include "config/dialog/KnownServersGroup.h"
#include "config/dialog/MessageBoxes.h"
#include "config/dialog/SettingsPageParts.h"
#include "platform/FileSystem.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QGridLayout>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

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
    page->addWidget(new TKnownServersGroup(this));
    page->addStretch();

    connect(btnClearList, &QPushButton::clicked, this, &TfrGeneral::btnClearListClick);
    connect(btnEditList, &QPushButton::clicked, this, &TfrGeneral::btnEditListClick);
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
}

void TfrGeneral::SaveLogSwitches() {
    tavrin::SaveLogSwitches(Shown());
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
        // The editor runs on its own; the dialog does not wait for it.
        QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
    });
}

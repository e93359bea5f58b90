#include "config/dialog/SettingsFrameExportUnit.h"

#include "config/ConfigPaths.h"
#include "config/SettingsFile.h"
#include "config/dialog/SettingsBinding.h"
#include "config/dialog/SettingsPageParts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace tavrin;

TfrExport::TfrExport(QWidget* parent, TKeyring* keyring) : QFrame(parent) {
    setObjectName(QStringLiteral("frExport"));
    setMinimumSize(kPageWidth, kPageHeight);

    auto* local = new TOuterGroup("grpLocalSettings", QStringLiteral("Local settings"), this);
    QWidget* in = local->Contents();
    edtLocalFolder = NewEdit("edtLocalFolder", in);
    btnLocalFolder = NewBrowseButton("btnLocalFolder", in);
    chkMoveToFolder = NewCheck("chkMoveToFolder", QStringLiteral("Move files after export to"), in);
    edtMoveToLocalFolder = NewEdit("edtMoveToLocalFolder", in);
    btnMoveToLocalFolder = NewBrowseButton("btnMoveToLocalFolder", in);
    QGridLayout* grid = local->Grid();
    grid->addWidget(NewLabel("lbLocalFolder", QStringLiteral("Folder"), in), 0, 0);
    grid->addWidget(edtLocalFolder, 0, 1);
    grid->addWidget(btnLocalFolder, 0, 2);
    grid->addWidget(chkMoveToFolder, 1, 0);
    grid->addWidget(edtMoveToLocalFolder, 1, 1);
    grid->addWidget(btnMoveToLocalFolder, 1, 2);
    edtSettleTime = NewEdit("edtSettleTime", in);
    edtSettleTime->setFixedWidth(60);
    chkRetryFailed = NewCheck("chkRetryFailed", QStringLiteral("Retry failed uploads"), in);
    chkExportExisting = NewCheck("chkExportExisting",
                                 QStringLiteral("Upload files already in the folder at start"), in);
    auto* settleRow = new QHBoxLayout;
    settleRow->addWidget(edtSettleTime);
    settleRow->addWidget(NewLabel("lbSettleTimeUnit", QStringLiteral("ms unchanged"), in));
    settleRow->addStretch();
    grid->addWidget(NewLabel("lbSettleTime", QStringLiteral("Upload after"), in), 2, 0);
    grid->addLayout(settleRow, 2, 1);
    grid->addWidget(chkRetryFailed, 3, 0, 1, 2);
    grid->addWidget(chkExportExisting, 4, 0, 1, 2);

    auto* server =
        new TOuterGroup("grpServerSettings", QStringLiteral("FTP server settings"), this);
    in = server->Contents();
    edtHost = NewEdit("edtHost", in);
    edtPort = NewEdit("edtPort", in);
    edtPort->setFixedWidth(60);
    edtRemoteFolder = NewEdit("edtRemoteFolder", in);
    chkUploadToTempFolder =
        NewCheck("chkUploadToTempFolder", QStringLiteral("First upload files to folder"), in);
    // A folder on the server, so there is nothing to browse.
    edtRemoteTempFolder = NewEdit("edtRemoteTempFolder", in);
    chkPassive = NewCheck("chkPassive", QStringLiteral("Passive mode"), in);
    chkBinary = NewCheck("chkBinary", QStringLiteral("Binary transfer"), in);
    // Bursts of small files: several uploads at once, and logins kept between files.
    chkKeepConnection = NewCheck("chkKeepConnection", QStringLiteral("Stay logged in"), in);
    edtConnections = NewEdit("edtConnections", in);
    edtConnections->setFixedWidth(40);
    auto* login = new TLoginGroup("grpLoginMethod", QStringLiteral("Login method"), in);
    edtUsername = login->edtUsername;
    edtPassword = login->edtPassword;
    chkKeepInKeyring = login->chkKeepInKeyring;
    secrets_ = TPageSecrets(keyring, chkKeepInKeyring);
    auto* security = new TSecurityGroup(in);
    chkUseSSL = security->chkUseSSL;
    cmbTlsMode = security->cmbTlsMode;
    edtSSLCertificate = security->edtSSLCertificate;
    btnSSLCertificate = security->btnSSLCertificate;
    edtSSLKey = security->edtSSLKey;
    btnSSLKey = security->btnSSLKey;
    edtSSLPass = security->edtSSLPass;
    cmbProtocol = NewProtocolChoice(in);
    auto* ssh = new TSshGroup(in);
    edtSSHKey = ssh->edtSSHKey;
    btnSSHKey = ssh->btnSSHKey;
    edtSSHKeyPass = ssh->edtSSHKeyPass;
    chkSSHAgent = ssh->chkSSHAgent;
    protocolRule_ = new TProtocolRule(cmbProtocol, edtPort, {chkPassive, chkBinary, security}, ssh);

    grid = server->Grid();
    auto* hostRow = new QHBoxLayout;
    hostRow->addWidget(edtHost);
    hostRow->addWidget(NewLabel("lbPort", QStringLiteral("Port"), in));
    hostRow->addWidget(edtPort);
    grid->addWidget(NewLabel("lbProtocol", QStringLiteral("Protocol"), in), 0, 0);
    grid->addWidget(cmbProtocol, 0, 1, Qt::AlignLeft);
    grid->addWidget(NewLabel("lbHost", QStringLiteral("Host"), in), 1, 0);
    grid->addLayout(hostRow, 1, 1);
    grid->addWidget(NewLabel("lbRemoteFolder", QStringLiteral("Remote folder"), in), 2, 0);
    grid->addWidget(edtRemoteFolder, 2, 1);
    grid->addWidget(chkUploadToTempFolder, 3, 0);
    grid->addWidget(edtRemoteTempFolder, 3, 1);
    auto* modeRow = new QHBoxLayout;
    modeRow->addWidget(chkPassive);
    modeRow->addWidget(chkBinary);
    modeRow->addWidget(chkKeepConnection);
    modeRow->addStretch();
    modeRow->addWidget(NewLabel("lbConnections", QStringLiteral("Connections"), in));
    modeRow->addWidget(edtConnections);
    grid->addLayout(modeRow, 4, 0, 1, 2);
    grid->addWidget(login, 5, 0, 1, 2);
    grid->addWidget(ssh, 6, 0, 1, 2);
    grid->addWidget(security, 7, 0, 1, 2);

    grpWhichFiles = new TFilterGroup(this);
    edtInclude = grpWhichFiles->edtInclude;
    edtExclude = grpWhichFiles->edtExclude;
    chkIgnoreCase = grpWhichFiles->chkIgnoreCase;
    edtMinSize = grpWhichFiles->edtMinSize;
    edtMaxSize = grpWhichFiles->edtMaxSize;
    edtMinAge = grpWhichFiles->edtMinAge;
    chkRecursive = grpWhichFiles->chkRecursive;
    edtMaxDepth = grpWhichFiles->edtMaxDepth;

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(4, 4, 4, 4);
    page->addWidget(local);
    page->addWidget(server);
    page->addWidget(grpWhichFiles);
    page->addStretch();

    connect(btnLocalFolder, &QPushButton::clicked, this, &TfrExport::btnLocalFolderClick);
    connect(btnMoveToLocalFolder, &QPushButton::clicked, this,
            &TfrExport::btnMoveToLocalFolderClick);
    connect(btnSSLCertificate, &QPushButton::clicked, this, &TfrExport::btnSSLCertificateClick);
    connect(btnSSLKey, &QPushButton::clicked, this, &TfrExport::btnSSLKeyClick);
}

void TfrExport::LoadConfiguration(RConfiguration& configuration) {
    RConfiguration loaded = LoadExportConfiguration();
    secrets_.Load(SectionName(TDirection::Export), loaded);
    ShowConfiguration(loaded);
    configuration = configuration_;
}

void TfrExport::ShowConfiguration(const RConfiguration& configuration) {
    configuration_ = configuration;
    ShowRecord(this, TDirection::Export, configuration_);
    protocolRule_->Apply();
}

void TfrExport::SaveConfiguration() {
    saveNote_ =
        secrets_.Save(TDirection::Export, SectionName(TDirection::Export),
                      SectionName(TDirection::Export), ControlSource(this), ConfigFilePath());
}

void TfrExport::btnLocalFolderClick() {
    BrowseFolderInto(this, edtLocalFolder);
}

void TfrExport::btnMoveToLocalFolderClick() {
    BrowseFolderInto(this, edtMoveToLocalFolder);
}

void TfrExport::btnSSLCertificateClick() {
    BrowseFileInto(this, edtSSLCertificate);
}

void TfrExport::btnSSLKeyClick() {
    BrowseFileInto(this, edtSSLKey);
}

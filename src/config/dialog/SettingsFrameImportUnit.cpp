#include "config/dialog/SettingsFrameImportUnit.h"

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

TfrImport::TfrImport(QWidget* parent, TKeyring* keyring) : QFrame(parent) {
    setObjectName(QStringLiteral("frImport"));
    setMinimumSize(kPageWidth, kPageHeight);

    auto* local = new TOuterGroup("grpLocalSettings", QStringLiteral("Local settings"), this);
    QWidget* in = local->Contents();
    edtLocalFolder = NewEdit("edtLocalFolder", in);
    btnLocalFolder = NewBrowseButton("btnLocalFolder", in);
    chkDownloadToFolder =
        NewCheck("chkDownloadToFolder", QStringLiteral("Download first to folder"), in);
    edtDownloadToFolder = NewEdit("edtDownloadToFolder", in);
    btnDownloadToFolder = NewBrowseButton("btnDownloadToFolder", in);
    QGridLayout* grid = local->Grid();
    grid->addWidget(NewLabel("lbLocalFolder", QStringLiteral("Import folder"), in), 0, 0);
    grid->addWidget(edtLocalFolder, 0, 1);
    grid->addWidget(btnLocalFolder, 0, 2);
    grid->addWidget(chkDownloadToFolder, 1, 0);
    grid->addWidget(edtDownloadToFolder, 1, 1);
    grid->addWidget(btnDownloadToFolder, 1, 2);

    auto* server =
        new TOuterGroup("grpServerSettings", QStringLiteral("FTP server settings"), this);
    in = server->Contents();
    edtHost = NewEdit("edtHost", in);
    edtPort = NewEdit("edtPort", in);
    edtPort->setFixedWidth(60);
    edtRemoteFolder = NewEdit("edtRemoteFolder", in);
    chkDeleteFilesAfterDownload =
        NewCheck("chkDeleteFilesAfterDownload", QStringLiteral("Delete files after download"), in);
    chkPassive = NewCheck("chkPassive", QStringLiteral("Passive mode"), in);
    chkBinary = NewCheck("chkBinary", QStringLiteral("Binary transfer"), in);
    chkKeepAlive = NewCheck("chkKeepAlive", QStringLiteral("Keep alive"), in);
    edtConnections = NewEdit("edtConnections", in);
    edtConnections->setFixedWidth(40);
    chkWaitForStableFiles =
        NewCheck("chkWaitForStableFiles",
                 QStringLiteral("Fetch a file only when its size stays the same"), in);
    lbCheckInterval = NewLabel("lbCheckInterval", QStringLiteral("Check interval (s)"), in);
    edtCheckInterval = NewEdit("edtCheckInterval", in);
    edtCheckInterval->setFixedWidth(50);
    auto* login = new TLoginGroup("grpLoginInfo", QStringLiteral("Login info"), in);
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
    auto* deleteRow = new QHBoxLayout;
    deleteRow->addWidget(chkDeleteFilesAfterDownload);
    deleteRow->addWidget(chkWaitForStableFiles);
    deleteRow->addStretch();
    grid->addLayout(deleteRow, 3, 0, 1, 2);
    auto* modeRow = new QHBoxLayout;
    modeRow->addWidget(chkPassive);
    modeRow->addWidget(chkBinary);
    modeRow->addWidget(chkKeepAlive);
    modeRow->addStretch();
    modeRow->addWidget(NewLabel("lbConnections", QStringLiteral("Connections"), in));
    modeRow->addWidget(edtConnections);
    modeRow->addWidget(lbCheckInterval);
    modeRow->addWidget(edtCheckInterval);
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

    connect(btnLocalFolder, &QPushButton::clicked, this, &TfrImport::btnLocalFolderClick);
    connect(btnDownloadToFolder, &QPushButton::clicked, this, &TfrImport::btnDownloadToFolderClick);
    connect(btnSSLCertificate, &QPushButton::clicked, this, &TfrImport::btnSSLCertificateClick);
    connect(btnSSLKey, &QPushButton::clicked, this, &TfrImport::btnSSLKeyClick);
    connect(chkKeepAlive, &QCheckBox::toggled, this, &TfrImport::chkKeepAlivePropertiesChange);
}

void TfrImport::LoadConfiguration(RConfiguration& configuration) {
    RConfiguration loaded = LoadImportConfiguration();
    secrets_.Load(SectionName(TDirection::Import), loaded);
    ShowConfiguration(loaded);
    configuration = configuration_;
}

void TfrImport::ShowConfiguration(const RConfiguration& configuration) {
    configuration_ = configuration;
    ShowRecord(this, TDirection::Import, configuration_);
    // Showing the record raised no change signals, so the rules run once here.
    chkKeepAlivePropertiesChange();
    protocolRule_->Apply();
}

void TfrImport::SaveConfiguration() {
    saveNote_ =
        secrets_.Save(TDirection::Import, SectionName(TDirection::Import),
                      SectionName(TDirection::Import), ControlSource(this), ConfigFilePath());
}

void TfrImport::btnLocalFolderClick() {
    BrowseFolderInto(this, edtLocalFolder);
}

void TfrImport::btnDownloadToFolderClick() {
    BrowseFolderInto(this, edtDownloadToFolder);
}

void TfrImport::btnSSLCertificateClick() {
    BrowseFileInto(this, edtSSLCertificate);
}

void TfrImport::btnSSLKeyClick() {
    BrowseFileInto(this, edtSSLKey);
}

void TfrImport::chkKeepAlivePropertiesChange() {
    const bool polled = !chkKeepAlive->isChecked();
    edtCheckInterval->setEnabled(polled);
    lbCheckInterval->setEnabled(polled);
}

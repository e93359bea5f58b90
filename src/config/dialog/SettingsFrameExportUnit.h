#pragma once
// The "2. Export" settings page: the watched folder, where uploaded files go locally and on
// the server, login and security.
#include "config/CommonTypesUnit.h"
#include "config/dialog/FilterGroup.h"
#include "config/dialog/PageSecrets.h"
#include "config/dialog/ProtocolChoice.h"

#include <QFrame>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

class TfrExport : public QFrame {
    Q_OBJECT
public:
    // `keyring` may be nullptr: then no keyring answers.
    explicit TfrExport(QWidget* parent = nullptr, tavrin::TKeyring* keyring = nullptr);

    // Reads the export settings from the file, keeps a copy and shows them.
    void LoadConfiguration(RConfiguration& configuration);
    // Writes the controls (not the kept copy) to the file, key by key. Throws
    // ESettingsWriteError when a write fails.
    void SaveConfiguration();
    // Shows a record that came from elsewhere (another job's section, a copied job) and
    // keeps it as the page's copy.
    void ShowConfiguration(const RConfiguration& configuration);
    const RConfiguration& Configuration() const { return configuration_; }
    // What the last save has to tell the log about where the passwords went, or "".
    const std::string& SaveNote() const { return saveNote_; }
    // The keyring box's part: a named job's page loads and saves its secrets through it.
    tavrin::TPageSecrets& Secrets() { return secrets_; }

    void btnLocalFolderClick();
    void btnMoveToLocalFolderClick();
    void btnSSLCertificateClick();
    void btnSSLKeyClick();

    QLineEdit* edtLocalFolder;
    QPushButton* btnLocalFolder;
    QCheckBox* chkMoveToFolder;
    QLineEdit* edtMoveToLocalFolder;
    QPushButton* btnMoveToLocalFolder;
    QLineEdit* edtHost;
    QLineEdit* edtPort;
    QLineEdit* edtRemoteFolder;
    QCheckBox* chkUploadToTempFolder;
    QLineEdit* edtRemoteTempFolder;
    QCheckBox* chkPassive;
    QCheckBox* chkBinary;
    QLineEdit* edtUsername;
    QLineEdit* edtPassword;
    QCheckBox* chkKeepInKeyring;
    QCheckBox* chkUseSSL;
    QComboBox* cmbTlsMode; // explicit (0) or implicit (1) TLS
    QLineEdit* edtSSLCertificate;
    QPushButton* btnSSLCertificate;
    QLineEdit* edtSSLKey;
    QPushButton* btnSSLKey;
    QLineEdit* edtSSLPass;
    // FTP (0) or SFTP (1), and the SFTP login.
    QComboBox* cmbProtocol;
    QLineEdit* edtSSHKey;
    QPushButton* btnSSHKey;
    QLineEdit* edtSSHKeyPass;
    QCheckBox* chkSSHAgent;
    QLineEdit* edtSettleTime;
    // Uploads at once, and whether their logins stay for the next files.
    QLineEdit* edtConnections;
    QCheckBox* chkKeepConnection;
    QCheckBox* chkRetryFailed;
    QCheckBox* chkExportExisting;

    // "Which files": the job's filter.
    tavrin::TFilterGroup* grpWhichFiles;
    QLineEdit* edtInclude;
    QLineEdit* edtExclude;
    QCheckBox* chkIgnoreCase;
    QLineEdit* edtMinSize;
    QLineEdit* edtMaxSize;
    QLineEdit* edtMinAge;
    QCheckBox* chkRecursive;
    QLineEdit* edtMaxDepth;

private:
    RConfiguration configuration_;
    tavrin::TPageSecrets secrets_{nullptr, nullptr};
    std::string saveNote_;
    tavrin::TProtocolRule* protocolRule_;
};

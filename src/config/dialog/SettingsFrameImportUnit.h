#pragma once
// The "1. Import" settings page: the import monitor's folders, server, login and security.
// Its "Passive mode" and "Binary transfer" boxes edit the setting the Export page shares.
#include "config/CommonTypesUnit.h"
#include "config/dialog/FilterGroup.h"
#include "config/dialog/PageSecrets.h"
#include "config/dialog/ProtocolChoice.h"

#include <QFrame>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TfrImport : public QFrame {
    Q_OBJECT
public:
    // `keyring` may be nullptr: then no keyring answers.
    explicit TfrImport(QWidget* parent = nullptr, tavrin::TKeyring* keyring = nullptr);

    // Reads the import settings from the file, keeps a copy, shows them and applies the
    // keep-alive rule.
    void LoadConfiguration(RConfiguration& configuration);
    // Writes the controls (not the kept copy) to the file, key by key. Throws EConvertError
    // for a check interval that is no integer, ESettingsWriteError when a write fails.
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
    void btnDownloadToFolderClick();
    void btnSSLCertificateClick();
    void btnSSLKeyClick();
    // "Check interval (s)" matters only when the connection is not kept open.
    void chkKeepAlivePropertiesChange();

    QLineEdit* edtLocalFolder;
    QPushButton* btnLocalFolder;
    QCheckBox* chkDownloadToFolder;
    QLineEdit* edtDownloadToFolder;
    QPushButton* btnDownloadToFolder;
    QLineEdit* edtHost;
    QLineEdit* edtPort;
    QLineEdit* edtRemoteFolder;
    QCheckBox* chkDeleteFilesAfterDownload;
    QCheckBox* chkPassive;
    QCheckBox* chkBinary;
    QCheckBox* chkKeepAlive;
    QCheckBox* chkWaitForStableFiles;
    QLabel* lbCheckInterval;
    QLineEdit* edtCheckInterval;
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

    // "Which files": the job's filter and its subfolders.
    tavrin::TFilterGroup* grpWhichFiles;
    QLineEdit* edtInclude;
    QLineEdit* edtExclude;
    QCheckBox* chkIgnoreCase;
    QLineEdit* edtMinSize;
    QLineEdit* edtMaxSize;
    QLineEdit* edtMinAge;
    // Files fetched at once.
    QLineEdit* edtConnections;
    QCheckBox* chkRecursive;
    QLineEdit* edtMaxDepth;

private:
    RConfiguration configuration_;
    tavrin::TPageSecrets secrets_{nullptr, nullptr};
    std::string saveNote_;
    tavrin::TProtocolRule* protocolRule_;
};

#pragma once
// The choice between FTP and SFTP on the two server pages, with the SSH login controls, and
// the rule that greys whatever the chosen protocol does not use.
#include <QGroupBox>
#include <QObject>

#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace tavrin {

// Index 0 "FTP" (with TLS as the Security group says), 1 "SFTP": the Protocol key.
QComboBox* NewProtocolChoice(QWidget* parent);

// The SFTP login beside user name and password: a private key file (with a file-open
// button), its passphrase (masked), and whether the running ssh-agent's keys are tried first.
class TSshGroup : public QGroupBox {
public:
    explicit TSshGroup(QWidget* parent);
    QLineEdit* edtSSHKey;
    QPushButton* btnSSHKey;
    QLineEdit* edtSSHKeyPass;
    QCheckBox* chkSSHAgent;
};

// Keeps a page's controls in line with its protocol choice: the FTP-only controls are
// greyed for SFTP, the SSH group for FTP. When the user changes the choice, a port box that
// still holds the other protocol's usual port (or nothing) gets the new one's: 22 for SFTP,
// 21 for FTP.
class TProtocolRule : public QObject {
public:
    TProtocolRule(QComboBox* choice, QLineEdit* port, std::vector<QWidget*> ftpOnly,
                  QWidget* sshOnly);
    // Greys what the current choice does not use; the page calls it after loading.
    void Apply();

private:
    void Changed();

    QComboBox* choice_;
    QLineEdit* port_;
    std::vector<QWidget*> ftpOnly_;
    QWidget* sshOnly_;
};

} // namespace tavrin

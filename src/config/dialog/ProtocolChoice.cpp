#include "config/dialog/ProtocolChoice.h"

#include "config/dialog/SettingsPageParts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace tavrin {
namespace {

constexpr int kSftp = 1;

} // namespace

QComboBox* NewProtocolChoice(QWidget* parent) {
    auto* choice = new QComboBox(parent);
    choice->setObjectName(QStringLiteral("cmbProtocol"));
    choice->addItem(QStringLiteral("FTP"));
    choice->addItem(QStringLiteral("SFTP"));
    return choice;
}

TSshGroup::TSshGroup(QWidget* parent) : QGroupBox(QStringLiteral("SSH"), parent) {
    setObjectName(QStringLiteral("grpSsh"));
    edtSSHKey = NewEdit("edtSSHKey", this);
    btnSSHKey = NewBrowseButton("btnSSHKey", this);
    edtSSHKeyPass = NewEdit("edtSSHKeyPass", this, true);
    chkSSHAgent = NewCheck("chkSSHAgent", QStringLiteral("Use ssh-agent"), this);
    auto* grid = new QGridLayout(this);
    grid->addWidget(NewLabel("lbSSHKey", QStringLiteral("Key file"), this), 0, 0);
    grid->addWidget(edtSSHKey, 0, 1);
    grid->addWidget(btnSSHKey, 0, 2);
    grid->addWidget(NewLabel("lbSSHKeyPass", QStringLiteral("Passphrase"), this), 1, 0);
    grid->addWidget(edtSSHKeyPass, 1, 1);
    grid->addWidget(chkSSHAgent, 2, 0, 1, 3);
    connect(btnSSHKey, &QPushButton::clicked, this, [this] { BrowseFileInto(this, edtSSHKey); });
}

TProtocolRule::TProtocolRule(QComboBox* choice, QLineEdit* port, std::vector<QWidget*> ftpOnly,
                             QWidget* sshOnly)
    : QObject(choice), choice_(choice), port_(port), ftpOnly_(std::move(ftpOnly)),
      sshOnly_(sshOnly) {
    connect(choice_, &QComboBox::currentIndexChanged, this, &TProtocolRule::Changed);
    Apply();
}

void TProtocolRule::Apply() {
    const bool sftp = choice_->currentIndex() == kSftp;
    for (QWidget* control : ftpOnly_)
        control->setEnabled(!sftp);
    sshOnly_->setEnabled(sftp);
}

void TProtocolRule::Changed() {
    const bool sftp = choice_->currentIndex() == kSftp;
    const QString port = port_->text().trimmed();
    if (port.isEmpty() || port == (sftp ? QStringLiteral("21") : QStringLiteral("22")))
        port_->setText(sftp ? QStringLiteral("22") : QStringLiteral("21"));
    Apply();
}

} // namespace tavrin

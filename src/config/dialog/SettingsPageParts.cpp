#include "config/dialog/SettingsPageParts.h"

#include "config/dialog/MessageBoxes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tavrin {

std::string TextOf(const QLineEdit* edit) {
    return edit->text().toStdString();
}

QString ToQString(const std::string& text) {
    return QString::fromStdString(text);
}

QLineEdit* NewEdit(const char* name, QWidget* parent, bool masked) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    if (masked)
        edit->setEchoMode(QLineEdit::Password);
    return edit;
}

QCheckBox* NewCheck(const char* name, const QString& caption, QWidget* parent) {
    auto* check = new QCheckBox(caption, parent);
    check->setObjectName(QString::fromLatin1(name));
    return check;
}

QLabel* NewLabel(const char* name, const QString& caption, QWidget* parent) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

QPushButton* NewBrowseButton(const char* name, QWidget* parent) {
    auto* button = new QPushButton(QStringLiteral("..."), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    button->setFixedWidth(30);
    return button;
}

TOuterGroup::TOuterGroup(const char* name, const QString& title, QWidget* parent)
    : QGroupBox(title, parent), contents_(new QWidget(this)), grid_(new QGridLayout(contents_)) {
    setObjectName(QString::fromLatin1(name));
    QFont bold = font();
    bold.setBold(true);
    setFont(bold);
    // A font set on a widget passes to its children; the contents take the regular one back
    // explicitly, so only the caption is bold.
    QFont regular = bold;
    regular.setBold(false);
    contents_->setFont(regular);
    grid_->setContentsMargins(0, 0, 0, 0);
    auto* frame = new QVBoxLayout(this);
    frame->setContentsMargins(6, 4, 6, 6);
    frame->addWidget(contents_);
}

TLoginGroup::TLoginGroup(const char* name, const QString& title, QWidget* parent)
    : QGroupBox(title, parent) {
    setObjectName(QString::fromLatin1(name));
    edtUsername = NewEdit("edtUsername", this);
    edtPassword = NewEdit("edtPassword", this, true);
    chkKeepInKeyring =
        NewCheck("chkKeepInKeyring", QStringLiteral("Keep passwords in the keyring"), this);
    auto* grid = new QGridLayout(this);
    grid->addWidget(NewLabel("lbUsername", QStringLiteral("Username"), this), 0, 0);
    grid->addWidget(edtUsername, 0, 1);
    grid->addWidget(NewLabel("lbPassword", QStringLiteral("Password"), this), 1, 0);
    grid->addWidget(edtPassword, 1, 1);
    grid->addWidget(chkKeepInKeyring, 2, 1);
}

TSecurityGroup::TSecurityGroup(QWidget* parent) : QGroupBox(QStringLiteral("Security"), parent) {
    setObjectName(QStringLiteral("grpSecurity"));
    chkUseSSL =
        NewCheck("chkUseSSL", QStringLiteral("Use SSL certificate when authenticating"), this);
    cmbTlsMode = new QComboBox(this);
    cmbTlsMode->setObjectName(QStringLiteral("cmbTlsMode"));
    cmbTlsMode->addItem(QStringLiteral("FTP with explicit TLS"));
    cmbTlsMode->addItem(QStringLiteral("FTP with implicit TLS"));
    edtSSLCertificate = NewEdit("edtSSLCertificate", this);
    btnSSLCertificate = NewBrowseButton("btnSSLCertificate", this);
    edtSSLKey = NewEdit("edtSSLKey", this);
    btnSSLKey = NewBrowseButton("btnSSLKey", this);
    edtSSLPass = NewEdit("edtSSLPass", this, true);
    auto* grid = new QGridLayout(this);
    grid->addWidget(chkUseSSL, 0, 0, 1, 3);
    grid->addWidget(NewLabel("lbTlsMode", QStringLiteral("Encryption"), this), 1, 0);
    grid->addWidget(cmbTlsMode, 1, 1, 1, 2);
    grid->addWidget(NewLabel("lbSSLCertificate", QStringLiteral("Certificate"), this), 2, 0);
    grid->addWidget(edtSSLCertificate, 2, 1);
    grid->addWidget(btnSSLCertificate, 2, 2);
    grid->addWidget(NewLabel("lbSSLKey", QStringLiteral("Key"), this), 3, 0);
    grid->addWidget(edtSSLKey, 3, 1);
    grid->addWidget(btnSSLKey, 3, 2);
    grid->addWidget(NewLabel("lbSSLPass", QStringLiteral("Password"), this), 4, 0);
    grid->addWidget(edtSSLPass, 4, 1);
}

void BrowseFolderInto(QWidget* owner, QLineEdit* edit) {
    RunGuarded(owner, [&] {
        if (auto folder = BrowseForFolder(owner))
            edit->setText(ToQString(*folder));
    });
}

void BrowseFileInto(QWidget* owner, QLineEdit* edit) {
    RunGuarded(owner, [&] {
        if (auto file = BrowseForFile(owner))
            edit->setText(ToQString(*file));
    });
}

} // namespace tavrin

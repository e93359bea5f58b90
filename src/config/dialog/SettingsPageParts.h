#pragma once
// Building blocks shared by the three settings pages: the outer groups with their bold
// captions, the login and security groups of the two server pages, and the text conversions
// between the controls (QString) and the settings (bytes, UTF-8).
#include <QGroupBox>
#include <QString>

#include <string>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tavrin {

std::string TextOf(const QLineEdit* edit);
QString ToQString(const std::string& text);

// The size every page is laid out for.
constexpr int kPageWidth = 450;
constexpr int kPageHeight = 470;

QLineEdit* NewEdit(const char* name, QWidget* parent, bool masked = false);
QCheckBox* NewCheck(const char* name, const QString& caption, QWidget* parent);
QLabel* NewLabel(const char* name, const QString& caption, QWidget* parent);
// The small "..." button beside a folder or file edit box.
QPushButton* NewBrowseButton(const char* name, QWidget* parent);

// A group box whose caption is bold while everything inside keeps the regular font. Controls
// go into Contents(), laid out by Grid().
class TOuterGroup : public QGroupBox {
public:
    TOuterGroup(const char* name, const QString& title, QWidget* parent);
    QWidget* Contents() const { return contents_; }
    QGridLayout* Grid() const { return grid_; }

private:
    QWidget* contents_;
    QGridLayout* grid_;
};

// "Username", a masked "Password", and whether the page's passwords are kept in the keyring.
class TLoginGroup : public QGroupBox {
public:
    TLoginGroup(const char* name, const QString& title, QWidget* parent);
    QLineEdit* edtUsername;
    QLineEdit* edtPassword;
    QCheckBox* chkKeepInKeyring;
};

// TLS on or off, how it starts (explicit after the greeting, or implicit from the first
// byte), and the optional client certificate, its key and the key's password. The
// certificate and key buttons run the page's file-open dialog; the page connects them.
class TSecurityGroup : public QGroupBox {
public:
    explicit TSecurityGroup(QWidget* parent);
    QCheckBox* chkUseSSL;
    // Index 0 "FTP with explicit TLS", 1 "FTP with implicit TLS" (the ImplicitTLS key).
    QComboBox* cmbTlsMode;

    QLineEdit* edtSSLCertificate;
    QPushButton* btnSSLCertificate;
    QLineEdit* edtSSLKey;
    QPushButton* btnSSLKey;
    QLineEdit* edtSSLPass;
};

// Runs the folder browser; a confirmed choice replaces the edit box's text. The browser does
// not start at the edit box's folder.
void BrowseFolderInto(QWidget* owner, QLineEdit* edit);
// Runs the file-open dialog; a confirmed choice (the file's full path) replaces the text.
void BrowseFileInto(QWidget* owner, QLineEdit* edit);

} // namespace tavrin

#include "config/dialog/HostKeysGroup.h"

#include "config/ConfigPaths.h"
#include "config/TrustedHostKeys.h"
#include "config/dialog/MessageBoxes.h"

#include <QCryptographicHash>
#include <QGridLayout>
#include <QListWidget>
#include <QPushButton>

namespace tavrin {
namespace {

constexpr int kHostsRole = Qt::UserRole;
constexpr int kTypeRole = Qt::UserRole + 1;
constexpr int kKeyRole = Qt::UserRole + 2;

} // namespace

std::string HostKeyFingerprint(const std::string& base64Key) {
    const QByteArray blob = QByteArray::fromBase64(QByteArray::fromStdString(base64Key));
    const QByteArray digest = QCryptographicHash::hash(blob, QCryptographicHash::Sha256);
    return "SHA256:" + digest.toBase64(QByteArray::Base64Encoding | QByteArray::OmitTrailingEquals)
                           .toStdString();
}

THostKeysGroup::THostKeysGroup(QWidget* parent)
    : TOuterGroup("grpHostKeys", QStringLiteral("Trusted SSH host keys"), parent) {
    QWidget* in = Contents();
    lstHostKeys = new QListWidget(in);
    lstHostKeys->setObjectName(QStringLiteral("lstHostKeys"));
    lstHostKeys->setMaximumHeight(90);
    btnForgetHostKey = new QPushButton(QStringLiteral("Forget host key"), in);
    btnForgetHostKey->setObjectName(QStringLiteral("btnForgetHostKey"));
    btnForgetHostKey->setAutoDefault(false);
    Grid()->addWidget(lstHostKeys, 0, 0, 1, 2);
    Grid()->addWidget(btnForgetHostKey, 1, 0);
    Grid()->setColumnStretch(1, 1);
    connect(btnForgetHostKey, &QPushButton::clicked, this, &THostKeysGroup::btnForgetHostKeyClick);
    Refresh();
}

void THostKeysGroup::Refresh() {
    lstHostKeys->clear();
    for (const hostkeys::THostKey& key : hostkeys::Load(KnownHostsFilePath())) {
        auto* item = new QListWidgetItem(
            ToQString(key.Hosts + "  " + key.KeyType + "  " + HostKeyFingerprint(key.Key)));
        item->setToolTip(item->text()); // a long fingerprint may not fit the list
        item->setData(kHostsRole, ToQString(key.Hosts));
        item->setData(kTypeRole, ToQString(key.KeyType));
        item->setData(kKeyRole, ToQString(key.Key));
        lstHostKeys->addItem(item);
    }
}

void THostKeysGroup::btnForgetHostKeyClick() {
    RunGuarded(this, [this] {
        const QListWidgetItem* item = lstHostKeys->currentItem();
        if (item == nullptr)
            return;
        const hostkeys::THostKey key{item->data(kHostsRole).toString().toStdString(),
                                     item->data(kTypeRole).toString().toStdString(),
                                     item->data(kKeyRole).toString().toStdString()};
        if (!AskWarning(this, "Forget the host key of " + key.Hosts +
                                  "?\r\nThe next connection trusts whatever key the server "
                                  "shows."))
            return;
        hostkeys::Forget(KnownHostsFilePath(), key);
        Refresh();
    });
}

} // namespace tavrin

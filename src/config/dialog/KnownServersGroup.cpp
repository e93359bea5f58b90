#include "config/dialog/KnownServersGroup.h"

#include "config/ConfigPaths.h"
#include "config/dialog/MessageBoxes.h"
#include "platform/KnownServers.h"

#include <QGridLayout>
#include <QListWidget>
#include <QPushButton>

using namespace tavrin;

TKnownServersGroup::TKnownServersGroup(QWidget* parent)
    : TOuterGroup("grpKnownServers", QStringLiteral("Trusted servers"), parent) {
    QWidget* in = Contents();
    lstKnownServers = new QListWidget(in);
    lstKnownServers->setObjectName(QStringLiteral("lstKnownServers"));
    lstKnownServers->setMaximumHeight(90);
    btnForgetServer = new QPushButton(QStringLiteral("Forget server"), in);
    btnForgetServer->setObjectName(QStringLiteral("btnForgetServer"));
    btnForgetServer->setAutoDefault(false);
    Grid()->addWidget(lstKnownServers, 0, 0, 1, 2);
    Grid()->addWidget(btnForgetServer, 1, 0);
    Grid()->setColumnStretch(1, 1);
    connect(btnForgetServer, &QPushButton::clicked, this,
            &TKnownServersGroup::btnForgetServerClick);
    Refresh();
}

void TKnownServersGroup::Refresh() {
    lstKnownServers->clear();
    for (const known::Entry& entry : known::Load(KnownServersFilePath())) {
        auto* item = new QListWidgetItem(ToQString(entry.Server + "  " + entry.Fingerprint));
        item->setData(Qt::UserRole, ToQString(entry.Server));
        lstKnownServers->addItem(item);
    }
}

void TKnownServersGroup::btnForgetServerClick() {
    RunGuarded(this, [this] {
        const QListWidgetItem* item = lstKnownServers->currentItem();
        if (item == nullptr)
            return;
        const std::string server = item->data(Qt::UserRole).toString().toStdString();
        if (!AskWarning(this, "Forget the certificate of " + server +
                                  "?\r\nThe next connection trusts whatever certificate the "
                                  "server shows."))
            return;
        known::Forget(KnownServersFilePath(), server);
        Refresh();
    });
}

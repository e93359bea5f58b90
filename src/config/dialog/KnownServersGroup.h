#pragma once
// "Trusted servers" on the General page: the servers whose certificate was trusted on first
// use, and a button that forgets the chosen one, so that its next certificate is trusted
// anew (after a server's certificate was renewed on purpose).
#include "config/dialog/SettingsPageParts.h"

class QListWidget;
class QPushButton;

class TKnownServersGroup : public tavrin::TOuterGroup {
public:
    explicit TKnownServersGroup(QWidget* parent);

    // Reads the known-servers file again.
    void Refresh();
    // Forgets the server chosen in the list; nothing happens when none is chosen.
    void btnForgetServerClick();

    QListWidget* lstKnownServers;
    QPushButton* btnForgetServer;
};

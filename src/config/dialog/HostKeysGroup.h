#pragma once
// "Trusted SSH host keys" on the General page, beside the trusted TLS servers: the host keys
// of SFTP servers trusted on first use, and a button that forgets the chosen one, so that the
// server's next key is trusted anew. Keys the user trusts in ~/.ssh/known_hosts are not
// listed; they stay the user's own to edit.
#include "config/dialog/SettingsPageParts.h"

class QListWidget;
class QPushButton;

namespace tavrin {

// "SHA256:…" of a public key stored in base64, as OpenSSH prints fingerprints.
std::string HostKeyFingerprint(const std::string& base64Key);

class THostKeysGroup : public TOuterGroup {
public:
    explicit THostKeysGroup(QWidget* parent);

    // Reads the known_hosts file again.
    void Refresh();
    // Forgets the key chosen in the list after the user said Yes; nothing when none is chosen.
    void btnForgetHostKeyClick();

    QListWidget* lstHostKeys;
    QPushButton* btnForgetHostKey;
};

} // namespace tavrin

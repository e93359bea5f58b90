#pragma once
// The "Keep passwords in the keyring" box of a server page and what it does: on opening, a
// job that keeps its passwords in the keyring shows them from there, and the box is checked
// for such a job or, for one that has not chosen, wherever a keyring answers; on saving, the
// page's passwords go where the box says (see secrets/KeyringSave.h).
#include "config/SettingsFile.h"
#include "secrets/Keyring.h"

#include <string>

class QCheckBox;

namespace tavrin {

class TPageSecrets {
public:
    // `keyring` may be nullptr (no keyring at all).
    TPageSecrets(TKeyring* keyring, QCheckBox* box) : keyring_(keyring), box_(box) {}

    // Before the record is shown: its secrets from the keyring where it keeps them there.
    void Load(TDirection direction, RConfiguration& record);
    // Writes the page; returns a line for the log when the passwords did not go where the box
    // said, else "".
    std::string Save(TDirection direction, const TSettingsSource& page, const std::string& path);

private:
    TKeyring* keyring_;
    QCheckBox* box_;
    bool shown_ = true;
};

} // namespace tavrin

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

    // Before the record is shown: the secrets of job `jobName` from the keyring where it keeps
    // them there. `fromKeyring` false for a job not in the file yet (a copy keeps the secrets
    // it was copied with; entries a removed job of the same name left are not taken).
    void Load(const std::string& jobName, RConfiguration& record, bool fromKeyring = true);
    // Writes the job `jobName` to settings section `section`; returns a line for the log when
    // the passwords did not go where the box said, else "".
    std::string Save(TDirection direction, const std::string& section, const std::string& jobName,
                     const TSettingsSource& page, const std::string& path);

private:
    TKeyring* keyring_;
    QCheckBox* box_;
    bool shown_ = true;
};

} // namespace tavrin

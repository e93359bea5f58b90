#pragma once
// Saving a job with "Keep passwords in the keyring": the secrets go to the keyring, the file
// gets PasswordStore=keyring and empty secrets. Where no keyring answers, or it refuses, the
// secrets go to the file as they always did, with a line saying so. Opening the dialog reads
// them back for the page.
#include "config/SettingsFile.h"
#include "secrets/Keyring.h"

#include <string>

namespace tavrin {

struct TKeyringSave {
    // The file now says PasswordStore=keyring.
    bool InKeyring = false;
    // One line for the log when the keyring was wanted but the file got the secrets.
    std::string Note;
};

// Writes `direction`'s keys from `source` into `path` (SaveSettings), with the secrets placed
// as above. `keyring` may be nullptr. A save without the keyring writes PasswordStore=file
// where a keyring answers, so the choice is kept, and nothing new where none does.
// `secretsShown` false: the page could not read the keyring when it opened, so its empty
// secrets are no edit; the secrets and PasswordStore stay as they are, with a note.
TKeyringSave SaveWithKeyring(TDirection direction, const TSettingsSource& source,
                             const std::string& path, TKeyring* keyring, bool keepInKeyring,
                             bool secretsShown = true);
// The same for the job `jobName` kept in settings section `section` (config/JobSections.h):
// its secrets go to the keyring under the job's own name ("NAME/password").
TKeyringSave SaveWithKeyring(TDirection direction, const std::string& section,
                             const std::string& jobName, const TSettingsSource& source,
                             const std::string& path, TKeyring* keyring, bool keepInKeyring,
                             bool secretsShown = true);

// Fills a job's secrets from the keyring for display; false when the keyring did not answer
// (the fields then keep what they had).
bool ReadSecretsFromKeyring(const std::string& jobName, RServerSettings& settings,
                            TKeyring& keyring);

} // namespace tavrin

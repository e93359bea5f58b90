#include "config/dialog/PageSecrets.h"

#include "secrets/KeyringSave.h"
#include "secrets/SecretSources.h"

#include <QCheckBox>

namespace tavrin {

void TPageSecrets::Load(const std::string& jobName, RConfiguration& record, bool fromKeyring) {
    const bool answers = keyring_ != nullptr && keyring_->Available();
    const bool inKeyring = KeepsSecretsInKeyring(record);
    shown_ = !inKeyring || !fromKeyring ||
             (answers && ReadSecretsFromKeyring(jobName, record, *keyring_));
    box_->setChecked(inKeyring || (answers && record.PasswordStore.empty()));
}

std::string TPageSecrets::Save(TDirection direction, const std::string& section,
                               const std::string& jobName, const TSettingsSource& page,
                               const std::string& path) {
    return SaveWithKeyring(direction, section, jobName, page, path, keyring_, box_->isChecked(),
                           shown_)
        .Note;
}

} // namespace tavrin

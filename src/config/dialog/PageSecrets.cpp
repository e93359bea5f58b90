#include "config/dialog/PageSecrets.h"

#include "secrets/KeyringSave.h"
#include "secrets/SecretSources.h"

#include <QCheckBox>

namespace tavrin {

void TPageSecrets::Load(TDirection direction, RConfiguration& record) {
    const bool answers = keyring_ != nullptr && keyring_->Available();
    const bool inKeyring = KeepsSecretsInKeyring(record);
    shown_ = !inKeyring ||
             (answers && ReadSecretsFromKeyring(SectionName(direction), record, *keyring_));
    box_->setChecked(inKeyring || (answers && record.PasswordStore.empty()));
}

std::string TPageSecrets::Save(TDirection direction, const TSettingsSource& page,
                               const std::string& path) {
    return SaveWithKeyring(direction, page, path, keyring_, box_->isChecked(), shown_).Note;
}

} // namespace tavrin

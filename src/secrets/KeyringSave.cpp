#include "secrets/KeyringSave.h"

#include "secrets/SecretSources.h"

#include <algorithm>
#include <cstring>

namespace tavrin {
namespace {

// The secret a settings row holds, or nullptr for any other row.
const TSecretSlot* SlotOf(const TSettingKey& key) {
    const auto* field = std::get_if<std::string RConfiguration::*>(&key.Field);
    if (field == nullptr)
        return nullptr;
    for (const TSecretSlot& slot : SecretSlots())
        if (*field == static_cast<std::string RConfiguration::*>(slot.Field))
            return &slot;
    return nullptr;
}

bool IsStoreKey(const TSettingKey& key) {
    return std::strcmp(key.Name, "PasswordStore") == 0;
}

// Every secret of the page into the keyring; the first refusal ends it.
bool WriteSecrets(TDirection direction, const TSettingsSource& source, TKeyring& keyring,
                  bool erasesEmpty, std::string& error) {
    const std::string& job = SectionName(direction);
    for (const TSettingKey& key : SettingKeys()) {
        const TSecretSlot* slot = SlotOf(key);
        if (slot == nullptr || !IsUsedBy(key, direction))
            continue;
        const std::optional<std::string> value = source(key);
        if (!value || (value->empty() && !erasesEmpty))
            continue;
        if (!keyring.Write(KeyringKey(job, *slot), *value, error))
            return false;
    }
    return true;
}

} // namespace

TKeyringSave SaveWithKeyring(TDirection direction, const TSettingsSource& source,
                             const std::string& path, TKeyring* keyring, bool keepInKeyring,
                             bool erasesEmpty) {
    TKeyringSave result;
    if (keepInKeyring) {
        const std::string& job = SectionName(direction);
        std::string error;
        if (keyring == nullptr || !keyring->Available())
            result.Note =
                "No keyring answered; the passwords of " + job + " are kept in the settings file";
        else if (WriteSecrets(direction, source, *keyring, erasesEmpty, error))
            result.InKeyring = true;
        else
            result.Note = "The keyring did not take the passwords of " + job + " (" + error +
                          "); they are kept in the settings file";
    }
    const bool inKeyring = result.InKeyring;
    SaveSettings(
        direction,
        [&source, inKeyring](const TSettingKey& key) -> std::optional<std::string> {
            if (IsStoreKey(key))
                return std::string(inKeyring ? kPasswordStoreKeyring : "");
            if (inKeyring && SlotOf(key) != nullptr)
                return std::string();
            return source(key);
        },
        path);
    return result;
}

bool ReadSecretsFromKeyring(const std::string& jobName, RServerSettings& settings,
                            TKeyring& keyring) {
    for (const TSecretSlot& slot : SecretSlots()) {
        TKeyringAnswer answer = keyring.Read(KeyringKey(jobName, slot));
        if (answer.status == TKeyringStatus::Unavailable)
            return false;
        if (answer.status == TKeyringStatus::Found)
            settings.*slot.Field = std::move(answer.value);
    }
    return true;
}

} // namespace tavrin

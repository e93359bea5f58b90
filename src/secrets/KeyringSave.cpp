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
bool WriteSecrets(TDirection direction, const std::string& job, const TSettingsSource& source,
                  TKeyring& keyring, std::string& error) {
    for (const TSettingKey& key : SettingKeys()) {
        const TSecretSlot* slot = SlotOf(key);
        if (slot == nullptr || !IsUsedBy(key, direction))
            continue;
        const std::optional<std::string> value = source(key);
        if (!value)
            continue;
        if (!keyring.Write(KeyringKey(job, *slot), *value, error))
            return false;
    }
    return true;
}

} // namespace

TKeyringSave SaveWithKeyring(TDirection direction, const TSettingsSource& source,
                             const std::string& path, TKeyring* keyring, bool keepInKeyring,
                             bool secretsShown) {
    return SaveWithKeyring(direction, SectionName(direction), SectionName(direction), source, path,
                           keyring, keepInKeyring, secretsShown);
}

TKeyringSave SaveWithKeyring(TDirection direction, const std::string& section,
                             const std::string& job, const TSettingsSource& source,
                             const std::string& path, TKeyring* keyring, bool keepInKeyring,
                             bool secretsShown) {
    TKeyringSave result;
    const bool answers = keyring != nullptr && keyring->Available();
    std::string error;
    if (!secretsShown)
        result.Note = "The keyring could not be read when the settings were opened; the "
                      "passwords of " +
                      job + " were left as they were";
    else if (keepInKeyring && !answers)
        result.Note =
            "No keyring answered; the passwords of " + job + " are kept in the settings file";
    else if (keepInKeyring && !WriteSecrets(direction, job, source, *keyring, error))
        result.Note = "The keyring did not take the passwords of " + job + " (" + error +
                      "); they are kept in the settings file";
    else if (keepInKeyring)
        result.InKeyring = true;
    const bool inKeyring = result.InKeyring;
    const std::string store = inKeyring ? kPasswordStoreKeyring : answers ? "file" : "";
    SaveSettings(
        direction, section,
        [&](const TSettingKey& key) -> std::optional<std::string> {
            const bool secret = SlotOf(key) != nullptr;
            if (!secretsShown && (secret || IsStoreKey(key)))
                return std::nullopt;
            if (IsStoreKey(key))
                return store;
            if (inKeyring && secret)
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

#pragma once
// Every key of the "Import" and "Export" sections, one row each: where it is stored, its
// default, which direction reads it, whether a save writes it, and the control that shows it
// on the direction's settings page. Loading, saving and the pages all walk this table, so a
// new key is one row here (plus its field and, when the user sets it, its control).
#include "config/CommonTypesUnit.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <variant>

namespace tavrin {

enum class TDirection { Import, Export };

enum class TKeyType {
    Text,    // stored as it stands
    Boolean, // "1" or "0"; read as an integer, non-zero is true
    Integer  // signed decimal; read also as "$"/"0x" hexadecimal
};

// Which records read a key.
enum class TKeyUse { Import, Export, Both };

enum class TKeySave {
    Always,     // every save writes it
    WhenChosen, // written once it differs from its default or the file has it already, so
                // files from before the key existed save exactly as they did
};

using TKeyField =
    std::variant<std::string RConfiguration::*, bool RConfiguration::*, int32_t RConfiguration::*>;

struct TSettingKey {
    // The section the key lives in for both directions; nullptr: the direction's own.
    const char* SharedSection;
    const char* Name;
    // As stored: "1"/"0" for Booleans.
    const char* Default;
    TKeyUse Use;
    TKeySave Save;
    // The object name of the control on the page, or nullptr when no page shows the key.
    const char* Control;
    TKeyField Field;
    // Integers below this read as it (a negative settle time means "at once").
    int32_t Minimum = std::numeric_limits<int32_t>::min();
};

// The rows in the order a save writes them.
std::span<const TSettingKey> SettingKeys();

TKeyType TypeOf(const TSettingKey& key);
bool IsUsedBy(const TSettingKey& key, TDirection direction);
// "Import" or "Export".
const std::string& SectionName(TDirection direction);
std::string SectionOf(const TSettingKey& key, TDirection direction);
// Where a job stored in `jobSection` keeps the key: the rule above for the plain "Import" and
// "Export" sections, the job's own section for any other.
std::string SectionOf(const TSettingKey& key, TDirection direction, const std::string& jobSection);

// A field's value as the file stores it.
std::string StoredText(const RConfiguration& record, const TSettingKey& key);
// Sets the field from a stored text; text that does not fit the key's type gives its default.
void SetFromStored(RConfiguration& record, const TSettingKey& key, const std::string& text);

} // namespace tavrin

#include "config/SettingsFile.h"

#include "base/StrUtils.h"
#include "config/ConfigPaths.h"
#include "config/LogSwitches.h"
#include "platform/IniFile.h"

#include <set>
#include <string_view>

namespace tavrin {
namespace {

const std::string kGeneral = "General";

class SettingsReader {
public:
    explicit SettingsReader(const std::string& path) : ini_(path) {}

    std::string Text(const std::string& section, const std::string& key,
                     const std::string& fallback = "") const {
        return ini_.ReadString(section, key, fallback);
    }

    // Booleans are stored as integers: non-zero is true. Anything that is no integer (an empty
    // value, "yes", "true") gives the key's default.
    bool Boolean(const std::string& section, const std::string& key, bool fallback) const {
        auto number = TryStrToInt(Text(section, key));
        return number ? *number != 0 : fallback;
    }

    int32_t Integer(const std::string& section, const std::string& key, int32_t fallback) const {
        return TryStrToInt(Text(section, key)).value_or(fallback);
    }

private:
    TIniFile ini_;
};

// Writes key after key; the first one that fails ends the save.
class SettingsWriter {
public:
    explicit SettingsWriter(const std::string& path) : ini_(path) {}

    void Text(const std::string& section, const std::string& key, const std::string& value) {
        if (!folderChecked_) {
            // The first save of a fresh installation makes the settings folder.
            size_t slash = ini_.FileName().rfind('/');
            if (slash != std::string::npos && slash > 0)
                ForceDirectories(ini_.FileName().substr(0, slash));
            folderChecked_ = true;
        }
        if (!ini_.WriteString(section, key, value))
            throw ESettingsWriteError("Unable to write to " + ini_.FileName());
    }

    void Boolean(const std::string& section, const std::string& key, bool value) {
        Text(section, key, value ? "1" : "0");
    }

private:
    TIniFile ini_;
    bool folderChecked_ = false;
};

// Reads true when the file has the key, whatever its value.
bool HasKey(const std::string& path, const std::string& section, const std::string& key) {
    const std::string kAbsent = std::string(1, '\x01') + "absent";
    return SettingsReader(path).Text(section, key, kAbsent) != kAbsent;
}

// Which files move and whether logins stay are no part of the page values below; those keys
// stay as the file has them.
bool IsBeyondThePageValues(const TSettingKey& key) {
    static const std::set<std::string_view> kKeys = {"Include",   "Exclude",       "IgnoreCase",
                                                     "MinSize",   "MaxSize",       "MinAge",
                                                     "Recursive", "KeepConnection"};
    return kKeys.count(key.Name) != 0;
}

// What a page with these values shows: every key the page has a control for, its one integer
// (`integerKey`) as the page's text. Other integers stay as the file has them.
TSettingsSource PageSource(const RConfiguration& record, std::string_view integerKey,
                           std::string integerText) {
    return [&record, integerKey, integerText = std::move(integerText)](
               const TSettingKey& key) -> std::optional<std::string> {
        if (key.Control == nullptr || IsBeyondThePageValues(key))
            return std::nullopt;
        if (TypeOf(key) == TKeyType::Integer)
            return key.Name == integerKey ? std::optional<std::string>(integerText) : std::nullopt;
        return StoredText(record, key);
    };
}

} // namespace

RConfiguration LoadRecord(TDirection direction, const std::string& path) {
    return LoadRecord(direction, SectionName(direction), path);
}

RConfiguration LoadRecord(TDirection direction, const std::string& jobSection,
                          const std::string& path) {
    SettingsReader in(path);
    RConfiguration c;
    for (const TSettingKey& key : SettingKeys())
        if (IsUsedBy(key, direction))
            SetFromStored(c, key,
                          in.Text(SectionOf(key, direction, jobSection), key.Name, key.Default));
    // An SFTP job written by hand without a port means SSH's port, not FTP's.
    if (SameTextAscii(c.Protocol, "SFTP") && in.Text(jobSection, "Port", "").empty())
        c.Port = "22";
    return c;
}

void SaveSettings(TDirection direction, const TSettingsSource& source, const std::string& path) {
    SaveSettings(direction, SectionName(direction), source, path);
}

void SaveSettings(TDirection direction, const std::string& jobSection,
                  const TSettingsSource& source, const std::string& path) {
    SettingsWriter out(path);
    for (const TSettingKey& key : SettingKeys()) {
        if (!IsUsedBy(key, direction))
            continue;
        std::optional<std::string> text = source(key);
        if (!text)
            continue;
        if (TypeOf(key) == TKeyType::Integer)
            text = std::to_string(StrToInt(*text));
        const std::string section = SectionOf(key, direction, jobSection);
        if (key.Save == TKeySave::WhenChosen && *text == key.Default &&
            !HasKey(path, section, key.Name))
            continue;
        out.Text(section, key.Name, *text);
    }
}

void SaveRecord(TDirection direction, const RConfiguration& record, const std::string& path) {
    SaveRecord(direction, SectionName(direction), record, path);
}

void SaveRecord(TDirection direction, const std::string& jobSection, const RConfiguration& record,
                const std::string& path) {
    SaveSettings(
        direction, jobSection,
        [&record](const TSettingKey& key) { return StoredText(record, key); }, path);
}

RConfiguration LoadImportConfiguration(const std::string& path) {
    return LoadRecord(TDirection::Import, path);
}

RConfiguration LoadImportConfiguration() {
    return LoadImportConfiguration(ConfigFilePath());
}

RConfiguration LoadExportConfiguration(const std::string& path) {
    return LoadRecord(TDirection::Export, path);
}

RConfiguration LoadExportConfiguration() {
    return LoadExportConfiguration(ConfigFilePath());
}

TLogSwitchValues LoadLogSwitches(const std::string& path) {
    SettingsReader in(path);
    TLogSwitchValues v;
    v.LogMonitor = in.Boolean(kGeneral, "LogMonitor", true);
    v.LogFileTransfer = in.Boolean(kGeneral, "LogFileTransfer", true);
    v.LogSSL = in.Boolean(kGeneral, "LogSSL", true);
    v.LogVerbose = in.Boolean(kGeneral, "LogVerbose", true);
    LogMonitor = v.LogMonitor;
    LogFileTransfer = v.LogFileTransfer;
    LogSSL = v.LogSSL;
    LogVerbose = v.LogVerbose;
    return v;
}

TLogSwitchValues LoadLogSwitches() {
    return LoadLogSwitches(ConfigFilePath());
}

TLogKeepingValues LoadLogKeeping(const std::string& path) {
    SettingsReader in(path);
    TLogKeepingValues v;
    const int32_t lines = in.Integer(kGeneral, "LogLines", v.LogLines);
    if (lines >= 0)
        v.LogLines = lines;
    v.LogFile = in.Text(kGeneral, "LogFile");
    return v;
}

TLogKeepingValues LoadLogKeeping() {
    return LoadLogKeeping(ConfigFilePath());
}

void SaveImportConfiguration(const TImportPageValues& v, const std::string& path) {
    RConfiguration shown;
    shown.Server() = v;
    shown.LocalFolder = v.LocalFolder;
    shown.TempFolder = v.TempFolder;
    shown.FirstToTemp = v.FirstToTemp;
    shown.RemoteFolder = v.RemoteFolder;
    shown.MoveDelete = v.MoveDelete;
    shown.KeepAlive = v.KeepAlive;
    shown.WaitForStableFiles = v.WaitForStableFiles;
    SaveSettings(TDirection::Import, PageSource(shown, "CheckInterval", v.CheckInterval), path);
}

void SaveImportConfiguration(const TImportPageValues& values) {
    SaveImportConfiguration(values, ConfigFilePath());
}

void SaveExportConfiguration(const TExportPageValues& v, const std::string& path) {
    RConfiguration shown;
    shown.Server() = v;
    shown.LocalFolder = v.LocalFolder;
    shown.MoveDelete = v.MoveDelete;
    shown.MoveToFolder = v.MoveToFolder;
    shown.RemoteFolder = v.RemoteFolder;
    shown.TempFolder = v.TempFolder;
    shown.FirstToTemp = v.FirstToTemp;
    shown.RetryFailed = v.RetryFailed;
    shown.ExportExisting = v.ExportExisting;
    SaveSettings(TDirection::Export, PageSource(shown, "SettleTime", v.SettleTime), path);
}

void SaveExportConfiguration(const TExportPageValues& values) {
    SaveExportConfiguration(values, ConfigFilePath());
}

void SaveLogSwitches(const TLogSwitchValues& v, const std::string& path) {
    SettingsWriter out(path);
    out.Boolean(kGeneral, "LogMonitor", v.LogMonitor);
    out.Boolean(kGeneral, "LogFileTransfer", v.LogFileTransfer);
    out.Boolean(kGeneral, "LogSSL", v.LogSSL);
    out.Boolean(kGeneral, "LogVerbose", v.LogVerbose);
    LogMonitor = v.LogMonitor;
    LogFileTransfer = v.LogFileTransfer;
    LogSSL = v.LogSSL;
    LogVerbose = v.LogVerbose;
}

void SaveLogSwitches(const TLogSwitchValues& values) {
    SaveLogSwitches(values, ConfigFilePath());
}

void SaveLogKeeping(const TLogKeepingValues& v, const std::string& path) {
    SettingsWriter out(path);
    out.Text(kGeneral, "LogLines", std::to_string(v.LogLines));
    out.Text(kGeneral, "LogFile", v.LogFile);
}

void SaveLogKeeping(const TLogKeepingValues& values) {
    SaveLogKeeping(values, ConfigFilePath());
}

} // namespace tavrin

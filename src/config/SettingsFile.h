#pragma once
// Reading and writing MonitorConfig.ini: the "Import" and "Export" records, the "General" log
// switches, and the key-by-key saves of the three settings pages. No window is needed for any
// of it; the settings pages call these with the values of their controls.
#include "base/IdException.h"
#include "config/CommonTypesUnit.h"
#include "config/SettingsKeys.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace tavrin {

// A write to the settings file failed: "Unable to write to <file path>".
class ESettingsWriteError : public EIdException {
public:
    using EIdException::EIdException;
};

// Each load reads the file afresh; a missing file, section or key gives the key's default, as
// does a Boolean or integer that does not parse as an integer. `path` defaults to
// ConfigFilePath().
//
// Import: "Import" keys, with PassiveMode and BinaryMode from "Export" (one setting shared by
// both directions); MoveToFolder stays empty. Defaults: Port "21", KeepAlive true,
// CheckInterval 10, PassiveMode and BinaryMode true, everything else empty or false.
RConfiguration LoadImportConfiguration(const std::string& path);
RConfiguration LoadImportConfiguration();
// Export: "Export" keys; CheckInterval stays 0 and KeepAlive false. Defaults: Port "21",
// PassiveMode and BinaryMode true, SettleTime 1000 (negative values read as 0), everything
// else empty or false.
RConfiguration LoadExportConfiguration(const std::string& path);
RConfiguration LoadExportConfiguration();

// The four "General" switches, in the order the General page shows them.
struct TLogSwitchValues {
    bool LogMonitor = true;
    bool LogFileTransfer = true;
    bool LogSSL = true;
    bool LogVerbose = true;

    bool operator==(const TLogSwitchValues&) const = default;
};

// Reads the four "General" keys (default true), sets the process-wide switches from them and
// returns them.
TLogSwitchValues LoadLogSwitches(const std::string& path);
TLogSwitchValues LoadLogSwitches();

// How much of the activity log is kept: the newest LogLines lines in the window (0 = all),
// and every shown line also appended to LogFile (empty = no file).
struct TLogKeepingValues {
    int32_t LogLines = 100000;
    std::string LogFile;

    bool operator==(const TLogKeepingValues&) const = default;
};

// "General" LogLines (a negative or unreadable number gives the default) and LogFile.
TLogKeepingValues LoadLogKeeping(const std::string& path);
TLogKeepingValues LoadLogKeeping();

// What the Import page's controls hold: the server and login, and the import's own options.
// CheckInterval is the edit box's text.
struct TImportPageValues : RServerSettings {
    std::string LocalFolder;
    std::string TempFolder;
    bool FirstToTemp = false;
    std::string RemoteFolder;
    bool MoveDelete = false;
    bool KeepAlive = false;
    std::string CheckInterval;
    bool WaitForStableFiles = true;
};

// What the Export page's controls hold. SettleTime is the edit box's text.
struct TExportPageValues : RServerSettings {
    std::string LocalFolder;
    bool MoveDelete = false;
    std::string MoveToFolder;
    std::string RemoteFolder;
    std::string TempFolder;
    bool FirstToTemp = false;
    std::string SettleTime = "1000";
    bool RetryFailed = false;
    bool ExportExisting = false;
};

// The saves write one key at a time, in a fixed order, texts as they stand and Booleans as
// "1"/"0"; the folder of the file is created when missing. A failed write stops the save at
// that key with ESettingsWriteError; keys written before it stay written.
//
// Import: "Import" LocalFolder, TempFolder, FirstToTemp, Host, Port, Username, Password,
// "Export" PassiveMode, BinaryMode, "Import" RemoteFolder, MoveDelete, KeepAlive,
// CheckInterval, WaitForStableFiles, SSL, SSLCertificate, SSLKey, SSLPass. A CheckInterval text
// that is not an integer (decimal, "$" or "0x" hexadecimal) stops the save at that key with
// EConvertError
// "'<text>' is not a valid integer value"; it is written as decimal. Then ImplicitTLS, but
// only when it is set or the file already has it, so older files save as they always did.
// Both loads also read ImplicitTLS, ForcePASV, UsePasvAddress, UseMLSD, Protocol, SSHKey,
// SSHKeyPass and SSHAgent from their own section (defaults 0, 0, 0, 1, "FTP", "", "", 0); the
// import load reads ResumeDownloads (default 1). Of these the pages show ImplicitTLS and the
// four SFTP keys, saved after ImplicitTLS in that order by the same rule; the others are left
// as the file has them.
void SaveImportConfiguration(const TImportPageValues& values, const std::string& path);
void SaveImportConfiguration(const TImportPageValues& values);
// Export, all in "Export": LocalFolder, MoveDelete, MoveToFolder, Host, Port, Username,
// Password, PassiveMode, BinaryMode, RemoteFolder, TempFolder, FirstToTemp, SSL,
// SSLCertificate, SSLKey, SSLPass, SettleTime (an integer text, written as decimal; one that
// is not stops the save there with EConvertError), RetryFailed, ExportExisting, then
// ImplicitTLS as for the import.
void SaveExportConfiguration(const TExportPageValues& values, const std::string& path);
void SaveExportConfiguration(const TExportPageValues& values);
// "General" LogMonitor, LogFileTransfer, LogSSL, LogVerbose; then the process-wide switches
// are set from the same values (only when all four were written).
void SaveLogSwitches(const TLogSwitchValues& values, const std::string& path);
void SaveLogSwitches(const TLogSwitchValues& values);
// "General" LogLines, LogFile.
void SaveLogKeeping(const TLogKeepingValues& values, const std::string& path);
void SaveLogKeeping(const TLogKeepingValues& values);

// One direction's record, read and written through the key table (config/SettingsKeys.h).
// LoadRecord is LoadImportConfiguration / LoadExportConfiguration. SaveRecord writes every key
// of the direction in the pages' order, Booleans as "1"/"0" and integers as decimal; keys that
// only some files have (ImplicitTLS, the SFTP keys, ForcePASV, UsePasvAddress, UseMLSD,
// ResumeDownloads, PasswordStore, PasswordFile) only when they differ from their default or the
// file already has them.
RConfiguration LoadRecord(TDirection direction, const std::string& path);
void SaveRecord(TDirection direction, const RConfiguration& record, const std::string& path);

// The text to store for a key, as a page's control holds it (integers as typed, checked when
// written); nothing leaves the key as the file has it.
using TSettingsSource = std::function<std::optional<std::string>(const TSettingKey&)>;
// Writes a direction's keys from `source`, in table order, by the rules of the page saves.
void SaveSettings(TDirection direction, const TSettingsSource& source, const std::string& path);

// The same for the job of settings section `section` (config/JobSections.h): "Import" and
// "Export" are the calls above; a named job's section holds every key of its direction,
// PassiveMode and BinaryMode included.
RConfiguration LoadRecord(TDirection direction, const std::string& section,
                          const std::string& path);
void SaveRecord(TDirection direction, const std::string& section, const RConfiguration& record,
                const std::string& path);
void SaveSettings(TDirection direction, const std::string& section, const TSettingsSource& source,
                  const std::string& path);

} // namespace tavrin

#include "config/SettingsFile.h"

#include "base/StrUtils.h"
#include "config/ConfigPaths.h"
#include "config/LogSwitches.h"
#include "platform/IniFile.h"

#include <algorithm>

namespace tavrin {
namespace {

const std::string kGeneral = "General";
const std::string kImport = "Import";
const std::string kExport = "Export";

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

// How each direction reaches its server; every section has its own.
void ReadReachKeys(const SettingsReader& in, const std::string& section, RConfiguration& c) {
    c.ImplicitTLS = in.Boolean(section, "ImplicitTLS", false);
    c.ForcePASV = in.Boolean(section, "ForcePASV", false);
    c.UsePasvAddress = in.Boolean(section, "UsePasvAddress", false);
    c.UseMLSD = in.Boolean(section, "UseMLSD", true);
    c.Protocol = in.Text(section, "Protocol", "FTP");
    c.SSHKey = in.Text(section, "SSHKey");
    c.SSHKeyPass = in.Text(section, "SSHKeyPass");
    c.SSHAgent = in.Boolean(section, "SSHAgent", false);
}

// A file that never had ImplicitTLS keeps saving without it until implicit TLS is chosen.
void WriteImplicitTls(SettingsWriter& out, const std::string& path, const std::string& section,
                      bool value) {
    const std::string kAbsent = std::string(1, '\x01') + "absent";
    if (value || SettingsReader(path).Text(section, "ImplicitTLS", kAbsent) != kAbsent)
        out.Boolean(section, "ImplicitTLS", value);
}

} // namespace

RConfiguration LoadImportConfiguration(const std::string& path) {
    SettingsReader in(path);
    RConfiguration c;
    c.LocalFolder = in.Text(kImport, "LocalFolder");
    c.TempFolder = in.Text(kImport, "TempFolder");
    c.FirstToTemp = in.Boolean(kImport, "FirstToTemp", false);
    c.Host = in.Text(kImport, "Host");
    c.Port = in.Text(kImport, "Port", "21");
    c.Username = in.Text(kImport, "Username");
    c.Password = in.Text(kImport, "Password");
    // One passive/binary setting serves both directions; it lives with the export keys.
    c.PassiveMode = in.Boolean(kExport, "PassiveMode", true);
    c.BinaryMode = in.Boolean(kExport, "BinaryMode", true);
    c.RemoteFolder = in.Text(kImport, "RemoteFolder");
    c.MoveDelete = in.Boolean(kImport, "MoveDelete", false);
    c.KeepAlive = in.Boolean(kImport, "KeepAlive", true);
    c.CheckInterval = in.Integer(kImport, "CheckInterval", 10);
    c.WaitForStableFiles = in.Boolean(kImport, "WaitForStableFiles", true);
    c.ResumeDownloads = in.Boolean(kImport, "ResumeDownloads", true);
    c.SSL = in.Boolean(kImport, "SSL", false);
    c.SSLCertificate = in.Text(kImport, "SSLCertificate");
    c.SSLKey = in.Text(kImport, "SSLKey");
    c.SSLPass = in.Text(kImport, "SSLPass");
    ReadReachKeys(in, kImport, c);
    return c;
}

RConfiguration LoadImportConfiguration() {
    return LoadImportConfiguration(ConfigFilePath());
}

RConfiguration LoadExportConfiguration(const std::string& path) {
    SettingsReader in(path);
    RConfiguration c;
    c.LocalFolder = in.Text(kExport, "LocalFolder");
    c.MoveDelete = in.Boolean(kExport, "MoveDelete", false);
    c.MoveToFolder = in.Text(kExport, "MoveToFolder");
    c.Host = in.Text(kExport, "Host");
    c.Port = in.Text(kExport, "Port", "21");
    c.Username = in.Text(kExport, "Username");
    c.Password = in.Text(kExport, "Password");
    c.PassiveMode = in.Boolean(kExport, "PassiveMode", true);
    c.BinaryMode = in.Boolean(kExport, "BinaryMode", true);
    c.RemoteFolder = in.Text(kExport, "RemoteFolder");
    c.FirstToTemp = in.Boolean(kExport, "FirstToTemp", false);
    c.TempFolder = in.Text(kExport, "TempFolder");
    c.SSL = in.Boolean(kExport, "SSL", false);
    c.SSLCertificate = in.Text(kExport, "SSLCertificate");
    c.SSLKey = in.Text(kExport, "SSLKey");
    c.SSLPass = in.Text(kExport, "SSLPass");
    // A negative settle time makes no sense; it means "at once", like 0.
    c.SettleTime = std::max<int32_t>(0, in.Integer(kExport, "SettleTime", 1000));
    c.RetryFailed = in.Boolean(kExport, "RetryFailed", false);
    c.ExportExisting = in.Boolean(kExport, "ExportExisting", false);
    ReadReachKeys(in, kExport, c);
    return c;
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
    SettingsWriter out(path);
    out.Text(kImport, "LocalFolder", v.LocalFolder);
    out.Text(kImport, "TempFolder", v.TempFolder);
    out.Boolean(kImport, "FirstToTemp", v.FirstToTemp);
    out.Text(kImport, "Host", v.Host);
    out.Text(kImport, "Port", v.Port);
    out.Text(kImport, "Username", v.Username);
    out.Text(kImport, "Password", v.Password);
    out.Boolean(kExport, "PassiveMode", v.PassiveMode);
    out.Boolean(kExport, "BinaryMode", v.BinaryMode);
    out.Text(kImport, "RemoteFolder", v.RemoteFolder);
    out.Boolean(kImport, "MoveDelete", v.MoveDelete);
    out.Boolean(kImport, "KeepAlive", v.KeepAlive);
    out.Text(kImport, "CheckInterval", std::to_string(StrToInt(v.CheckInterval)));
    out.Boolean(kImport, "WaitForStableFiles", v.WaitForStableFiles);
    out.Boolean(kImport, "SSL", v.SSL);
    out.Text(kImport, "SSLCertificate", v.SSLCertificate);
    out.Text(kImport, "SSLKey", v.SSLKey);
    out.Text(kImport, "SSLPass", v.SSLPass);
    WriteImplicitTls(out, path, kImport, v.ImplicitTLS);
}

void SaveImportConfiguration(const TImportPageValues& values) {
    SaveImportConfiguration(values, ConfigFilePath());
}

void SaveExportConfiguration(const TExportPageValues& v, const std::string& path) {
    SettingsWriter out(path);
    out.Text(kExport, "LocalFolder", v.LocalFolder);
    out.Boolean(kExport, "MoveDelete", v.MoveDelete);
    out.Text(kExport, "MoveToFolder", v.MoveToFolder);
    out.Text(kExport, "Host", v.Host);
    out.Text(kExport, "Port", v.Port);
    out.Text(kExport, "Username", v.Username);
    out.Text(kExport, "Password", v.Password);
    out.Boolean(kExport, "PassiveMode", v.PassiveMode);
    out.Boolean(kExport, "BinaryMode", v.BinaryMode);
    out.Text(kExport, "RemoteFolder", v.RemoteFolder);
    out.Text(kExport, "TempFolder", v.TempFolder);
    out.Boolean(kExport, "FirstToTemp", v.FirstToTemp);
    out.Boolean(kExport, "SSL", v.SSL);
    out.Text(kExport, "SSLCertificate", v.SSLCertificate);
    out.Text(kExport, "SSLKey", v.SSLKey);
    out.Text(kExport, "SSLPass", v.SSLPass);
    out.Text(kExport, "SettleTime", std::to_string(StrToInt(v.SettleTime)));
    out.Boolean(kExport, "RetryFailed", v.RetryFailed);
    out.Boolean(kExport, "ExportExisting", v.ExportExisting);
    WriteImplicitTls(out, path, kExport, v.ImplicitTLS);
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

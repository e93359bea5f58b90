#include "export/FolderMonitorUnit.h"

#include "base/StrUtils.h"
#include "config/ConfigPaths.h"
#include "config/LogSwitches.h"
#include "ftp/IdFTP.h"
#include "ftp/tls/IdSSLOpenSSL.h"
#include "ftp/tls/TlsFilesCheck.h"
#include "platform/FileSystem.h"

#include <chrono>
#include <exception>
#include <memory>
#include <thread>

namespace {

// How long the monitor's start waits for the watch thread: far more than it ever needs, but
// a window that never comes back is worse than a monitor that starts a moment late.
constexpr auto kWatchStartStep = std::chrono::milliseconds(50);
constexpr int kWatchStartSteps = 200;

const std::string kDQ = "\"";

// A reply or command line ends at CR or LF, so such a name would put a second command on the
// control connection.
bool NameIsSafeOnTheWire(const std::string& name) {
    return name.find_first_of("\r\n") == std::string::npos;
}

class EUnsafeFileName : public EIdException {
public:
    using EIdException::EIdException;
};

} // namespace

TFolderMonitor::TFolderMonitor(const RConfiguration& config, TLogEvent onLog)
    : Config(config), OnLog(std::move(onLog)), WaitThread(Config.LocalFolder) {
    // Unusable TLS files fail the start, so the direction stays stopped.
    if (Config.SSL)
        tavrin::tls::CheckTlsFiles(Config.SSLCertificate, Config.SSLKey, Config.SSLPass);
    WaitThread.OnFileAdded = [this](const std::string& name) { ExportFile(name); };
    WaitThread.Start();
    if (LogMonitor)
        DoLog("Monitor started", clMaroon);
    for (int step = 0; step < kWatchStartSteps; ++step) {
        if (WaitThread.Watching() || WaitThread.Finished())
            break;
        std::this_thread::sleep_for(kWatchStartStep);
    }
}

TFolderMonitor::~TFolderMonitor() {
    WaitThread.StopWatching();
    WaitThread.WaitFor();
    if (LogMonitor)
        DoLog("Monitor closed", clMaroon);
}

void TFolderMonitor::DoLog(const std::string& text, TColor colour) const {
    if (OnLog)
        OnLog(this, "Export > " + text, colour);
}

void TFolderMonitor::ExportFile(const std::string& name) {
    if (LogFileTransfer)
        DoLog("File " + name + " ready for export.", clGreen);

    // Declared first so that it outlives the client it is attached to.
    std::unique_ptr<TIdSSLIOHandlerSocketOpenSSL> tlsHandler;
    std::unique_ptr<TIdFTP> client;
    try {
        client = std::make_unique<TIdFTP>();
        if (Config.SSL)
            tlsHandler = std::make_unique<TIdSSLIOHandlerSocketOpenSSL>();
        SetUpClient(*client, tlsHandler.get());
    } catch (const std::exception& failure) {
        // A setting that cannot be used (a Port that is no number) ends this file only; the
        // reason is all the user needs to mend it.
        DoLog(failure.what(), clRed);
        return;
    }

    try {
        Upload(*client, name);
    } catch (...) {
        DoLog("File " + name + " not uploaded.", clRed);
    }
}

void TFolderMonitor::SetUpClient(TIdFTP& client, TIdSSLIOHandlerSocketOpenSSL* tlsHandler) {
    client.OnStatus = [this](const void*, TIdStatus, const std::string& text) {
        if (LogVerbose)
            DoLog(text, clHotLight);
    };
    client.SetHost(Config.Host);
    client.SetPort(tavrin::StrToInt(Config.Port));
    client.SetTransferType(Config.BinaryMode ? ftBinary : ftASCII);
    client.SetUseMLIS(true);
    client.SetPassive(Config.PassiveMode);
    client.SetUsername(Config.Username);
    client.SetPassword(Config.Password);
    if (tlsHandler == nullptr)
        return;
    TIdSSLOptions& options = tlsHandler->SSLOptions();
    options.CertFile = Config.SSLCertificate;
    tlsHandler->OnGetPassword = [this](std::string& password) { password = Config.SSLPass; };
    tlsHandler->OnStatusInfo = [this](const std::string& text) {
        if (LogSSL)
            DoLog(text, cl3DDkShadow);
    };
    options.KeyFile = Config.SSLKey;
    options.Method = sslvSSLv23;
    options.Mode = sslmUnassigned;
    tlsHandler->ServerTrust().Check = true;
    tlsHandler->ServerTrust().KnownServersFile = tavrin::KnownServersFilePath();
    client.SetIOHandler(tlsHandler);
    client.SetUseTLS(utUseExplicitTLS);
    client.SetAUTHCmd(tAuthSSL);
    client.SetDataPortProtection(ftpdpsPrivate);
}

// The guarded part of a cycle: whatever fails in here means the file was not uploaded.
void TFolderMonitor::Upload(TIdFTP& client, const std::string& name) {
    if (!NameIsSafeOnTheWire(name))
        throw EUnsafeFileName("File name with a line break");
    client.Connect();
    if (!client.IsConnected())
        return;
    // Servers that do not call themselves UNIX get the backslash separator.
    const std::string separator =
        client.SystemDescription().find("UNIX") != std::string::npos ? "/" : "\\";
    const std::string localPath = Config.LocalFolder + "/" + name;
    const std::string remotePath =
        (Config.FirstToTemp ? Config.TempFolder : Config.RemoteFolder) + separator + name;

    if (LogFileTransfer)
        DoLog("Uploading file " + kDQ + localPath + kDQ, clGreen);
    client.UploadFile(localPath, remotePath, false);
    if (Config.FirstToTemp) {
        // The rename's paths are taken from the root, whatever folder the login put us in.
        client.ChangeDirectory("/");
        client.RenameRemoteFile(remotePath, Config.RemoteFolder + separator + name);
    }
    client.Disconnect(true);
    if (Config.MoveDelete)
        MoveLocalFile(localPath, name);
    if (LogFileTransfer)
        DoLog("Uploading file " + kDQ + localPath + kDQ + " done", clGreen);
}

void TFolderMonitor::MoveLocalFile(const std::string& localPath, const std::string& name) const {
    // Neither step is checked: a file that cannot be moved (one of that name is already
    // there) simply stays in the watched folder, and is never replaced.
    if (!tavrin::fs::DirectoryExists(Config.MoveToFolder))
        tavrin::fs::CreateDir(Config.MoveToFolder);
    tavrin::fs::MoveFileNoReplace(localPath, Config.MoveToFolder + "/" + name);
}

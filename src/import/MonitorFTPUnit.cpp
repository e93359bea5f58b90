#include "import/MonitorFTPUnit.h"

#include "base/StrUtils.h"
#include "config/ConfigPaths.h"
#include "config/LogSwitches.h"
#include "config/UserMessages.h"
#include "ftp/IdFTP.h"
#include "ftp/listing/IdFTPList.h"
#include "ftp/listing/IdFTPListParseUnitree.h"
#include "ftp/listing/IdFTPListParseWindowsNT.h"
#include "ftp/tls/IdSSLOpenSSL.h"
#include "ftp/tls/TlsFilesCheck.h"
#include "platform/FileSystem.h"
#include "remote/ftp/FtpClientSetup.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <vector>

namespace {

constexpr int kKeepAlivePollMs = 5000;
constexpr int kKeepAliveNoopMs = 10000;

// "folder + separator + name" must stay inside the folder on both sides: a name with a path
// separator (either kind: the remote separator depends on the server), or with a byte that
// ends a command line or a C string, is never fetched.
bool IsPlainFileName(const std::string& name) {
    return name.find_first_of(std::string("/\\\r\n\0", 5)) == std::string::npos;
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

} // namespace

// ---- TFTPChecker ----------------------------------------------------------------------------

TFTPChecker::TFTPChecker(const RConfiguration& config, TLogEvent onLog, std::string registerPath)
    : QTimer(nullptr), onLog_(std::move(onLog)), config_(config) {
    client_ = std::make_unique<TIdFTP>();
    // Unusable TLS files fail the start, so the direction stays stopped.
    if (config_.SSL)
        tavrin::tls::CheckTlsFiles(config_.SSLCertificate, config_.SSLKey, config_.SSLPass);
    tavrin::remote::TFtpClientEvents events;
    events.OnStatus = [this](const void* sender, TIdStatus status, const std::string& text) {
        ClientStatus(sender, status, text);
    };
    events.OnTlsInfo = [this](const std::string& text) { TlsStatusInfo(text); };
    events.OnKeyPassword = [this](std::string& password) { KeyPassword(password); };
    tlsHandler_ = tavrin::remote::SetUpFtpClient(*client_, config_, events);

    const int interval = PollIntervalMs(config_);
    setInterval(interval);
    connect(this, &QTimer::timeout, this, &TFTPChecker::PollCycle);

    register_ = AcquireRegister(registerPath);

    // A timer with interval 0 would fire on every pass of the event loop; an interval of
    // 0 seconds means "never" here, so the monitor shows as active and never polls.
    if (interval > 0)
        start();

    keepAliveTimer_ = std::make_unique<QTimer>();
    keepAliveTimer_->setInterval(kKeepAliveNoopMs);
    connect(keepAliveTimer_.get(), &QTimer::timeout, this, &TFTPChecker::KeepAliveTick);
    keepAliveTimer_->start();
}

int TFTPChecker::PollIntervalMs(const RConfiguration& config) {
    if (config.KeepAlive)
        return kKeepAlivePollMs;
    const int64_t ms = static_cast<int64_t>(config.CheckInterval) * 1000;
    return static_cast<int>(std::clamp<int64_t>(ms, 0, std::numeric_limits<int>::max()));
}

std::string TFTPChecker::PartialPath(const std::string& folder, const std::string& name) {
    return folder + "/." + name + ".part";
}

TFTPChecker::~TFTPChecker() {
    Dispose();
    keepAliveTimer_.reset();
    client_.reset();
    tlsHandler_.reset();
}

void TFTPChecker::Dispose() {
    if (disposed_)
        return;
    disposed_ = true;
    // Nothing may start on this poller while the QUIT below keeps the event loop turning.
    busy_ = true;
    stop();
    keepAliveTimer_->stop();
    // A poller that outlived its monitor has no log left to write to: its failures get the
    // box instead of a line.
    const bool canLog = LogMonitor && onLog_ && !disposeAfterCycle_;
    auto report = [&](const std::string& text) {
        if (canLog)
            LogMessage(text, clRed);
        else
            tavrin::importbox::Show(text);
    };
    try {
        if (client_->IsConnected())
            client_->Disconnect(true);
    } catch (const std::exception& failure) {
        // The names fetched in this run matter more than a polite goodbye: save anyway.
        CloseAfterFailure();
        report(failure.what());
    }
    try {
        register_->names.SaveToFile(register_->path);
    } catch (const std::exception& failure) {
        // Every name of this run is already in the file, appended as it was fetched.
        report(failure.what());
    }
}

void TFTPChecker::FinishAndDisposeLater() {
    stopRequested_ = true;
    disposeAfterCycle_ = true;
}

void TFTPChecker::PollCycle() {
    if (busy_) {
        // Both timers fire together every 10 s, and the keep-alive tick often comes first:
        // dropping the poll behind its NOOP would make every other poll go missing.
        if (noopRunning_)
            pollAfterNoop_ = true;
        return;
    }
    busy_ = true;
    {
        tavrin::importbox::TCycleScope running;
        try {
            RunCycle();
        } catch (const std::exception& failure) {
            CycleFailed(failure.what());
        } catch (...) {
            CycleFailed("Unexpected failure in the import cycle.");
        }
    }
    busy_ = false;
    if (stopRequested_)
        stop();
    if (disposeAfterCycle_) {
        Dispose();
        deleteLater();
    }
}

void TFTPChecker::RunCycle() {
    if (!client_->IsConnected())
        ConnectAndEnterFolder();

    // Servers whose system description says "UNIX" get the Unitree preset and "/"; every
    // other server (also one that answered SYST with an error) gets Windows NT and "\".
    const bool unixLike = client_->SystemDescription().find("UNIX") != std::string::npos;
    TIdFTPListParseClass chosen = unixLike
                                      ? static_cast<TIdFTPListParseClass>(TIdFTPLPUnitree::Class())
                                      : TIdFTPLPWindowsNT::Class();
    const char separator = unixLike ? '/' : '\\';
    client_->SetListParserClass(chosen);

    // The client keeps the lines of its last listing; the cycle reads them there instead of
    // copying 100,000 strings out of a big folder's listing.
    client_->ListDirectory(nullptr, "", true);
    const std::vector<std::string>& lines = client_->ListingLines();

    // When the preset recognizes the lines, the detected format parses them a second time
    // into the same collection: every entry is then listed twice, and the register makes the
    // second copy a no-op once the first was fetched.
    try {
        if (chosen->Recognizes(lines, "", true)) {
            TIdFTPListItems& entries = client_->DirectoryEntries();
            if (TIdFTPListParseClass held = client_->ListParserClass())
                held->ParseLines(lines, entries);
        }
    } catch (const std::exception&) {
        // A listing the preset cannot read is left to the client's own detection.
    }

    TIdFTPListItems& entries = client_->DirectoryEntries();
    const size_t count = entries.Count();
    for (size_t i = 0; i < count; ++i) {
        const TIdFTPListItem& entry = entries[i];
        if (entry.Kind() != ekFile)
            continue;
        const std::string& name = entry.Name();
        if (name.empty() || name[0] == '.' || !IsPlainFileName(name) ||
            register_->names.Contains(name))
            continue;
        // Tracked whatever the setting says, so switching it on needs no extra cycle.
        const bool unchanged = stable_.SeenUnchanged(entry);
        if (config_.WaitForStableFiles && !unchanged)
            continue;
        // Another poller of this register (the one before a restart) is on it right now.
        if (register_->fetching.count(name))
            continue;
        FetchEntry(entry, config_.RemoteFolder, separator);
        // A transfer that broke the connection ends this cycle's fetching; the next tick
        // connects afresh.
        if (!client_->IsConnected())
            break;
    }
    stable_.EndListing();

    if ((!config_.KeepAlive || stopRequested_) && client_->IsConnected())
        client_->Disconnect(true);
}

void TFTPChecker::ConnectAndEnterFolder() {
    client_->Connect();
    if (!client_->IsConnected())
        return;
    if (!config_.RemoteFolder.empty())
        client_->ChangeDirectory(config_.RemoteFolder);
    else
        client_->ChangeDirectory(client_->QueryCurrentDirectory());
    const std::string system = client_->SystemDescription();
    const std::string folder = client_->QueryCurrentDirectory();
    LogMessage("Server is a " + Quoted(system) + ". Current dir is " + Quoted(folder), clHotLight);
}

void TFTPChecker::CycleFailed(const std::string& text) {
    // The next tick starts over with a fresh connection; nobody has to click anything first.
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    LogMessage(line, clRed);
    tavrin::importbox::Show(text);
    CloseAfterFailure();
}

void TFTPChecker::CloseAfterFailure() {
    // Without QUIT: after a failure the server may not answer any more. Closed whatever
    // IsConnected says, so no half-dead connection is carried into the next cycle.
    try {
        client_->Disconnect(false);
    } catch (const std::exception&) {
    }
}

void TFTPChecker::KeepAliveTick() {
    // A NOOP is a command like any other: it must not go out while a cycle talks to the
    // server, and no cycle may start while the NOOP waits for its reply.
    if (busy_)
        return;
    busy_ = true;
    noopRunning_ = true;
    {
        tavrin::importbox::TCycleScope running;
        try {
            if (client_->IsConnected()) {
                client_->SendNoop();
                if (LogVerbose)
                    LogMessage(client_->LastReply().JoinedText(), clHotLight);
            }
        } catch (const std::exception& failure) {
            CycleFailed(failure.what());
        }
    }
    busy_ = false;
    noopRunning_ = false;
    if (pollAfterNoop_ && !disposeAfterCycle_ && !stopRequested_) {
        pollAfterNoop_ = false;
        PollCycle();
        return;
    }
    pollAfterNoop_ = false;
    if (disposeAfterCycle_) {
        Dispose();
        deleteLater();
    }
}

void TFTPChecker::LogMessage(const std::string& text, TColor colour) {
    if (LogMonitor && onLog_ && !disposeAfterCycle_)
        onLog_(this, text, colour);
}

void TFTPChecker::LogTransfer(const std::string& text) {
    if (LogFileTransfer)
        LogMessage(text, clGreen);
}

void TFTPChecker::ClientStatus(const void*, TIdStatus, const std::string& text) {
    if (LogVerbose)
        LogMessage(text, clHotLight);
}

void TFTPChecker::TlsStatusInfo(const std::string& text) {
    if (LogSSL)
        LogMessage(text, cl3DDkShadow);
}

void TFTPChecker::KeyPassword(std::string& password) {
    password = config_.SSLPass;
}

// ---- TMonitorFTP ----------------------------------------------------------------------------

TMonitorFTP::TMonitorFTP(const RConfiguration& config, TLogEvent onLog)
    : TMonitorFTP(config, std::move(onLog), tavrin::RegisterFilePath()) {}

TMonitorFTP::TMonitorFTP(const RConfiguration& config, TLogEvent onLog, std::string registerPath)
    : onLog_(std::move(onLog)) {
    checker_ = new TFTPChecker(
        config,
        [this](const void* sender, const std::string& text, TColor colour) {
            DoLog(sender, text, colour);
        },
        std::move(registerPath));
    if (LogMonitor)
        DoLog(this, "Monitor started", clMaroon);
}

TMonitorFTP::~TMonitorFTP() {
    if (checker_->Busy())
        // Freeing it now would pull the client out from under its own running cycle; it
        // finishes, closes, saves and deletes itself, and forwards nothing through us.
        checker_->FinishAndDisposeLater();
    else
        delete checker_;
    checker_ = nullptr;
    if (LogMonitor)
        DoLog(this, "Monitor closed", clMaroon);
}

void TMonitorFTP::RequestStop() {
    checker_->RequestStop();
}

void TMonitorFTP::DoLog(const void*, const std::string& text, TColor colour) {
    if (onLog_)
        onLog_(this, "Import > " + text, colour);
}

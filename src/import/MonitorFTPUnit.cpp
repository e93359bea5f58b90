#include "import/MonitorFTPUnit.h"

#include "base/StrUtils.h"
#include "config/ConfigPaths.h"
#include "config/LogSwitches.h"
#include "config/UserMessages.h"
#include "import/ImportPartName.h"
#include "import/ImportTexts.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <vector>

namespace {

constexpr int kKeepAlivePollMs = 5000;
constexpr int kKeepAliveNoopMs = 10000;
constexpr int kQuitReplyLimitMs = 3000;

} // namespace

using tavrin::importtext::OneLine;
using tavrin::importtext::Printable;
using tavrin::importtext::Quoted;

// ---- TFTPChecker ----------------------------------------------------------------------------

TFTPChecker::TFTPChecker(const RConfiguration& config, TLogEvent onLog, std::string registerPath,
                         std::shared_ptr<tavrin::TErrorBox> errorBox)
    : QTimer(nullptr), onLog_(std::move(onLog)), config_(config),
      errorBox_(errorBox ? std::move(errorBox) : std::make_shared<tavrin::TErrorBox>()) {
    // Unusable TLS files fail the start, so the direction stays stopped.
    tavrin::remote::CheckSessionSettings(config_);
    tavrin::remote::TRemoteEvents events;
    events.OnStatus = [this](tavrin::remote::TSessionStatus status, const std::string& text) {
        SessionStatus(status, text);
    };
    events.OnTlsInfo = [this](const std::string& text) { TlsStatusInfo(text); };
    events.OnKeyPassword = [this](std::string& password) { KeyPassword(password); };
    session_ = tavrin::remote::MakeRemoteSession(config_, events);

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
    return folder + "/" + tavrin::importpart::PartFileName(name);
}

TFTPChecker::~TFTPChecker() {
    Dispose();
    keepAliveTimer_.reset();
    session_.reset();
}

void TFTPChecker::Dispose() {
    if (disposed_)
        return;
    disposed_ = true;
    stop();
    keepAliveTimer_->stop();
    // A poller whose monitor was closed has no log left to write to: its failures get the
    // box instead of a line.
    auto report = [&](const std::string& text) {
        if (LogMonitor && onLog_ && !logClosed_)
            LogMessage(text, clRed);
        else
            errorBox_->Show(text);
    };
    tavrin::net::TSocketGroupScope grouped(stop_->sockets_);
    try {
        // A server that stopped answering must not hold up the stop for a whole read time.
        session_->SetReplyTimeout(kQuitReplyLimitMs);
        if (session_->IsConnected())
            session_->Close(true);
    } catch (const std::exception& failure) {
        // The names fetched in this run matter more than a polite goodbye: save anyway.
        CloseAfterFailure();
        const std::string reason = OneLine(failure.what());
        if (!stop_->Cut()) // cut by the stop itself: nothing went wrong
            report(reason.empty() ? "Failed while closing the connection to " + HostPort() + "."
                                  : reason);
    }
    try {
        register_->names.SaveToFile(register_->path);
    } catch (const std::exception& failure) {
        // Every name of this run is already in the file, appended as it was fetched.
        report(failure.what());
    }
}

void TPollerStop::CutIfBusy() {
    // Paired with TFTPChecker::BeginBusy: the stop is requested before this looks, and a
    // cycle marks itself busy before it looks at the request, so no cycle slips past both.
    if (stopRequested_ && busy_)
        sockets_.ShutDown();
}

bool TFTPChecker::BeginBusy() {
    // Called from inside a cycle (a log line's handler), a tick has nothing to do.
    if (stop_->busy_.exchange(true))
        return false;
    // A stopped poller starts nothing more; its disposal is on the way.
    if (stop_->StopRequested()) {
        stop_->busy_ = false;
        return false;
    }
    return true;
}

void TFTPChecker::PollCycle() {
    if (!BeginBusy())
        return;
    const auto began = std::chrono::steady_clock::now();
    bool completed = false;
    {
        tavrin::net::TSocketGroupScope grouped(stop_->sockets_);
        try {
            RunCycle();
            completed = true;
        } catch (const std::exception& failure) {
            CycleFailed(failure.what());
        } catch (...) {
            CycleFailed("Unexpected failure in the import cycle.");
        }
    }
    stop_->busy_ = false;
    if (onCycle_)
        onCycle_(completed);
    if (stop_->StopRequested())
        stop();
    DropTicksMissedDuring(std::chrono::steady_clock::now() - began);
}

void TFTPChecker::DropTicksMissedDuring(std::chrono::steady_clock::duration busyFor) {
    // A timer whose interval passed during the call has a tick overdue; restarting it drops
    // that tick, so the next one comes a whole interval after the end.
    for (QTimer* timer : {static_cast<QTimer*>(this), keepAliveTimer_.get()})
        if (timer->isActive() && busyFor >= std::chrono::milliseconds(timer->interval()))
            timer->start();
}

void TFTPChecker::RunCycle() {
    if (!session_->IsConnected())
        ConnectAndEnterFolder();

    doing_ = "listing the folder on " + HostPort();
    listing_ = ListForCycle();
    doing_.clear();

    bool listedWhole = true;
    std::vector<tavrin::remote::TRemoteEntry> due; // with Connections above 1
    for (const tavrin::remote::TRemoteEntry& entry : listing_) {
        if (entry.kind != tavrin::remote::TRemoteKind::File)
            continue;
        const std::string& name = entry.name;
        if (name.empty() || name[0] == '.')
            continue;
        if (const std::string why = WhyNotUsable(name); !why.empty()) {
            if (unusableNames_.FirstTime(name))
                LogMessage("File " + Quoted(Printable(name)) + " is not fetched: " + why +
                               " cannot be used here.",
                           clHotLight);
            continue;
        }
        // A left-out file is never registered, so a changed filter can still take it later.
        if (register_->names.Contains(name) || !TakenByFilter(entry) || !retries_.Due(entry))
            continue;
        // Tracked whatever the setting says, so switching it on needs no extra cycle.
        const bool unchanged = stable_.SeenUnchanged(entry);
        if (config_.WaitForStableFiles && !unchanged)
            continue;
        // Another poller of this register (the one before a restart) is on it right now.
        if (register_->fetching.count(name))
            continue;
        if (Parallel()) {
            due.push_back(entry);
            continue;
        }
        FetchEntry(*session_, entry);
        // A transfer that broke the connection ends this cycle's fetching; the next tick
        // connects afresh.
        if (!session_->IsConnected()) {
            listedWhole = false;
            break;
        }
    }
    if (!due.empty() && !FetchInParallel(due))
        listedWhole = false;
    stable_.EndListing();
    if (listedWhole) {
        // Only a listing gone through to its end tells which names are no longer there.
        retries_.EndListing();
        unusableNames_.EndListing();
        leftOut_.EndListing();
    }

    if ((!config_.KeepAlive || StopRequested()) && session_->IsConnected()) {
        doing_ = "closing the connection to " + HostPort();
        session_->Close(true);
        doing_.clear();
    }
}

void TFTPChecker::ConnectAndEnterFolder() {
    doing_ = "connecting to " + HostPort(); // ClientStatus says when the login begins
    session_->Connect();
    if (!session_->IsConnected())
        return;
    doing_ = "changing into the folder on " + HostPort();
    const std::string folder =
        config_.RemoteFolder.empty() ? session_->CurrentFolder() : config_.RemoteFolder;
    try {
        session_->ChangeFolder(folder);
    } catch (const tavrin::remote::ERemoteRefused& refused) {
        // "No such file or directory." alone does not say which folder, nor on which server.
        std::string text = "Cannot change to folder " + Quoted(folder) + " on " + HostPort() + ".";
        if (const std::string reason = OneLine(refused.what()); !reason.empty())
            text += " " + reason;
        throw EIdException(text);
    }
    const std::string system = session_->SystemDescription();
    const std::string current = session_->CurrentFolder();
    LogMessage("Server is a " + Quoted(system) + ". Current dir is " + Quoted(current), clHotLight);
    doing_.clear();
}

std::string TFTPChecker::HostPort() const {
    return tavrin::importtext::HostPort(config_.Host, config_.Port);
}

void TFTPChecker::CycleFailed(const std::string& text) {
    if (stop_->Cut()) {
        // The stop cut the connection under the cycle; that is no failure to report.
        CloseAfterFailure();
        return;
    }
    // The next tick starts over with a fresh connection; nobody has to click anything first.
    std::string line = OneLine(text);
    if (line.empty())
        line = "Failed while " + (doing_.empty() ? "talking to " + HostPort() : doing_) + ".";
    doing_.clear();
    LogMessage(line, clRed);
    errorBox_->Show(line);
    CloseAfterFailure();
}

void TFTPChecker::CloseAfterFailure() {
    CloseAfterFailure(*session_);
}

void TFTPChecker::CloseAfterFailure(tavrin::remote::TRemoteSession& session) {
    // Without QUIT: after a failure the server may not answer any more. Closed whatever
    // IsConnected says, so no half-dead connection is carried into the next cycle.
    try {
        session.Close(false);
    } catch (const std::exception&) {
    }
}

void TFTPChecker::KeepAliveTick() {
    // A NOOP is a command like any other: it must not go out while a cycle talks to the
    // server.
    if (!BeginBusy())
        return;
    const auto began = std::chrono::steady_clock::now();
    {
        tavrin::net::TSocketGroupScope grouped(stop_->sockets_);
        try {
            if (session_->IsConnected()) {
                doing_ = "sending NOOP to " + HostPort();
                const tavrin::remote::TKeepAliveReply answer = session_->KeepAlive();
                doing_.clear();
                std::string reply = answer.text;
                if (OneLine(reply).empty())
                    reply = "NOOP answered " + std::to_string(answer.code);
                if (LogVerbose)
                    LogMessage(reply, clHotLight);
            }
        } catch (const std::exception& failure) {
            CycleFailed(failure.what());
        }
    }
    stop_->busy_ = false;
    DropTicksMissedDuring(std::chrono::steady_clock::now() - began);
}

void TFTPChecker::LogMessage(const std::string& text, TColor colour) {
    // A line with nothing to say is no line: the prefix alone tells nobody anything.
    if (text.find_first_not_of(" \r\n\t") == std::string::npos)
        return;
    std::lock_guard lines(linesMutex_);
    if (LogMonitor && onLog_ && !logClosed_)
        onLog_(this, text, colour);
}

void TFTPChecker::LogTransfer(const std::string& text) {
    if (LogFileTransfer)
        LogMessage(text, clGreen);
}

void TFTPChecker::SessionStatus(tavrin::remote::TSessionStatus status, const std::string& text) {
    // The server's socket is open: from here on the session greets, negotiates and logs in.
    if (status == tavrin::remote::TSessionStatus::Connected &&
        doing_.rfind("connecting to ", 0) == 0)
        doing_ = "logging in on " + HostPort();
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
    : TMonitorFTP(config, std::move(onLog), TImportJobParts{}) {}

TMonitorFTP::TMonitorFTP(const RConfiguration& config, TLogEvent onLog, std::string registerPath)
    : TMonitorFTP(config, std::move(onLog), TImportJobParts{std::move(registerPath), {}, {}}) {}

TMonitorFTP::TMonitorFTP(const RConfiguration& config, TLogEvent onLog, TImportJobParts parts)
    : onLog_(std::move(onLog)),
      prefix_((parts.jobName.empty() ? tavrin::importtext::kDefaultJobName : parts.jobName) +
              " > ") {
    checker_ = std::make_unique<TFTPChecker>(
        config,
        [this](const void* sender, const std::string& text, TColor colour) {
            DoLog(sender, text, colour);
        },
        parts.registerPath.empty() ? tavrin::RegisterFilePath() : parts.registerPath,
        std::move(parts.errorBox));
    if (LogMonitor)
        DoLog(this, "Monitor started", clMaroon);
}

TMonitorFTP::~TMonitorFTP() {
    checker_.reset();
    Close();
}

void TMonitorFTP::RequestStop() {
    checker_->RequestStop();
    // A cycle in progress goes on to its end; from the user's side the monitor is closed now.
    if (checker_->Busy())
        Close();
}

void TMonitorFTP::Close() {
    std::lock_guard lock(logMutex_);
    if (closed_)
        return;
    if (LogMonitor)
        DoLog(this, "Monitor closed", clMaroon);
    closed_ = true;
    if (checker_)
        checker_->CloseLog();
}

void TMonitorFTP::DoLog(const void*, const std::string& text, TColor colour) {
    // Under the lock, so that no line of a finishing cycle follows "Monitor closed".
    std::lock_guard lock(logMutex_);
    if (onLog_ && !closed_)
        onLog_(this, prefix_ + text, colour);
}

#pragma once
// The import monitor: TMonitorFTP is the handle a job starts and stops; TFTPChecker is its
// poller, a periodic timer that lists one server folder and fetches every regular file not
// fetched before. Both live on the thread that made them (a job's worker thread), and so do
// their timers and cycles; only TPollerStop is meant for other threads.
#include "config/CommonTypesUnit.h"
#include "config/LogEvent.h"
#include "config/TransferProgress.h"
#include "import/DownloadedFilesRegister.h"
#include "import/ImportCycleState.h"
#include "import/ImportFilter.h"
#include "import/ImportRetries.h"
#include "import/LocalNames.h"
#include "platform/SocketGroup.h"
#include "remote/RemoteSession.h"
#include "rules/LeftOutNotes.h"

#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

// What another thread may do to a running poller: ask it to stop, and cut the connections of
// a cycle that does not end by itself. Shared, so that it outlives the poller.
class TPollerStop {
public:
    void RequestStop() { stopRequested_ = true; }
    bool StopRequested() const { return stopRequested_; }
    // Cuts the connections of a cycle or NOOP in progress, so the call it is blocked in fails
    // at once; an idle poller keeps its connection for a proper QUIT.
    void CutIfBusy();
    // Cuts every connection of the poller, now and from now on.
    void CutAll() { sockets_.ShutDown(); }
    bool Cut() const { return sockets_.IsShutDown(); }
    // A cycle or NOOP is in progress.
    bool Busy() const { return busy_; }

private:
    friend class TFTPChecker;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> busy_{false};
    tavrin::net::TSocketGroup sockets_;
};

class TFTPChecker : public QTimer {
public:
    // Set-up: the remote session from the settings, poll interval, register
    // loaded from `registerPath` when present, then both timers enabled. Raises on a Port that
    // is not a number and on a register file that exists but cannot be read.
    // `errorBox` is the job's; without one the poller has a box of its own.
    TFTPChecker(const RConfiguration& config, TLogEvent onLog, std::string registerPath,
                std::shared_ptr<tavrin::TErrorBox> errorBox = {});
    // Disposal: QUIT when connected, register saved. Failures go to the error box.
    ~TFTPChecker() override;
    TFTPChecker(const TFTPChecker&) = delete;
    TFTPChecker& operator=(const TFTPChecker&) = delete;

    void PollCycle();
    void KeepAliveTick();

    bool Busy() const { return stop_->busy_; }
    bool StopRequested() const { return stop_->StopRequested(); }
    void RequestStop() { stop_->RequestStop(); }
    const std::shared_ptr<TPollerStop>& Stopper() const { return stop_; }
    // Any thread: the monitor is closed; failures from now on go to the error box.
    void CloseLog() { logClosed_ = true; }

    const TDownloadedFilesRegister& LocalFileList() const { return register_->names; }
    const TStableFileTracker& StableFiles() const { return stable_; }
    // The poll interval for a setting: 5 s with keep-alive, otherwise CheckInterval seconds,
    // capped where a millisecond timer would overflow.
    static int PollIntervalMs(const RConfiguration& config);
    // Where a download is written until it is whole: a hidden name beside its final one, short
    // enough for the file system whatever the name's length.
    static std::string PartialPath(const std::string& folder, const std::string& name);
    tavrin::remote::TRemoteSession& Session() { return *session_; }
    // The entries of the last listing.
    const std::vector<tavrin::remote::TRemoteEntry>& LastListing() const { return listing_; }
    // Pauses between the tries of a file whose download failed, and the clock they are
    // measured on (tests).
    void SetRetrySchedule(std::vector<std::chrono::milliseconds> delays, TFetchRetries::TNow now) {
        retries_.SetSchedule(std::move(delays), std::move(now));
    }
    const QTimer& KeepAliveTimer() const { return *keepAliveTimer_; }
    // Told how each file's download goes and how its steps ended.
    void SetProgressEvent(TProgressEvent onProgress) { onProgress_ = std::move(onProgress); }
    // Told when a cycle has ended: whether it went through to its end (its files may still
    // have failed; they are told of by the progress event).
    void SetCycleEvent(std::function<void(bool completed)> onCycle) {
        onCycle_ = std::move(onCycle);
    }

private:
    void RunCycle();
    void ConnectAndEnterFolder();
    // Whether the filter takes the entry; a left-out one is named once while it stays listed.
    bool TakenByFilter(const tavrin::remote::TRemoteEntry& entry);
    // The files of the folder, or with Recursive of the tree below it (names relative to it).
    std::vector<tavrin::remote::TRemoteEntry> ListForCycle();
    std::string JoinOnServer(const std::string& folder, const std::string& name);
    // Empty when the name (a relative path with Recursive) can be a file below the import
    // folder; otherwise why not.
    std::string WhyNotUsable(const std::string& name) const;
    // The server path of a listed name, relative to the import's folder.
    std::string RemotePathOf(const std::string& name);
    // Makes the folders of a relative path below `root`; raises when one cannot be made.
    static void MakeFoldersFor(const std::string& root, const std::string& name);
    // Fetches one file over `session` (the cycle's own or one of the parallel ones).
    void FetchEntry(tavrin::remote::TRemoteSession& session,
                    const tavrin::remote::TRemoteEntry& entry);
    void DownloadWhole(tavrin::remote::TRemoteSession& session,
                       const tavrin::remote::TRemoteEntry& entry, const std::string& remotePath,
                       const std::string& finalPath);
    // Fetches `due` over up to Connections sessions at once: the cycle's own and sessions
    // opened for it. False when a connection broke, so the listing counts as not gone
    // through.
    bool FetchInParallel(const std::vector<tavrin::remote::TRemoteEntry>& due);
    // A further session, logged in and in the import's folder; none when it cannot be had.
    std::unique_ptr<tavrin::remote::TRemoteSession> OpenParallelSession();
    // Whether several files may be fetched at once (Connections above 1).
    bool Parallel() const { return config_.Connections > 1; }
    bool MoveOutOfStaging(const std::string& name);
    void Register(const std::string& name);
    void CycleFailed(const std::string& text);
    // A tick that fell due while a cycle or NOOP ran is dropped, not delivered late.
    void DropTicksMissedDuring(std::chrono::steady_clock::duration busyFor);
    std::string HostPort() const;
    void CloseAfterFailure();
    static void CloseAfterFailure(tavrin::remote::TRemoteSession& session);
    void Dispose();

    bool BeginBusy();
    void LogMessage(const std::string& text, TColor colour);
    void LogTransfer(const std::string& text);
    void SessionStatus(tavrin::remote::TSessionStatus status, const std::string& text);
    void TlsStatusInfo(const std::string& text);
    void KeyPassword(std::string& password);

    std::shared_ptr<TSharedRegister> register_;
    // Parallel fetches share the register, the retries and the log: one at a time.
    std::mutex fetchMutex_;
    std::recursive_mutex linesMutex_;
    TStableFileTracker stable_;
    TFetchRetries retries_;
    TNamesReported unusableNames_;
    tavrin::rules::TLeftOutNotes leftOut_;
    // What the cycle is doing with which server, for a failure that brings no message.
    std::string doing_;
    TLogEvent onLog_;
    TProgressEvent onProgress_;
    std::function<void(bool completed)> onCycle_;
    std::unique_ptr<tavrin::remote::TRemoteSession> session_;
    std::vector<tavrin::remote::TRemoteEntry> listing_;
    bool disposed_ = false;
    std::atomic<bool> logClosed_{false};
    RConfiguration config_;
    // Built from config_ as the poller is made; a filter that cannot be read fails the start.
    tavrin::rules::TFileFilter filter_ = ImportFilterOf(config_);
    std::unique_ptr<QTimer> keepAliveTimer_;
    std::shared_ptr<tavrin::TErrorBox> errorBox_;
    // Holds every socket a cycle or keep-alive tick opens, so that a stop can cut them.
    std::shared_ptr<TPollerStop> stop_ = std::make_shared<TPollerStop>();
};

// What a monitor takes from the job it runs for: the register file, the job's name (its lines
// begin with it and " > ") and the error box. Empty fields get today's single import: the
// register at tavrin::RegisterFilePath(), the name "Import", a box of its own.
struct TImportJobParts {
    std::string registerPath;
    std::string jobName;
    std::shared_ptr<tavrin::TErrorBox> errorBox;
};

class TMonitorFTP {
public:
    // Raises what the poller's set-up raises; the monitor then does not exist.
    TMonitorFTP(const RConfiguration& config, TLogEvent onLog);
    TMonitorFTP(const RConfiguration& config, TLogEvent onLog, std::string registerPath);
    TMonitorFTP(const RConfiguration& config, TLogEvent onLog, TImportJobParts parts);
    // Disposes of the poller (QUIT, register saved) on the calling thread, which must be the
    // monitor's own; a cycle is never running then.
    ~TMonitorFTP();
    TMonitorFTP(const TMonitorFTP&) = delete;
    TMonitorFTP& operator=(const TMonitorFTP&) = delete;

    // Any thread. The poller stops after the cycle in progress (with QUIT), and the monitor
    // says "Monitor closed" now: what the finishing cycle writes afterwards is not forwarded.
    void RequestStop();
    // Puts the job's prefix in front and hands the line to OnLog with the monitor as sender.
    void DoLog(const void* sender, const std::string& text, TColor colour);

    TFTPChecker& Checker() { return *checker_; }
    // Told how each file's download goes (on the poller's thread).
    void SetProgressEvent(TProgressEvent onProgress) {
        checker_->SetProgressEvent(std::move(onProgress));
    }
    std::shared_ptr<TPollerStop> Stopper() const { return checker_->Stopper(); }
    // Told when each cycle has ended (on the poller's thread).
    void SetCycleEvent(std::function<void(bool completed)> onCycle) {
        checker_->SetCycleEvent(std::move(onCycle));
    }

private:
    // Logs "Monitor closed" once; nothing is forwarded after it.
    void Close();

    TLogEvent onLog_;
    std::string prefix_;
    std::recursive_mutex logMutex_;
    bool closed_ = false;
    std::unique_ptr<TFTPChecker> checker_;
};

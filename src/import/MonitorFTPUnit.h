#pragma once
// The import monitor: TMonitorFTP is the handle the window starts and stops; TFTPChecker is
// its poller, a periodic timer that lists one server folder and fetches every regular file
// not fetched before. Everything here runs on the window's thread; socket calls keep the
// event loop turning, so ticks and menu commands can arrive in the middle of a cycle.
#include "config/CommonTypesUnit.h"
#include "config/LogEvent.h"
#include "config/TransferProgress.h"
#include "import/DownloadedFilesRegister.h"
#include "import/ImportCycleState.h"
#include "import/ImportRetries.h"
#include "import/LocalNames.h"
#include "platform/SocketGroup.h"
#include "remote/RemoteSession.h"

#include <QTimer>

#include <memory>
#include <string>

class TFTPChecker : public QTimer {
public:
    // Set-up: the remote session from the settings, poll interval, register
    // loaded from `registerPath` when present, then both timers enabled. Raises on a Port that
    // is not a number and on a register file that exists but cannot be read.
    TFTPChecker(const RConfiguration& config, TLogEvent onLog, std::string registerPath);
    // Disposal: QUIT when connected, register saved. Failures go to the error box.
    ~TFTPChecker() override;
    TFTPChecker(const TFTPChecker&) = delete;
    TFTPChecker& operator=(const TFTPChecker&) = delete;

    void PollCycle();
    void KeepAliveTick();

    bool Busy() const { return busy_; }
    bool StopRequested() const { return stopRequested_; }
    void RequestStop() { stopRequested_ = true; }
    // The monitor goes away while a cycle runs: from now on nothing is forwarded, and when the
    // cycle is over the poller disconnects, saves its register and deletes itself.
    void FinishAndDisposeLater();
    // The program is ending: a cycle or keep-alive in progress has its connections cut, so
    // the call it is blocked in fails at once and the cycle ends (and, after
    // FinishAndDisposeLater, saves). An idle poller keeps its connection for a proper QUIT.
    void CutConnections();

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

private:
    void RunCycle();
    void ConnectAndEnterFolder();
    void FetchEntry(const tavrin::remote::TRemoteEntry& entry);
    void DownloadWhole(const tavrin::remote::TRemoteEntry& entry, const std::string& remotePath,
                       const std::string& finalPath);
    bool MoveOutOfStaging(const std::string& name);
    void Register(const std::string& name);
    void CycleFailed(const std::string& text);
    std::string HostPort() const;
    void CloseAfterFailure();
    void Dispose();

    void LogMessage(const std::string& text, TColor colour);
    void LogTransfer(const std::string& text);
    void SessionStatus(tavrin::remote::TSessionStatus status, const std::string& text);
    void TlsStatusInfo(const std::string& text);
    void KeyPassword(std::string& password);

    std::shared_ptr<TSharedRegister> register_;
    TStableFileTracker stable_;
    TFetchRetries retries_;
    TNamesReported unusableNames_;
    // What the cycle is doing with which server, for a failure that brings no message.
    std::string doing_;
    TLogEvent onLog_;
    TProgressEvent onProgress_;
    std::unique_ptr<tavrin::remote::TRemoteSession> session_;
    std::vector<tavrin::remote::TRemoteEntry> listing_;
    bool busy_ = false;
    bool stopRequested_ = false;
    bool disposeAfterCycle_ = false;
    bool disposed_ = false;
    bool noopRunning_ = false;
    bool pollAfterNoop_ = false;
    RConfiguration config_;
    std::unique_ptr<QTimer> keepAliveTimer_;
    // Every socket a cycle or keep-alive tick opens, so that a stop can cut them all from
    // inside the event loop that the blocked call keeps turning.
    tavrin::net::TSocketGroup sockets_;
};

class TMonitorFTP {
public:
    // Raises what the poller's set-up raises; the monitor then does not exist.
    TMonitorFTP(const RConfiguration& config, TLogEvent onLog);
    TMonitorFTP(const RConfiguration& config, TLogEvent onLog, std::string registerPath);
    ~TMonitorFTP();
    TMonitorFTP(const TMonitorFTP&) = delete;
    TMonitorFTP& operator=(const TMonitorFTP&) = delete;

    void RequestStop();
    // Puts "Import > " in front and hands the line to OnLog with the monitor as sender.
    void DoLog(const void* sender, const std::string& text, TColor colour);

    TFTPChecker& Checker() { return *checker_; }
    // Told how each file's download goes (on the poller's thread).
    void SetProgressEvent(TProgressEvent onProgress) {
        checker_->SetProgressEvent(std::move(onProgress));
    }

private:
    TLogEvent onLog_;
    TFTPChecker* checker_ = nullptr; // owned, unless handed over to finish a running cycle
};

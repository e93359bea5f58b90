#pragma once
// The export monitor: a thread that watches one local folder, and the monitor that uploads
// every file the thread reports.
#include "base/IdException.h"
#include "config/CommonTypesUnit.h"
#include "config/LogEvent.h"
#include "config/TransferProgress.h"
#include "export/ExportQueue.h"
#include "export/KeptSessions.h"
#include "export/UploadNote.h"
#include "platform/DirectoryWatch.h"
#include "platform/SocketGroup.h"
#include "remote/RemoteSession.h"
#include "rules/FileFilter.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The folder could not be watched; the message names the folder and the reason.
class EFolderWatchError : public EIdException {
public:
    using EIdException::EIdException;
};

// Watches one folder (and its subfolders down to the policy's maxDepth) and calls OnFileAdded
// with every file that arrived in it, named relative to the folder, once the file has settled (and,
// with retries on, again for files whose upload failed). With one connection the calls come on its
// own thread, one after the other; with more, up to that many at once on threads of its own, never
// two for the same name. Created suspended: the owner sets OnFileAdded, then calls Start.
class TWaitThread {
public:
    // Opens the watch at once; raises EFolderWatchError when the folder cannot be watched.
    explicit TWaitThread(std::string folderPath, TExportPolicy policy = {}, int connections = 1);
    // Stops and waits for the end when the owner did not.
    ~TWaitThread();
    TWaitThread(const TWaitThread&) = delete;
    TWaitThread& operator=(const TWaitThread&) = delete;

    std::function<TExportOutcome(const TExportJob& job)> OnFileAdded;
    // What the thread has to say about the folder itself (gone, back, a subfolder it cannot
    // watch), on its own thread.
    std::function<void(const std::string& text, TColor colour)> OnNotice;

    void Start();
    // Wakes a waiting thread at once; a handler call in progress is let finish, no further
    // file is handed out. Any thread.
    void StopWatching();
    // Waits for the thread's end (also when it was never started).
    void WaitFor();

    const std::string& FolderPath() const { return folderPath_; }
    // Set once watching has begun.
    bool Watching() const { return watching_; }
    // Set while the folder is gone (removed, moved or replaced) and the thread looks for it.
    bool FolderLost() const { return folderLost_; }
    // Set when the thread has ended.
    bool Finished() const { return finished_; }

    // Seam for tests: threads made from now on watch at most `count` folders (the folder
    // itself included) and meet the system's watch limit beyond; negative: no limit.
    static void LimitWatchesForTest(int count);

private:
    void Execute();
    void ExecuteOneByOne();
    void ExecuteInParallel();
    // OnFileAdded, with whatever escapes it shown.
    TExportOutcome Hand(const TExportJob& job) const;
    void Apply(const std::vector<tavrin::TFolderChange>& changes);
    void Notice(const std::string& text, TColor colour) const;

    std::string folderPath_;
    tavrin::TDirectoryWatch watch_;
    TExportQueue queue_;
    const int connections_;
    std::atomic<bool> watching_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> folderLost_{false};
    std::thread thread_;
};

// Uploads every file added to Config.LocalFolder to the server and reports each step to OnLog
// with the prefix "Export > ". With Config.Recursive the files of its subfolders (down to
// Config.MaxDepth levels) go to the same relative folders, made as needed; remote folders and
// local subfolders are never deleted. Up to Config.Connections files go at once, each over its own
// connection; a connection logs in for one file, or with Config.KeepConnection stays logged in
// for the next ones until it has had nothing to do for `keptIdle`.
class TFolderMonitor {
public:
    // Starts the watch and returns once it is watching. Raises EFolderWatchError when the
    // folder cannot be watched. `retryDelays` replaces the pauses between retries (tests).
    // `jobName` names the job it runs for: its lines begin with it and " > ", and its note of
    // an interrupted upload bears it; empty gives today's single export. `onProgress` is
    // told, on the watch thread, how each file's upload goes and how its steps ended.
    TFolderMonitor(const RConfiguration& config, TLogEvent onLog,
                   std::vector<std::chrono::milliseconds> retryDelays = {},
                   const std::string& jobName = {}, TProgressEvent onProgress = {},
                   std::chrono::milliseconds keptIdle = std::chrono::seconds(10));
    // Returns at once even during an upload: that upload is cut off and the file stays.
    ~TFolderMonitor();
    TFolderMonitor(const TFolderMonitor&) = delete;
    TFolderMonitor& operator=(const TFolderMonitor&) = delete;

    // Whether the watch thread is watching the folder (not while the folder is gone).
    bool Watching() const { return WaitThread.Watching() && !WaitThread.FolderLost(); }

    // The export cycle for one file; the watch thread's handler.
    TExportOutcome ExportFile(const TExportJob& job);

private:
    void DoLog(const std::string& text, TColor colour) const;
    // The session from Config, with its status and TLS lines going to the log.
    std::unique_ptr<tavrin::remote::TRemoteSession> MakeSession();
    // A kept session that still answers, or none. One the server has closed meanwhile goes
    // quietly: the file logs in afresh.
    std::unique_ptr<tavrin::remote::TRemoteSession> KeptSession();
    // How far a cycle got: the step for a failure that brings no text of its own, and
    // whether this cycle's upload was noted.
    struct TCycleProgress {
        std::string doing = "Connecting to";
        bool noted = false;
        bool moved = true; // false: the local file could not be moved afterwards
    };
    // `loggedIn`: a kept session, which neither logs in nor, when the file is over, out.
    TExportOutcome Upload(tavrin::remote::TRemoteSession& session, const std::string& name,
                          TCycleProgress& progress, bool loggedIn);
    bool NoteUpload(const std::string& name);
    // The upload of `name` is over and need not be sent again at the next start.
    void ForgetUpload(const std::string& name);
    void CheckRemoteSize(tavrin::remote::TRemoteSession& session, const std::string& path,
                         const std::string& name, int64_t localSize);
    bool MoveLocalFile(const std::string& localPath, const std::string& name) const;
    // Empty when the filter takes the file; otherwise the rule that leaves it out.
    std::string WhyLeftOut(const std::string& name) const;
    // Raises EIdException naming every filter value that cannot be read.
    static tavrin::rules::TFileFilter FilterOf(const RConfiguration& config);

    RConfiguration Config;
    TLogEvent OnLog;
    // Uploads in parallel log from several threads; the receiver gets one line at a time.
    mutable std::mutex LogMutex;
    // Told how each file's upload goes and how its steps ended.
    TProgressEvent OnProgress;
    std::string Prefix;
    // Every connection of the cycle in progress, so that a stop can cut them.
    tavrin::net::TSocketGroup Sockets;
    // The uploads in progress, for the next start should this run end in the middle of them.
    TUploadNote Note;
    // The files an earlier run was uploading when it ended: sent again first.
    std::vector<std::string> Interrupted;
    TNotedUploads Noted;
    std::atomic<bool> NoteProblemShown{false};
    // Logged-in sessions waiting for the next file (KeepConnection).
    TKeptSessions Kept;
    // Which files the monitor takes; set up before the watch, so bad settings fail the start.
    tavrin::rules::TFileFilter Filter = FilterOf(Config);
    TWaitThread WaitThread;
};

#pragma once
// The export monitor: a thread that watches one local folder, and the monitor that uploads
// every file the thread reports.
#include "config/CommonTypesUnit.h"
#include "config/LogEvent.h"
#include "platform/DirectoryWatch.h"

#include <atomic>
#include <functional>
#include <string>
#include <thread>

// Watches one folder (not its subfolders) and calls OnFileAdded, on its own thread and one
// call after the other, with the bare name of every file that was added to it. Created
// suspended: the owner sets OnFileAdded, then calls Start.
class TWaitThread {
public:
    // Opens the watch at once; when the folder cannot be watched the user is shown the
    // system's text for the reason and the thread, once started, ends at once.
    explicit TWaitThread(std::string folderPath);
    // Stops and waits for the end when the owner did not.
    ~TWaitThread();
    TWaitThread(const TWaitThread&) = delete;
    TWaitThread& operator=(const TWaitThread&) = delete;

    std::function<void(const std::string& name)> OnFileAdded;

    void Start();
    // Wakes a waiting thread at once; a handler call in progress is let finish, no further
    // file is handed out. Any thread.
    void StopWatching();
    // Waits for the thread's end (also when it was never started).
    void WaitFor();

    const std::string& FolderPath() const { return folderPath_; }
    // Set once watching has begun.
    bool Watching() const { return watching_; }
    // Set when the thread has ended, or will never watch because the folder could not be
    // opened: the owner's wait for Watching stops on either.
    bool Finished() const { return finished_; }

private:
    void Execute();

    std::string folderPath_;
    tavrin::TDirectoryWatch watch_;
    std::atomic<bool> watching_{false};
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

class TIdFTP;
class TIdSSLIOHandlerSocketOpenSSL;

// Uploads every file added to Config.LocalFolder to the server, one connection per file, and
// reports each step to OnLog with the prefix "Export > ".
class TFolderMonitor {
public:
    // Starts the watch and returns once it is watching (or could not begin).
    TFolderMonitor(const RConfiguration& config, TLogEvent onLog);
    // Returns once the file in progress, if any, has been handled.
    ~TFolderMonitor();
    TFolderMonitor(const TFolderMonitor&) = delete;
    TFolderMonitor& operator=(const TFolderMonitor&) = delete;

    // Whether the watch thread is watching the folder.
    bool Watching() const { return WaitThread.Watching(); }

    // The export cycle for one file; the watch thread's handler.
    void ExportFile(const std::string& name);

private:
    void DoLog(const std::string& text, TColor colour) const;
    void SetUpClient(TIdFTP& client, TIdSSLIOHandlerSocketOpenSSL* tlsHandler);
    void Upload(TIdFTP& client, const std::string& name);
    void MoveLocalFile(const std::string& localPath, const std::string& name) const;

    RConfiguration Config;
    TLogEvent OnLog;
    TWaitThread WaitThread;
};

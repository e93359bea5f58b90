#include "export/FolderMonitorUnit.h"

#include "config/ConfigPaths.h"
#include "config/FilterSettings.h"
#include "config/LogSwitches.h"
#include "config/StartChecks.h"
#include "export/FailureReason.h"
#include "platform/FileSystem.h"
#include "remote/FileProgress.h"
#include "remote/RemotePaths.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <thread>

namespace {

// How long the monitor's start waits for the watch thread: far more than it ever needs, but
// a window that never comes back is worse than a monitor that starts a moment late.
constexpr auto kWatchStartStep = std::chrono::milliseconds(50);
constexpr int kWatchStartSteps = 200;

const std::string kDQ = "\"";
// The job of a monitor built without one: today's single export.
const std::string kDefaultJobName = "Export";

// A reply or command line ends at CR or LF, so such a name would put a second command on the
// control connection.
bool NameIsSafeOnTheWire(const std::string& name) {
    return name.find_first_of("\r\n") == std::string::npos;
}

class EUnsafeFileName : public EIdException {
public:
    using EIdException::EIdException;
};

class ERemoteSizeMismatch : public EIdException {
public:
    using EIdException::EIdException;
};

class ENotLoggedIn : public EIdException {
public:
    using EIdException::EIdException;
};

// The files noted by an earlier run of this monitor that are still waiting in the folder.
std::vector<std::string> InterruptedUploads(const TUploadNote& note, const std::string& folder) {
    std::vector<std::string> waiting;
    for (const std::string& name : note.Read(folder))
        if (tavrin::fs::FileExists(folder + "/" + name))
            waiting.push_back(name);
    if (waiting.empty())
        note.Clear(); // gone since: nothing left to send
    return waiting;
}

// Files of one job that go at once: enough to fill a fast link with small files, few enough
// not to look like an attack to the server.
constexpr int32_t kMostConnections = 8;

struct LocalState {
    bool exists = false;
    int64_t size = 0;
    int64_t mtimeNs = 0;
    bool operator==(const LocalState&) const = default;
};

LocalState StateOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return {};
    return {true, static_cast<int64_t>(info.st_size),
            static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

TExportPolicy PolicyOf(const RConfiguration& config,
                       std::vector<std::chrono::milliseconds> retryDelays,
                       const std::vector<std::string>& sendFirst) {
    TExportPolicy policy;
    // A MinAge that cannot be read has failed the start already (the filter comes first).
    policy.minAge = std::chrono::seconds(tavrin::rules::ParseSeconds(config.MinAge).value_or(0));
    policy.sendFirst = sendFirst;
    policy.settle = std::chrono::milliseconds(std::max<int32_t>(0, config.SettleTime));
    policy.retryFailed = config.RetryFailed;
    policy.exportExisting = config.ExportExisting;
    policy.maxDepth = config.Recursive ? std::max<int32_t>(0, config.MaxDepth) : 0;
    if (!retryDelays.empty())
        policy.retryDelays = std::move(retryDelays);
    return policy;
}

} // namespace

TFolderMonitor::TFolderMonitor(const RConfiguration& config, TLogEvent onLog,
                               std::vector<std::chrono::milliseconds> retryDelays,
                               const std::string& jobName, TProgressEvent onProgress,
                               std::chrono::milliseconds keptIdle)
    : Config(config), OnLog(std::move(onLog)), OnProgress(std::move(onProgress)),
      Prefix((jobName.empty() ? kDefaultJobName : jobName) + " > "),
      Note(jobName.empty() ? kDefaultJobName : jobName),
      Interrupted(InterruptedUploads(Note, Config.LocalFolder)),
      Noted(Note, Config.LocalFolder, Interrupted), Kept(keptIdle),
      WaitThread(Config.LocalFolder, PolicyOf(Config, std::move(retryDelays), Interrupted),
                 std::clamp(Config.Connections, 1, kMostConnections)) {
    // Unusable TLS files fail the start, so the direction stays stopped.
    tavrin::remote::CheckSessionSettings(Config);
    WaitThread.OnFileAdded = [this](const TExportJob& job) { return ExportFile(job); };
    WaitThread.OnNotice = [this](const std::string& text, TColor colour) { DoLog(text, colour); };
    WaitThread.Start();
    if (LogMonitor)
        DoLog("Monitor started", clMaroon);
    for (const std::string& name : Interrupted)
        DoLog("File " + name + " is sent again after an interrupted run.", clHotLight);
    for (int step = 0; step < kWatchStartSteps; ++step) {
        if (WaitThread.Watching() || WaitThread.Finished())
            break;
        std::this_thread::sleep_for(kWatchStartStep);
    }
}

TFolderMonitor::~TFolderMonitor() {
    WaitThread.StopWatching();
    // An upload to a server that stopped reading would hold the window for minutes; cutting
    // its connections makes it fail at once, and the file stays for the next start.
    Sockets.ShutDown();
    WaitThread.WaitFor();
    Kept.EndAll();
    if (LogMonitor)
        DoLog("Monitor closed", clMaroon);
}

void TFolderMonitor::DoLog(const std::string& text, TColor colour) const {
    std::lock_guard lock(LogMutex);
    if (OnLog)
        OnLog(this, Prefix + text, colour);
}

TExportOutcome TFolderMonitor::ExportFile(const TExportJob& job) {
    const std::string& name = job.name;
    if (!tavrin::fs::FileExists(Config.LocalFolder + "/" + name)) {
        // Renamed or deleted while it waited: its new name, if any, has its own turn.
        DoLog("File " + name + " vanished before upload.", clHotLight);
        ForgetUpload(name); // nothing left to send again
        return TExportOutcome::Vanished;
    }
    if (const std::string why = WhyLeftOut(name); !why.empty()) {
        // Neither sent nor moved; it arrived once, so it is named once.
        if (LogVerbose)
            DoLog("File " + name + " is not exported: " + why + ".", clHotLight);
        // An interrupted upload the filter no longer takes is not sent again.
        ForgetUpload(name);
        return TExportOutcome::LeftOut;
    }
    if (job.retry > 0)
        DoLog("Retrying file " + name + " (retry " + std::to_string(job.retry) + ").", clHotLight);
    if (LogFileTransfer)
        DoLog("File " + name + " ready for export.", clGreen);

    std::unique_ptr<tavrin::remote::TRemoteSession> session;
    try {
        if (Config.KeepConnection)
            session = KeptSession();
        if (!session)
            session = MakeSession();
    } catch (const std::exception& failure) {
        // A setting that cannot be used (a Port that is no number) ends this file only; the
        // reason is all the user needs to mend it.
        DoLog(FailureReason(&failure, "Setting up the connection to", Config.Host, Config.Port),
              clRed);
        if (OnProgress)
            OnProgress({name, true, 0, std::nullopt, TTransferPhase::Failed});
        return TExportOutcome::Failed;
    }

    tavrin::net::TSocketGroupScope scope(Sockets);
    TCycleProgress progress;
    std::string reason;
    bool cutOff = false;
    // Done only for a file whose every step went through; every other end reports Failed,
    // after the file's red lines, so whoever reads the report has them. Unhooked before the
    // session may go on to another file.
    std::optional<tavrin::remote::TFileProgress> bytes;
    try {
        const LocalState local = StateOf(Config.LocalFolder + "/" + name);
        bytes.emplace(OnProgress, *session, name, true,
                      local.exists ? std::optional<uint64_t>(local.size) : std::nullopt);
        const TExportOutcome outcome = Upload(*session, name, progress, Config.KeepConnection);
        ForgetUpload(name);
        bytes->End(outcome == TExportOutcome::Done && progress.moved);
        bytes.reset();
        if (Config.KeepConnection)
            Kept.Give(std::move(session));
        return outcome;
    } catch (const std::exception& failure) {
        reason = FailureReason(&failure, progress.doing, Config.Host, Config.Port);
        cutOff = Sockets.IsShutDown();
    } catch (...) {
        reason = FailureReason(nullptr, progress.doing, Config.Host, Config.Port);
        cutOff = Sockets.IsShutDown();
    }
    DoLog("File " + name + " not uploaded.", clRed);
    if (cutOff) {
        // The server may hold part of it under its final name: the note stays, so the next
        // start sends it again.
        DoLog("The upload was cut off because the monitor stopped; the file stays in the "
              "watched folder.",
              clRed);
        return TExportOutcome::Stopped;
    }
    // A failure before the STOR leaves a note of an earlier run alone: the server may still
    // hold that file in part. The session goes with the failure; the next file logs in afresh.
    if (progress.noted)
        ForgetUpload(name);
    DoLog(reason, clRed);
    return TExportOutcome::Failed;
}

std::unique_ptr<tavrin::remote::TRemoteSession> TFolderMonitor::KeptSession() {
    for (;;) {
        std::unique_ptr<tavrin::remote::TRemoteSession> session = Kept.Take();
        if (!session)
            return nullptr;
        tavrin::net::TSocketGroupScope scope(Sockets);
        try {
            // One short exchange proves the server has not closed the connection while it
            // was idle (a 421 on time-out, or a plain close).
            if (session->IsConnected() && session->KeepAlive().code < 400 && session->IsConnected())
                return session;
        } catch (const std::exception&) {
        }
        if (LogVerbose)
            DoLog("The server closed the kept connection; logging in again.", clHotLight);
        try {
            session->Close(false);
        } catch (const std::exception&) {
        }
    }
}

std::unique_ptr<tavrin::remote::TRemoteSession> TFolderMonitor::MakeSession() {
    tavrin::remote::TRemoteEvents events;
    events.OnStatus = [this](tavrin::remote::TSessionStatus, const std::string& text) {
        if (LogVerbose)
            DoLog(text, clHotLight);
    };
    events.OnTlsInfo = [this](const std::string& text) {
        if (LogSSL)
            DoLog(text, cl3DDkShadow);
    };
    return tavrin::remote::MakeRemoteSession(Config, events);
}

// The guarded part of a cycle: whatever fails in here means the file was not uploaded.
TExportOutcome TFolderMonitor::Upload(tavrin::remote::TRemoteSession& session,
                                      const std::string& name, TCycleProgress& progress,
                                      bool keep) {
    if (!NameIsSafeOnTheWire(name))
        throw EUnsafeFileName("File name with a line break");
    if (!session.IsConnected())
        session.Connect();
    if (!session.IsConnected())
        throw ENotLoggedIn("The connection to " + Config.Host + ":" + Config.Port +
                           " ended during the login.");
    const std::string localPath = Config.LocalFolder + "/" + name;
    const std::string& uploadFolder = Config.FirstToTemp ? Config.TempFolder : Config.RemoteFolder;
    const std::string remotePath = tavrin::remote::PathBelow(session, uploadFolder, name);
    std::string finalPath = remotePath;

    if (LogFileTransfer)
        DoLog("Uploading file " + kDQ + localPath + kDQ, clGreen);
    const LocalState before = StateOf(localPath);
    // Before the note: a failure before the STOR leaves the note of an earlier run alone.
    progress.doing = "Making the folders of " + name + " on";
    tavrin::remote::MakeFoldersBelow(session, uploadFolder, name);
    progress.noted = NoteUpload(name);
    progress.doing = "Uploading " + name + " to";
    session.Upload(localPath, remotePath);
    if (Config.FirstToTemp) {
        // The session is still in the folder the STOR resolved its path against, so the
        // rename resolves both of its paths the same way: relative ones (and bare names) from
        // the login folder, as the import side does.
        finalPath = tavrin::remote::PathBelow(session, Config.RemoteFolder, name);
        progress.doing = "Making the folders of " + name + " on";
        tavrin::remote::MakeFoldersBelow(session, Config.RemoteFolder, name);
        progress.doing = "Renaming " + name + " on";
        session.Rename(remotePath, finalPath);
    }
    progress.doing = "Closing the connection to";
    if (!(StateOf(localPath) == before)) {
        // What the server got is some mix of old and new; the next settled version replaces
        // it, and until then the file is neither moved nor reported done.
        if (!keep)
            session.Close(true);
        DoLog("File " + name + " changed during upload; it is sent again once it settles.",
              clHotLight);
        return TExportOutcome::Changed;
    }
    if (Config.BinaryMode) {
        progress.doing = "Checking the size of " + name + " on";
        CheckRemoteSize(session, finalPath, name, before.size);
        progress.doing = "Closing the connection to";
    }
    if (!keep)
        session.Close(true);
    if (Config.MoveDelete)
        progress.moved = MoveLocalFile(localPath, name);
    if (LogFileTransfer)
        DoLog("Uploading file " + kDQ + localPath + kDQ + " done", clGreen);
    return TExportOutcome::Done;
}

void TFolderMonitor::ForgetUpload(const std::string& name) {
    Noted.Remove(name);
}

bool TFolderMonitor::NoteUpload(const std::string& name) {
    // Without the note the upload still goes; only a crash in the middle of it would go
    // unnoticed, which the user should know once.
    const std::string problem = Noted.Add(name);
    if (problem.empty())
        return true;
    if (NoteProblemShown.exchange(true))
        return false;
    DoLog("Uploads are not noted (" + problem +
              "); a file cut off by a crash will not be sent again.",
          clRed);
    return false;
}

void TFolderMonitor::CheckRemoteSize(tavrin::remote::TRemoteSession& session,
                                     const std::string& path, const std::string& name,
                                     int64_t localSize) {
    // A server that cannot tell the size cannot be checked; one that does must hold it all.
    const std::optional<int64_t> remoteSize = session.Size(path);
    if (!remoteSize)
        return;
    if (*remoteSize != localSize)
        throw ERemoteSizeMismatch("The server holds " + std::to_string(*remoteSize) + " bytes of " +
                                  name + ", the local file has " + std::to_string(localSize) +
                                  " bytes.");
}

tavrin::rules::TFileFilter TFolderMonitor::FilterOf(const RConfiguration& config) {
    std::vector<std::string> problems;
    tavrin::rules::TFileFilter filter(tavrin::FilterSettingsOf(config), problems);
    if (!problems.empty())
        throw EIdException(tavrin::JoinedProblems(problems, "; "));
    return filter;
}

std::string TFolderMonitor::WhyLeftOut(const std::string& name) const {
    // The age needs no look here: the queue held the file until it was old enough.
    const LocalState state = StateOf(Config.LocalFolder + "/" + name);
    std::optional<int64_t> size;
    if (state.exists)
        size = state.size;
    return Filter.WhyLeftOut({name, size, std::nullopt});
}

bool TFolderMonitor::MoveLocalFile(const std::string& localPath, const std::string& name) const {
    // Neither step stops the cycle: a file that cannot be moved (one of that name is already
    // there) simply stays in the watched folder, and is never replaced. A file below a
    // subfolder keeps its relative folder there. Without a folder it stays too: the job's
    // start refuses that, and a monitor made without the check must not fill the root.
    if (Config.MoveToFolder.empty())
        return false;
    if (!tavrin::fs::DirectoryExists(Config.MoveToFolder))
        tavrin::fs::CreateDir(Config.MoveToFolder);
    tavrin::fs::MakeFoldersBelow(Config.MoveToFolder, name);
    return tavrin::fs::MoveFileNoReplace(localPath, Config.MoveToFolder + "/" + name);
}

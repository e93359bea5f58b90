#include "config/UserMessages.h"
#include "export/FolderMonitorUnit.h"
#include "export/UploadWorkers.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <exception>

namespace {

using Clock = std::chrono::steady_clock;
using Kind = tavrin::TFolderChange::Kind;

// The system's text for a failure, without trailing blanks, line breaks or full stops.
std::string ErrorText(int error) {
    std::string text = tavrin::fs::SystemErrorText(error);
    while (!text.empty() &&
           (text.back() == ' ' || text.back() == '\r' || text.back() == '\n' || text.back() == '.'))
        text.pop_back();
    return text;
}

std::atomic<int> watchLimitForTest{-1};

std::string NotWatchedText(const std::string& folder, int error) {
    if (error == ENOSPC)
        return "Cannot watch folder " + folder +
               ": the system's limit of folder watches is reached; raise "
               "fs.inotify.max_user_watches.";
    return "Cannot watch folder " + folder + ": " + ErrorText(error) + ".";
}

} // namespace

TWaitThread::TWaitThread(std::string folderPath, TExportPolicy policy, int connections)
    : folderPath_(std::move(folderPath)), queue_(folderPath_, policy),
      connections_(std::max(1, connections)) {
    // Opening here, on the owner's thread, means files added from now on are reported even
    // if the thread is started a little later, and a folder that cannot be watched fails
    // the start instead of leaving a monitor that shows as active and sees nothing.
    if (folderPath_.empty())
        throw EFolderWatchError("Cannot watch folder: no export folder is set");
    watch_.LimitWatchesForTest(watchLimitForTest);
    if (int error = watch_.Open(folderPath_, policy.maxDepth); error != 0)
        throw EFolderWatchError("Cannot watch folder " + folderPath_ + ": " + ErrorText(error));
    for (const std::string& name : policy.sendFirst)
        if (tavrin::fs::FileExists(folderPath_ + "/" + name))
            queue_.Arrived(name, Clock::now());
    if (policy.exportExisting)
        queue_.AddExisting(Clock::now());
}

void TWaitThread::LimitWatchesForTest(int count) {
    watchLimitForTest = count;
}

TWaitThread::~TWaitThread() {
    StopWatching();
    WaitFor();
}

void TWaitThread::Start() {
    if (thread_.joinable() || finished_)
        return;
    thread_ = std::thread([this] { Execute(); });
}

void TWaitThread::StopWatching() {
    watch_.Stop();
}

void TWaitThread::WaitFor() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}

void TWaitThread::Apply(const std::vector<tavrin::TFolderChange>& changes) {
    const auto now = Clock::now();
    for (const auto& change : changes) {
        switch (change.kind) {
        case Kind::Arrived:
            queue_.Arrived(change.name, now);
            break;
        case Kind::Touched:
            queue_.Touched(change.name, now);
            break;
        case Kind::Gone:
            queue_.Gone(change.name);
            break;
        case Kind::FolderLost:
            folderLost_ = true;
            queue_.Clear();
            Notice("Watched folder " + folderPath_ +
                       " is gone (removed, moved or replaced); nothing is exported until it is "
                       "back.",
                   clRed);
            break;
        case Kind::NotWatched:
            // The folders that are watched go on; this one's files wait for a restart.
            Notice(
                NotWatchedText(change.name.empty() ? folderPath_ : folderPath_ + "/" + change.name,
                               change.error),
                clRed);
            break;
        case Kind::FolderBack:
            // The files in it now follow as arrivals.
            folderLost_ = false;
            Notice("Watching folder " + folderPath_ + " again.", clHotLight);
            break;
        }
    }
}

void TWaitThread::Notice(const std::string& text, TColor colour) const {
    if (OnNotice)
        OnNotice(text, colour);
}

TExportOutcome TWaitThread::Hand(const TExportJob& job) const {
    try {
        return OnFileAdded ? OnFileAdded(job) : TExportOutcome::Done;
    } catch (const std::exception& failure) {
        // The export cycle catches its own failures; anything that still escapes is shown,
        // and the watch goes on with the next file.
        tavrin::ShowErrorMessage(failure.what());
    } catch (...) {
        tavrin::ShowErrorMessage("File " + job.name + " not handled.");
    }
    return TExportOutcome::Failed;
}

void TWaitThread::Execute() {
    watching_ = true;
    if (connections_ > 1)
        ExecuteInParallel();
    else
        ExecuteOneByOne();
    finished_ = true;
}

void TWaitThread::ExecuteOneByOne() {
    while (!watch_.StopRequested()) {
        Apply(watch_.WaitForChanges(queue_.MsUntilNextDue(Clock::now())));
        while (!watch_.StopRequested()) {
            // What happened during the last upload (a rename, a deletion) counts first.
            Apply(watch_.WaitForChanges(0));
            auto job = queue_.TakeDue(Clock::now());
            if (!job)
                break;
            queue_.Finished(*job, Hand(*job), Clock::now());
        }
    }
}

void TWaitThread::ExecuteInParallel() {
    // While files are out, outcomes that send a file again (a retry, a change) are looked
    // for this often even when the folder is quiet.
    constexpr std::chrono::milliseconds kOutcomeLook{50};
    TUploadWorkers workers(static_cast<size_t>(connections_),
                           [this](const TExportJob& job) { return Hand(job); });
    while (!watch_.StopRequested()) {
        for (const auto& [job, outcome] : workers.Collect(std::chrono::milliseconds(0)))
            queue_.Finished(job, outcome, Clock::now());
        Apply(watch_.WaitForChanges(0));
        while (workers.HasFreeWorker()) {
            auto job = queue_.TakeDue(Clock::now(), workers.BusyNames());
            if (!job)
                break;
            workers.Give(std::move(*job));
        }
        if (!workers.HasFreeWorker()) {
            // Every connection is busy: the next free one takes the next due file at once.
            for (const auto& [job, outcome] : workers.Collect(kOutcomeLook))
                queue_.Finished(job, outcome, Clock::now());
            continue;
        }
        int wait = queue_.MsUntilNextDue(Clock::now(), workers.BusyNames());
        if (workers.Busy() > 0 && (wait < 0 || wait > kOutcomeLook.count()))
            wait = static_cast<int>(kOutcomeLook.count());
        Apply(watch_.WaitForChanges(wait));
    }
    // The workers' destructor lets the uploads in progress end; the owner cuts them off.
}

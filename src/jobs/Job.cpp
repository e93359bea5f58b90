#include "jobs/Job.h"

#include "config/ConfigPaths.h"
#include "config/JobSections.h"
#include "config/SettingsFile.h"
#include "config/StartChecks.h"
#include "config/UserMessages.h"
#include "export/FolderMonitorUnit.h"
#include "import/MonitorFTPUnit.h"
#include "jobs/Hooks.h"
#include "secrets/SecretSources.h"

#include <QPointer>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <exception>
#include <future>

namespace tavrin::jobs {
namespace {

// A cycle still running this long after the stop has its connections cut; with the QUIT's
// own 3 s limit the whole stop stays within 5 s.
constexpr int kStopGraceMs = 1500;
// Whatever is still talking to the server then is cut as well.
constexpr int kStopLimitMs = 4500;
// ActivityChanged comes at most this often.
constexpr std::chrono::milliseconds kActivitySignalGap(100);
// How long a destructor or the program's end waits for a worker whose connections are cut.
constexpr unsigned long kStopNowWaitMs = 10000;
// A file's failure is logged a moment before the file's last report comes; failure lines with
// no file report this long after the first one were a failure of the job itself (a cycle, a
// login), told once however many lines it had.
constexpr int kJobFailureDelayMs = 500;

} // namespace

// The job's worker: builds the monitor, runs the event loop its timers need until told to
// quit, and disposes of the monitor on its way out.
class TJobWorker : public QThread {
public:
    TJobWorker(std::function<void()> build, std::function<void()> destroy)
        : build_(std::move(build)), destroy_(std::move(destroy)) {}
    // Blocks until the monitor is built; rethrows what its set-up raised.
    void StartAndWaitBuilt() {
        std::future<void> built = built_.get_future();
        start();
        built.get();
    }

    // After wait(): everything the worker did is visible to the caller. QThread::wait
    // already makes it so; this says it in a way ThreadSanitizer can see (Qt's own locks are
    // invisible to it).
    void Joined() const { (void)ended_.load(std::memory_order_acquire); }
    // Ends the event loop after the event in progress; what the caller did before is visible
    // to the disposal that follows on the worker (the same reasoning as Joined).
    void Quit() {
        quitting_.store(true, std::memory_order_release);
        quit();
    }

protected:
    void run() override {
        try {
            build_();
        } catch (...) {
            ended_.store(true, std::memory_order_release);
            built_.set_exception(std::current_exception());
            return;
        }
        built_.set_value();
        exec();
        (void)quitting_.load(std::memory_order_acquire);
        destroy_();
        ended_.store(true, std::memory_order_release);
    }

private:
    std::function<void()> build_, destroy_;
    std::promise<void> built_;
    std::atomic<bool> ended_{false};
    std::atomic<bool> quitting_{false};
};

std::string SectionOf(const TJobDefinition& definition) {
    if (!definition.section.empty())
        return definition.section;
    return definition.kind == TJobKind::Import ? "Import" : "Export";
}

TJobDefinition DefinitionOf(const TJobSection& section) {
    return {section.name,
            section.direction == TDirection::Import ? TJobKind::Import : TJobKind::Export,
            {},
            section.section,
            section.enabled};
}

EJobRefused::EJobRefused(const std::string& job, std::vector<std::string> problems)
    : std::runtime_error(job + " monitor not started: " + JoinedProblems(problems, "; ")),
      problems_(std::move(problems)) {}

TJob::TJob(TJobDefinition definition, std::string configPath, TLogEvent log, QObject* parent)
    : QObject(parent), definition_(std::move(definition)), configPath_(std::move(configPath)),
      log_(std::move(log)) {
    // The job listens to its own lines: a red one is a failure to show in its row.
    hookLog_ = log_;
    if (log_) {
        TLogEvent downstream = std::move(log_);
        log_ = [this, downstream](const void* sender, const std::string& text, TColor colour) {
            downstream(sender, text, colour);
            ReportLine(text, colour);
        };
    }
    // Boxes open on the main thread; a job gone by then leaves its box to the program's sink.
    QPointer<TJob> self(this);
    errorBox_ = std::make_shared<TErrorBox>([self](const std::string& text) {
        if (self)
            self->ShowErrorBox(text);
        else
            ShowErrorMessage(text);
    });
}

TJob::~TJob() {
    StopNow();
}

bool TJob::Watching() const {
    return state_ == TJobState::Running && export_ && export_->Watching();
}

bool TJob::CycleRunning() const {
    return state_ == TJobState::Running && stopper_ && stopper_->Busy();
}

void TJob::ReportProgress(const TTransferProgress& progress) {
    QMetaObject::invokeMethod(
        this,
        [this, progress] {
            tracker_.Progress(progress, std::chrono::steady_clock::now(),
                              std::chrono::system_clock::now());
            FileHooks(progress);
            ActivityTouched();
        },
        Qt::QueuedConnection);
}

// Queued like the lines and reports of the cycle, so it comes after them.
void TJob::ReportCycle(bool completed) {
    QMetaObject::invokeMethod(
        this,
        [this, completed] {
            const bool wasFailing = tracker_.Activity().failing;
            tracker_.CycleEnded(completed);
            if (wasFailing != tracker_.Activity().failing)
                ActivityTouched();
        },
        Qt::QueuedConnection);
}

void TJob::ReportLine(const std::string& text, TColor colour) {
    if (colour != clRed)
        return;
    const std::string prefix = LogPrefix();
    std::string line = text.rfind(prefix, 0) == 0 ? text.substr(prefix.size()) : text;
    QMetaObject::invokeMethod(
        this,
        [this, line = std::move(line)] {
            NoteFailure(line);
            ActivityTouched();
        },
        Qt::QueuedConnection);
}

void TJob::NoteFailure(const std::string& text) {
    const bool wasFailing = tracker_.Activity().failing;
    tracker_.Failure(text);
    if (failure_.open)
        return; // a further line of the same failure
    failure_ = {true, ++failure_.number, !wasFailing, text};
    QTimer::singleShot(kJobFailureDelayMs, this, [this, number = failure_.number] {
        if (!failure_.open || failure_.number != number)
            return; // a file's failure, told by its own report
        failure_.open = false;
        if (state_ != TJobState::Running)
            return; // a stop cut the work short: no failure to tell anyone of
        emit Outcome(TJobOutcome::JobFailed, {}, failure_.firstLine);
        if (!failure_.startsFailing || config_.OnFailureCommand.empty())
            return;
        THookEvent event;
        event.job = definition_.name;
        event.upload = definition_.kind == TJobKind::Export;
        event.failed = true;
        event.message = failure_.firstLine;
        RunHook(config_.OnFailureCommand, event);
    });
}

void TJob::FileHooks(const TTransferProgress& progress) {
    if (progress.phase == TTransferPhase::Moving)
        return;
    const bool done = progress.phase == TTransferPhase::Done;
    // The lines just before were the file's: its own report tells of them.
    failure_.open = false;
    // A file cut off by a stop stays for the next start; that is no failure to act on.
    if (!done && state_ != TJobState::Running)
        return;
    emit Outcome(done ? TJobOutcome::FileDone : TJobOutcome::FileFailed, progress.file,
                 done ? std::string() : tracker_.Activity().lastError);
    const std::string& command = done ? config_.OnTransferCommand : config_.OnFailureCommand;
    if (!command.empty())
        RunHook(command,
                FileHookEvent(definition_.name, config_, progress, tracker_.Activity().lastError));
}

void TJob::RunHook(const std::string& command, const THookEvent& event) {
    if (hooks_)
        hooks_->Run(command, event, hookLog_, LogPrefix());
}

void TJob::ActivityTouched() {
    if (activitySignalDue_)
        return; // the pending signal will carry this change too
    const auto now = std::chrono::steady_clock::now();
    const auto since = now - lastActivitySignal_;
    if (since >= kActivitySignalGap) {
        lastActivitySignal_ = now;
        emit ActivityChanged();
        return;
    }
    activitySignalDue_ = true;
    const auto wait =
        std::chrono::duration_cast<std::chrono::milliseconds>(kActivitySignalGap - since);
    QTimer::singleShot(wait + std::chrono::milliseconds(1), this, [this] {
        activitySignalDue_ = false;
        lastActivitySignal_ = std::chrono::steady_clock::now();
        emit ActivityChanged();
    });
}

void TJob::ShowErrorBox(const std::string& text) {
    NoteFailure(text);
    ActivityTouched();
    if (OnErrorBox)
        OnErrorBox(*this, text);
    else
        ShowErrorMessage(text);
}

void TJob::SetState(TJobState state) {
    if (state_ == state)
        return;
    state_ = state;
    emit StateChanged(state);
}

std::string TJob::ConfigPath() const {
    return configPath_.empty() ? ConfigFilePath() : configPath_;
}

TDirection TJob::Direction() const {
    return definition_.kind == TJobKind::Import ? TDirection::Import : TDirection::Export;
}

bool TJob::SettingsChanged() const {
    // Against the file as read, not the started settings: a password found in a credential, a
    // password file or the keyring is no change of the file.
    return LoadRecord(Direction(), SectionOf(definition_), ConfigPath()) != loaded_;
}

void TJob::Start() {
    if (state_ != TJobState::Stopped && state_ != TJobState::FailedToStart)
        return;
    SetState(TJobState::Starting);
    const bool import = definition_.kind == TJobKind::Import;
    try {
        loaded_ = LoadRecord(Direction(), SectionOf(definition_), ConfigPath());
        config_ = loaded_;
        std::vector<std::string> problems =
            import ? ImportStartProblems(config_) : ExportStartProblems(config_);
        // The passwords from a systemd credential, PasswordFile or the keyring; what keeps
        // them from being known refuses the job with the settings' own problems.
        const TSecretResolution secrets =
            ResolveSecrets(definition_.name, config_, SecretSourcesFromEnvironment(keyring_));
        for (const std::string& note : secrets.Notes)
            log_(this, note, clRed);
        problems.insert(problems.end(), secrets.Problems.begin(), secrets.Problems.end());
        if (!problems.empty())
            throw EJobRefused(definition_.name, std::move(problems));
        worker_ =
            std::make_unique<TJobWorker>([this] { BuildMonitor(); }, [this] { DestroyMonitor(); });
        const uint64_t generation = ++generation_;
        connect(
            worker_.get(), &QThread::finished, this,
            [this, generation] { WorkerFinished(generation); }, Qt::QueuedConnection);
        worker_->StartAndWaitBuilt();
    } catch (const std::exception& failure) {
        if (worker_) {
            worker_->wait();
            worker_->Joined();
            worker_.reset();
        }
        const auto* refused = dynamic_cast<const EJobRefused*>(&failure);
        lastError_ = refused ? JoinedProblems(refused->Problems(), "\n") : failure.what();
        SetState(TJobState::FailedToStart);
        throw;
    }
    lastError_.clear();
    tracker_.Started();
    ActivityTouched();
    SetState(TJobState::Running);
}

// On the worker thread.
void TJob::BuildMonitor() {
    if (definition_.kind == TJobKind::Import) {
        import_ = std::make_unique<TMonitorFTP>(
            config_, log_,
            TImportJobParts{definition_.registerPath.empty() ? RegisterFilePathFor(definition_.name)
                                                             : definition_.registerPath,
                            definition_.name, errorBox_});
        stopper_ = import_->Stopper();
        import_->SetProgressEvent([this](const TTransferProgress& p) { ReportProgress(p); });
        import_->SetCycleEvent([this](bool completed) { ReportCycle(completed); });
    } else {
        export_ = std::make_unique<TFolderMonitor>(
            config_, log_, std::vector<std::chrono::milliseconds>{}, definition_.name,
            [this](const TTransferProgress& p) { ReportProgress(p); });
    }
}

// On the worker thread, after its event loop: QUIT, register saved, "Monitor closed".
void TJob::DestroyMonitor() {
    import_.reset();
    export_.reset();
}

void TJob::Stop(std::function<void()> stopped) {
    if (state_ != TJobState::Running)
        return;
    if (stopped)
        whenStopped_.push_back(std::move(stopped));
    SetState(TJobState::Stopping);
    if (import_) {
        import_->RequestStop();
        std::shared_ptr<TPollerStop> stopper = stopper_;
        QTimer::singleShot(kStopGraceMs, this, [stopper] { stopper->CutIfBusy(); });
        QTimer::singleShot(kStopLimitMs, this, [stopper] { stopper->CutAll(); });
    }
    // Its timers are the worker's: the loop ends after the tick in progress, if any.
    worker_->Quit();
}

void TJob::StopNow() {
    if (!worker_)
        return;
    // A cycle cut short by the end reports nothing: the monitor is closed first.
    if (import_ && state_ == TJobState::Running)
        import_->RequestStop();
    SetState(TJobState::Stopping);
    if (stopper_) {
        stopper_->RequestStop();
        stopper_->CutIfBusy();
    }
    worker_->Quit();
    if (!worker_->wait(kStopNowWaitMs)) {
        if (stopper_)
            stopper_->CutAll();
        worker_->wait(kStopNowWaitMs);
    }
    WorkerFinished(generation_);
}

void TJob::WorkerFinished(uint64_t generation) {
    if (!worker_ || generation != generation_)
        return; // a late signal of a worker already dealt with
    worker_->wait();
    worker_->Joined();
    worker_.reset();
    stopper_.reset();
    tracker_.Stopped();
    ActivityTouched();
    SetState(TJobState::Stopped);
    std::vector<std::function<void()>> callbacks;
    callbacks.swap(whenStopped_);
    for (const std::function<void()>& callback : callbacks)
        callback();
}

} // namespace tavrin::jobs

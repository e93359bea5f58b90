#pragma once
// A job: one named import or export with its own settings, register, log prefix, state and
// last error. Its monitor lives on a worker thread of its own (poll timers, cycles, the
// export's watch); the job itself lives on its owner's thread, and so do its state changes.
#include "config/CommonTypesUnit.h"
#include "config/LogEvent.h"
#include "config/SettingsKeys.h"
#include "import/ImportCycleState.h"
#include "jobs/ActivityTracker.h"

#include <QObject>

#include <chrono>

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace tavrin {
class TKeyring;
struct TJobSection;
} // namespace tavrin
class TFolderMonitor;
class TMonitorFTP;
class TPollerStop;

namespace tavrin::jobs {

enum class TJobKind { Import, Export };
enum class TJobState { Stopped, Starting, Running, Stopping, FailedToStart };
// What the job reports beside its lines, for those who watch over it (notifications): a file
// moved or failed, or a failure of the job's own work (a cycle, a connection).
enum class TJobOutcome { FileDone, FileFailed, JobFailed };

// What defines a job: its name (its lines begin with it and " > "), its kind, its section of
// the settings file (empty: "Import" or "Export" by its kind), whether it runs when all
// enabled jobs are started and, for an import, its register file (empty:
// tavrin::RegisterFilePathFor(name) when the job starts).
struct TJobDefinition {
    TJobDefinition() = default;
    TJobDefinition(std::string name_, TJobKind kind_, std::string registerPath_ = {},
                   std::string section_ = {}, bool enabled_ = true)
        : name(std::move(name_)), kind(kind_), registerPath(std::move(registerPath_)),
          section(std::move(section_)), enabled(enabled_) {}

    std::string name;
    TJobKind kind = TJobKind::Import;
    std::string registerPath;
    std::string section;
    bool enabled = true;

    bool operator==(const TJobDefinition&) const = default;
};

// The settings section the job reads.
std::string SectionOf(const TJobDefinition& definition);
// The jobs a settings file defines (config/JobSections.h), as definitions.
TJobDefinition DefinitionOf(const TJobSection& section);

// A start refused before anything ran; Problems() names every reason.
class EJobRefused : public std::runtime_error {
public:
    EJobRefused(const std::string& job, std::vector<std::string> problems);
    const std::vector<std::string>& Problems() const { return problems_; }

private:
    std::vector<std::string> problems_;
};

class TJobWorker;
class THookRunner;
struct THookEvent;

class TJob : public QObject {
    Q_OBJECT
public:
    // `configPath` is the settings file read at each start; empty: ConfigFilePath() then.
    TJob(TJobDefinition definition, std::string configPath, TLogEvent log,
         QObject* parent = nullptr);
    // Stops as StopNow does.
    ~TJob() override;
    TJob(const TJob&) = delete;
    TJob& operator=(const TJob&) = delete;

    const TJobDefinition& Definition() const { return definition_; }
    // Whether the job runs when all enabled jobs are started; nothing else changes.
    void SetEnabled(bool enabled) { definition_.enabled = enabled; }
    const std::string& Name() const { return definition_.name; }
    std::string LogPrefix() const { return definition_.name + " > "; }
    TJobKind Kind() const { return definition_.kind; }
    TJobState State() const { return state_; }
    // Why the last start failed; empty after a good start.
    const std::string& LastError() const { return lastError_; }
    // The settings the job was last started with.
    const RConfiguration& Config() const { return config_; }
    // A running export job that watches its folder.
    bool Watching() const;
    // A running import job in the middle of a cycle or keep-alive.
    bool CycleRunning() const;

    // Whether the job's section of the settings file now holds other settings than the ones
    // it was last started with.
    bool SettingsChanged() const;

    // Reads the job's section of the settings file afresh and starts the monitor on the
    // job's worker thread. Raises EJobRefused when the settings cannot work, or what the
    // monitor's set-up raises (a register that cannot be read); the job is then
    // FailedToStart. Only from Stopped or FailedToStart.
    void Start();
    // Asynchronous: a cycle in progress may end (its connections are cut after a grace),
    // then QUIT and the register saved. `stopped` runs on the owner's thread once the job
    // is Stopped. Only from Running; otherwise nothing happens and `stopped` is not called.
    void Stop(std::function<void()> stopped = {});
    // The program ends: connections cut at once, the monitor disposed of (register saved)
    // and the worker waited for, with a bound. Any state.
    void StopNow();

    // Where Start finds the passwords a job keeps in the desktop keyring; nullptr (the
    // service): nowhere. Systemd credentials and PasswordFile are read either way.
    void SetKeyring(TKeyring* keyring) { keyring_ = keyring; }

    // Where the job's OnTransferCommand and OnFailureCommand run; nullptr: nowhere.
    void SetHookRunner(THookRunner* hooks) { hooks_ = hooks; }

    // What the job is doing and has done, for the window; changes come with ActivityChanged.
    const TJobActivity& Activity() const { return tracker_.Activity(); }

    // Where the job's error boxes go, on the main thread; unset: the program's message sink.
    std::function<void(const TJob& job, const std::string& text)> OnErrorBox;

signals:
    void StateChanged(tavrin::jobs::TJobState state);
    // Activity() changed; at most ten times a second, and at once when a transfer ends or
    // the job fails or recovers.
    void ActivityChanged();
    // A file moved or failed (`file` its name as the lines give it), or the job's own work
    // failed; `text` is the failure's line.
    void Outcome(tavrin::jobs::TJobOutcome outcome, const std::string& file,
                 const std::string& text);

private:
    std::string ConfigPath() const;
    TDirection Direction() const;
    void SetState(TJobState state);
    void BuildMonitor();
    void DestroyMonitor();
    void WorkerFinished(uint64_t generation);
    void ShowErrorBox(const std::string& text);
    // Any thread: what the monitor says, handed to the job's thread.
    void ReportProgress(const TTransferProgress& progress);
    void ReportLine(const std::string& text, TColor colour);
    void ReportCycle(bool completed);
    // A failure line or box: the job fails from now on. Lines that turn out not to be a
    // file's are one failure of the job: Outcome, and the failure hook when it starts failing.
    void NoteFailure(const std::string& text);
    // The hooks a finished file's report calls for.
    void FileHooks(const TTransferProgress& progress);
    void RunHook(const std::string& command, const THookEvent& event);
    // Emits ActivityChanged now, or when the tenth of a second since the last one is over.
    void ActivityTouched();

    TJobDefinition definition_;
    std::string configPath_;
    TLogEvent log_;
    // The log as given, for lines that are no failure of the job (a hook's own).
    TLogEvent hookLog_;
    THookRunner* hooks_ = nullptr;
    // Failure lines not yet known to be a file's (see NoteFailure).
    struct TFailureLines {
        bool open = false;
        uint64_t number = 0;
        bool startsFailing = false; // the job worked until then
        std::string firstLine;
    } failure_;
    TJobState state_ = TJobState::Stopped;
    std::string lastError_;
    TActivityTracker tracker_;
    std::chrono::steady_clock::time_point lastActivitySignal_{};
    bool activitySignalDue_ = false;
    RConfiguration config_;
    // The job's section as the file had it at the start, before passwords from elsewhere.
    RConfiguration loaded_;
    TKeyring* keyring_ = nullptr;
    std::shared_ptr<TErrorBox> errorBox_;
    std::unique_ptr<TJobWorker> worker_;
    // Which worker a queued "finished" belongs to.
    uint64_t generation_ = 0;
    // Made and destroyed on the worker thread.
    std::unique_ptr<TMonitorFTP> import_;
    std::unique_ptr<TFolderMonitor> export_;
    std::shared_ptr<TPollerStop> stopper_;
    std::vector<std::function<void()>> whenStopped_;
};

} // namespace tavrin::jobs

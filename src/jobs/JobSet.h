#pragma once
// The jobs of one program, in the order they were added (today "Import", then "Export"), and
// what the window and the service do to them: start one, stop one, restart the running ones
// after the settings changed (one after the other, in order), stop all at the end (in
// reverse order).
#include "jobs/Hooks.h"
#include "jobs/Job.h"

#include <QObject>

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tavrin::jobs {

// What a reconciliation starts besides the running jobs whose settings changed.
struct TReconcileChoice {
    // Every wanted job that is not running (the service runs each job it was given).
    bool startStopped = false;
    // Enabled jobs that are new to the set (the window, when every enabled job was running).
    bool startNew = false;
    // Running jobs restarted even though their settings read the same (the settings dialog
    // saved them, or a restart is what their command always did).
    std::function<bool(const TJob& job)> restartAnyway;
};

// Today's two jobs: "Import" with its register where it always was (LocalFileList.txt,
// found when the job starts), and "Export".
std::vector<TJobDefinition> StandardJobs();

class TJobSet : public QObject {
    Q_OBJECT
public:
    // `configPath`: the settings file every start reads (empty: ConfigFilePath() at the
    // time). `log` receives every job's lines, already prefixed.
    TJobSet(std::vector<TJobDefinition> definitions, std::string configPath, TLogEvent log,
            QObject* parent = nullptr);
    // Stops every job as StopAllNow does.
    ~TJobSet() override;

    const std::vector<std::unique_ptr<TJob>>& Jobs() const { return jobs_; }
    // By name, case ignored (job names are unique that way).
    TJob* Find(const std::string& name) const;
    // A new job at the end of the set, stopped. The caller keeps the names unique.
    TJob& Add(TJobDefinition definition);
    // Stops the job (as StopNow does) and removes it from the set; the pointer is invalid
    // after.
    void Remove(TJob& job);

    // A start's failure reaches the caller (see TJob::Start).
    void Start(TJob& job) { job.Start(); }
    void Stop(TJob& job, std::function<void()> stopped = {}) { job.Stop(std::move(stopped)); }
    // Every running job is stopped and started again, one job after the other in the set's
    // order; a job that is starting or stopping is left alone. A start that fails goes to
    // `failed` and the restart goes on; `done` runs at the end.
    void RestartRunning(std::function<void(TJob& job, std::exception_ptr failure)> failed,
                        std::function<void()> done = {});
    // Brings the set in line with `wanted` (the settings file changed): jobs not wanted any
    // more are stopped and removed; a job whose definition changed (kind, section, register;
    // Enabled is only taken over) is replaced, and started again if it ran; a running job
    // whose settings changed is stopped and started again; with `startStopped`, a wanted job
    // that is not running is started. One job after the other, in the order of `wanted`, which
    // also becomes the set's order. A start that fails goes to `failed` and the rest goes on;
    // `done` runs at the end.
    void Reconcile(std::vector<TJobDefinition> wanted, bool startStopped,
                   std::function<void(TJob& job, std::exception_ptr failure)> failed,
                   std::function<void()> done = {});
    // The same, with `choice` telling what starts: `startStopped` as above, `startNew` for the
    // enabled jobs the set did not have, and running jobs for which `restartAnyway` says so are
    // restarted even with settings that read the same.
    void Reconcile(std::vector<TJobDefinition> wanted, const TReconcileChoice& choice,
                   std::function<void(TJob& job, std::exception_ptr failure)> failed,
                   std::function<void()> done = {});
    // The program ends: every job stopped at once, the last one first; registers saved.
    void StopAllNow();
    // Where every job's hooks run, a few at a time for the whole program.
    THookRunner& Hooks() { return *hooks_; }
    // Whether a restart is under way.
    bool Restarting() const { return restarting_ > 0; }

signals:
    // A job joined the set (before anything can start it).
    void JobAdded(tavrin::jobs::TJob* job);
    // Any job's state changed (on the set's thread).
    void JobStateChanged(tavrin::jobs::TJob* job, tavrin::jobs::TJobState state);
    // A job's Activity() changed (on the set's thread).
    void JobActivityChanged(tavrin::jobs::TJob* job);
    // A job's Outcome (on the set's thread).
    void JobOutcome(tavrin::jobs::TJob* job, tavrin::jobs::TJobOutcome outcome,
                    const std::string& file, const std::string& text);

private:
    struct TPendingStart {
        TJob* job;
        bool restart; // stop first
    };
    void StartFrom(std::shared_ptr<std::vector<TPendingStart>> pending,
                   std::function<void(TJob&, std::exception_ptr)> failed,
                   std::function<void()> done);
    void RestartFrom(std::shared_ptr<std::vector<TJob*>> pending,
                     std::function<void(TJob&, std::exception_ptr)> failed,
                     std::function<void()> done);

    std::string configPath_;
    TLogEvent log_;
    // Outlives the jobs, whose hooks it may still be running.
    std::unique_ptr<THookRunner> hooks_;
    std::vector<std::unique_ptr<TJob>> jobs_;
    int restarting_ = 0;
};

} // namespace tavrin::jobs

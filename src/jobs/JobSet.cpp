#include "jobs/JobSet.h"

#include "base/StrUtils.h"

#include <QPointer>

namespace tavrin::jobs {

std::vector<TJobDefinition> StandardJobs() {
    return {{"Import", TJobKind::Import, {}}, {"Export", TJobKind::Export, {}}};
}

TJobSet::TJobSet(std::vector<TJobDefinition> definitions, std::string configPath, TLogEvent log,
                 QObject* parent)
    : QObject(parent), configPath_(std::move(configPath)), log_(std::move(log)),
      hooks_(std::make_unique<THookRunner>()) {
    for (TJobDefinition& definition : definitions)
        Add(std::move(definition));
}

TJob& TJobSet::Add(TJobDefinition definition) {
    auto job = std::make_unique<TJob>(std::move(definition), configPath_, log_);
    TJob* raw = job.get();
    raw->SetHookRunner(hooks_.get());
    connect(raw, &TJob::StateChanged, this,
            [this, raw](TJobState state) { emit JobStateChanged(raw, state); });
    connect(raw, &TJob::ActivityChanged, this, [this, raw] { emit JobActivityChanged(raw); });
    connect(raw, &TJob::Outcome, this,
            [this, raw](TJobOutcome outcome, const std::string& file, const std::string& text) {
                emit JobOutcome(raw, outcome, file, text);
            });
    jobs_.push_back(std::move(job));
    emit JobAdded(raw);
    return *raw;
}

void TJobSet::Remove(TJob& job) {
    for (auto it = jobs_.begin(); it != jobs_.end(); ++it) {
        if (it->get() != &job)
            continue;
        std::unique_ptr<TJob> gone = std::move(*it);
        jobs_.erase(it);
        gone->StopNow();
        return;
    }
}

TJobSet::~TJobSet() {
    StopAllNow();
}

TJob* TJobSet::Find(const std::string& name) const {
    for (const std::unique_ptr<TJob>& job : jobs_)
        if (SameTextAscii(job->Name(), name))
            return job.get();
    return nullptr;
}

void TJobSet::RestartRunning(std::function<void(TJob&, std::exception_ptr)> failed,
                             std::function<void()> done) {
    auto pending = std::make_shared<std::vector<TJob*>>();
    for (const std::unique_ptr<TJob>& job : jobs_)
        if (job->State() == TJobState::Running)
            pending->push_back(job.get());
    ++restarting_;
    RestartFrom(std::move(pending), std::move(failed), std::move(done));
}

void TJobSet::RestartFrom(std::shared_ptr<std::vector<TJob*>> pending,
                          std::function<void(TJob&, std::exception_ptr)> failed,
                          std::function<void()> done) {
    // Skips what another command stopped meanwhile.
    while (!pending->empty() && pending->front()->State() != TJobState::Running)
        pending->erase(pending->begin());
    if (pending->empty()) {
        --restarting_;
        if (done)
            done();
        return;
    }
    TJob* job = pending->front();
    pending->erase(pending->begin());
    QPointer<TJobSet> self(this);
    job->Stop([self, job, pending, failed, done] {
        if (!self)
            return;
        try {
            job->Start();
        } catch (...) {
            if (failed)
                failed(*job, std::current_exception());
        }
        self->RestartFrom(pending, failed, done);
    });
}

void TJobSet::Reconcile(std::vector<TJobDefinition> wanted, bool startStopped,
                        std::function<void(TJob&, std::exception_ptr)> failed,
                        std::function<void()> done) {
    Reconcile(std::move(wanted), TReconcileChoice{startStopped, startStopped, {}},
              std::move(failed), std::move(done));
}

void TJobSet::Reconcile(std::vector<TJobDefinition> wanted, const TReconcileChoice& choice,
                        std::function<void(TJob&, std::exception_ptr)> failed,
                        std::function<void()> done) {
    auto isWanted = [&wanted](const TJob& job) {
        for (const TJobDefinition& definition : wanted)
            if (SameTextAscii(definition.name, job.Name()))
                return true;
        return false;
    };
    // The last one first, as at the program's end.
    for (size_t i = jobs_.size(); i-- > 0;)
        if (!isWanted(*jobs_[i]))
            Remove(*jobs_[i]);

    auto pending = std::make_shared<std::vector<TPendingStart>>();
    std::vector<std::unique_ptr<TJob>> ordered;
    for (TJobDefinition& definition : wanted) {
        TJob* job = Find(definition.name);
        bool wasRunning = false;
        bool replaced = false;
        if (job)
            job->SetEnabled(definition.enabled);
        if (job && job->Definition() != definition) {
            replaced = true;
            wasRunning = job->State() == TJobState::Running;
            Remove(*job);
            job = nullptr;
        }
        if (!job) {
            const bool isNew = !replaced;
            job = &Add(std::move(definition));
            if (wasRunning || choice.startStopped ||
                (isNew && choice.startNew && job->Definition().enabled))
                pending->push_back({job, false});
        } else if (job->State() == TJobState::Running) {
            if (job->SettingsChanged() || (choice.restartAnyway && choice.restartAnyway(*job)))
                pending->push_back({job, true});
        } else if (choice.startStopped && (job->State() == TJobState::Stopped ||
                                           job->State() == TJobState::FailedToStart)) {
            pending->push_back({job, false});
        }
        for (auto it = jobs_.begin(); it != jobs_.end(); ++it)
            if (it->get() == job) {
                ordered.push_back(std::move(*it));
                jobs_.erase(it);
                break;
            }
    }
    jobs_ = std::move(ordered);
    ++restarting_;
    StartFrom(std::move(pending), std::move(failed), std::move(done));
}

void TJobSet::StartFrom(std::shared_ptr<std::vector<TPendingStart>> pending,
                        std::function<void(TJob&, std::exception_ptr)> failed,
                        std::function<void()> done) {
    QPointer<TJobSet> self(this);
    while (!pending->empty()) {
        const TPendingStart next = pending->front();
        pending->erase(pending->begin());
        auto start = [next, failed] {
            try {
                next.job->Start();
            } catch (...) {
                if (failed)
                    failed(*next.job, std::current_exception());
            }
        };
        if (next.restart && next.job->State() == TJobState::Running) {
            next.job->Stop([self, start, pending, failed, done] {
                if (!self)
                    return;
                start();
                self->StartFrom(pending, failed, done);
            });
            return;
        }
        start();
        if (!self)
            return;
    }
    --restarting_;
    if (done)
        done();
}

void TJobSet::StopAllNow() {
    for (auto it = jobs_.rbegin(); it != jobs_.rend(); ++it)
        (*it)->StopNow();
}

} // namespace tavrin::jobs

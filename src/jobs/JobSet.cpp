#include "jobs/JobSet.h"

#include "base/StrUtils.h"

#include <QPointer>

namespace tavrin::jobs {

std::vector<TJobDefinition> StandardJobs() {
    return {{"Import", TJobKind::Import, {}}, {"Export", TJobKind::Export, {}}};
}

TJobSet::TJobSet(std::vector<TJobDefinition> definitions, std::string configPath, TLogEvent log,
                 QObject* parent)
    : QObject(parent), configPath_(std::move(configPath)), log_(std::move(log)) {
    for (TJobDefinition& definition : definitions)
        Add(std::move(definition));
}

TJob& TJobSet::Add(TJobDefinition definition) {
    auto job = std::make_unique<TJob>(std::move(definition), configPath_, log_);
    TJob* raw = job.get();
    connect(raw, &TJob::StateChanged, this,
            [this, raw](TJobState state) { emit JobStateChanged(raw, state); });
    connect(raw, &TJob::ActivityChanged, this, [this, raw] { emit JobActivityChanged(raw); });
    jobs_.push_back(std::move(job));
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

void TJobSet::StopAllNow() {
    for (auto it = jobs_.rbegin(); it != jobs_.rend(); ++it)
        (*it)->StopNow();
}

} // namespace tavrin::jobs

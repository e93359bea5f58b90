// The window's job table: which jobs it lists, its commands, and the jobs' error boxes.
#include "app/MainForm.h"

#include "base/StrUtils.h"
#include "config/ConfigPaths.h"
#include "config/JobSections.h"
#include "config/SettingsFile.h"
#include "config/StartChecks.h"
#include "config/dialog/MessageBoxes.h"

#include <QPointer>

#include <algorithm>

using tavrin::jobs::TJob;
using tavrin::jobs::TJobState;

namespace {

bool Stopped(const TJob& job) {
    return job.State() == TJobState::Stopped || job.State() == TJobState::FailedToStart;
}

// "Import" and "Export" stay in the set whatever the file says: the tool buttons and menu
// items act on them.
bool StandardJob(const TJob& job) {
    return job.Name() == "Import" || job.Name() == "Export";
}

} // namespace

void TfmMainForm::BindJobTable() {
    auto bind = [this](auto signal, void (TfmMainForm::*handler)()) {
        connect(JobTable, signal, this, [this, handler] {
            tavrin::RunGuarded(this, [this, handler] { (this->*handler)(); });
        });
    };
    bind(&tavrin::app::TJobTablePanel::StartRequested, &TfmMainForm::StartSelectedJobs);
    bind(&tavrin::app::TJobTablePanel::StopRequested, &TfmMainForm::StopSelectedJobs);
    bind(&tavrin::app::TJobTablePanel::StartAllRequested, &TfmMainForm::StartAllJobs);
    bind(&tavrin::app::TJobTablePanel::StopAllRequested, &TfmMainForm::StopAllJobs);
    bind(&tavrin::app::TJobTablePanel::AddRequested, &TfmMainForm::AddJobClick);
    connect(JobTable, &tavrin::app::TJobTablePanel::EditRequested, this,
            [this](TJob* job) { tavrin::RunGuarded(this, [this, job] { EditJobClick(job); }); });
}

// A job's failures that need the user's eyes go to its own box, not to a modal one.
void TfmMainForm::WatchJob(TJob& job) {
    // Jobs that keep their passwords in the desktop keyring find them there.
    job.SetKeyring(keyring_.get());
    QPointer<TJobErrorBoxes> boxes(JobBoxes);
    job.OnErrorBox = [boxes](const TJob& from, const std::string& text) {
        if (boxes)
            boxes->Show(from.Name(), text);
    };
}

// A job's box opens while the job counts as failing (the failure that opened it made it so),
// so a report that it no longer fails means it has worked since: a file moved, or a fresh
// start. Reports come at most ten a second, so a failure and the success right after it may
// arrive as one: the state at the report is what counts, not seeing it change.
void TfmMainForm::JobActivityChanged(const TJob& job) {
    if (!job.Activity().failing)
        JobBoxes->Succeeded(job.Name());
}

void TfmMainForm::ReloadJobs() {
    const std::string path = tavrin::ConfigFilePath();
    std::vector<std::string> skipped;
    const std::vector<tavrin::TJobSection> sections = tavrin::ReadJobSections(path, skipped);
    for (const std::string& line : skipped)
        AddLogLine(nullptr, line, clRed);

    auto inFile = [&](const TJob& job) {
        return std::any_of(sections.begin(), sections.end(), [&](const tavrin::TJobSection& s) {
            return tavrin::SameTextAscii(s.name, job.Name()) &&
                   s.section == tavrin::jobs::SectionOf(job.Definition());
        });
    };
    // The table lets go of jobs before they leave the set.
    JobRows->SetJobs({});
    std::vector<TJob*> gone;
    for (const std::unique_ptr<TJob>& job : jobs_->Jobs())
        if (!StandardJob(*job) && !inFile(*job))
            gone.push_back(job.get());
    for (TJob* job : gone) {
        JobBoxes->Succeeded(job->Name());
        jobs_->Remove(*job);
    }

    std::vector<tavrin::app::TJobTableModel::TListedJob> listed;
    std::vector<std::string> names;
    for (const tavrin::TJobSection& section : sections) {
        TJob* job = jobs_->Find(section.name);
        if (job == nullptr) {
            job = &jobs_->Add(tavrin::jobs::DefinitionOf(section));
            WatchJob(*job);
        }
        const RConfiguration config = tavrin::LoadRecord(section.direction, section.section, path);
        listed.push_back({job, tavrin::app::ServerText(config)});
        names.push_back(section.name);
    }
    JobRows->SetJobs(std::move(listed));
    LogFilter->SetJobs(names);
}

void TfmMainForm::StartJobs(const std::vector<TJob*>& jobs) {
    std::vector<std::string> refusals;
    for (TJob* job : jobs)
        if (Stopped(*job))
            StartJob(*job, &refusals);
    // One box for all that could not start, rather than one click per job.
    if (!refusals.empty())
        tavrin::ShowErrorBox(this, tavrin::JoinedProblems(refusals, "\n\n"));
}

void TfmMainForm::StartSelectedJobs() {
    StartJobs(JobTable->SelectedJobs());
}

void TfmMainForm::StopSelectedJobs() {
    for (TJob* job : JobTable->SelectedJobs())
        jobs_->Stop(*job);
}

// Every listed job that is enabled; a disabled one starts only when chosen by itself.
void TfmMainForm::StartAllJobs() {
    std::vector<TJob*> jobs;
    for (int row = 0; row < JobRows->rowCount(); ++row)
        if (JobRows->JobAt(row)->Definition().enabled)
            jobs.push_back(JobRows->JobAt(row));
    StartJobs(jobs);
}

// Also "Import" and "Export" when the tool buttons started them without a section.
void TfmMainForm::StopAllJobs() {
    for (const std::unique_ptr<TJob>& job : jobs_->Jobs())
        jobs_->Stop(*job);
}

void TfmMainForm::AddJobClick() {
    Settings1Click();
}

void TfmMainForm::EditJobClick(TJob* /*job*/) {
    Settings1Click();
}

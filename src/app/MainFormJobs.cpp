// The window's job table: which jobs it lists, its commands, and the jobs' error boxes.
#include "app/MainForm.h"

#include "base/StrUtils.h"
#include "config/ConfigPaths.h"
#include "config/JobSections.h"
#include "config/SettingsFile.h"
#include "config/StartChecks.h"
#include "config/dialog/MessageBoxes.h"
#include "config/dialog/SettingsForm.h"

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
    // Jobs that join later are watched before anything can start them.
    connect(jobs_.get(), &tavrin::jobs::TJobSet::JobAdded, this,
            [this](TJob* job) { WatchJob(*job); });
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
        if (job == nullptr)
            job = &jobs_->Add(tavrin::jobs::DefinitionOf(section)); // watched once added
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

void TfmMainForm::EditJobClick(TJob* job) {
    OpenSettings(job ? job->Name() : std::string());
}

void TfmMainForm::OpenSettings(const std::string& job) {
    int result = QDialog::Rejected;
    std::string saveNote;
    std::vector<std::string> changed;
    {
        // The jobs' error boxes wait behind the dialog rather than cover it.
        JobBoxes->SetDialogOpen(true);
        struct TBoxesBack {
            TJobErrorBoxes* boxes;
            ~TBoxesBack() { boxes->SetDialogOpen(false); }
        } boxesBack{JobBoxes};
        TfrmSettings dialog(this, keyring_.get());
        if (!job.empty())
            dialog.SelectJob(job);
        result = dialog.exec();
        saveNote = dialog.SaveNote();
        changed = dialog.ChangedJobs();
    }
    if (result != QDialog::Accepted)
        return;
    if (!saveNote.empty())
        AddLogLine(this, saveNote, clRed);
    ApplyLogKeeping(tavrin::LoadLogKeeping());
    ApplySavedJobs(changed);
}

// Whether the user runs "all": at least one listed job is enabled, and every enabled one runs.
bool TfmMainForm::EveryEnabledJobRuns() const {
    bool any = false;
    for (int row = 0; row < JobRows->rowCount(); ++row) {
        const TJob* job = JobRows->JobAt(row);
        if (!job->Definition().enabled)
            continue;
        if (job->State() != TJobState::Running && job->State() != TJobState::Starting)
            return false;
        any = true;
    }
    return any;
}

// New settings reach a running job only through a restart, so only the jobs whose settings
// changed are restarted; the others keep their connections and transfers. "Import" and
// "Export" restart whenever they run, as they always have, import first. Jobs gone from the
// file stop and leave; a new enabled job starts when every enabled job was running. A job
// that is being started or stopped by another command is left to that command.
void TfmMainForm::ApplySavedJobs(const std::vector<std::string>& changed) {
    const bool allRan = EveryEnabledJobRuns();
    std::vector<std::string> skipped; // ReloadJobs names them
    const std::vector<tavrin::TJobSection> sections =
        tavrin::ReadJobSections(tavrin::ConfigFilePath(), skipped);
    std::vector<tavrin::jobs::TJobDefinition> wanted;
    for (const char* name : {"Import", "Export"}) {
        tavrin::jobs::TJobDefinition standard = jobs_->Find(name)->Definition();
        for (const tavrin::TJobSection& section : sections)
            if (section.section == name)
                standard.enabled = section.enabled;
        wanted.push_back(std::move(standard));
    }
    for (const tavrin::TJobSection& section : sections)
        if (section.section != "Import" && section.section != "Export")
            wanted.push_back(tavrin::jobs::DefinitionOf(section));

    // The table lets go of jobs before they can leave the set.
    JobRows->SetJobs({});
    for (const std::unique_ptr<TJob>& job : jobs_->Jobs()) {
        const bool stays = std::any_of(wanted.begin(), wanted.end(), [&](const auto& definition) {
            return tavrin::SameTextAscii(definition.name, job->Name());
        });
        if (!stays)
            JobBoxes->Succeeded(job->Name());
    }
    tavrin::jobs::TReconcileChoice choice;
    choice.startNew = allRan;
    choice.restartAnyway = [changed](const TJob& job) {
        return StandardJob(job) ||
               std::any_of(changed.begin(), changed.end(), [&](const std::string& name) {
                   return tavrin::SameTextAscii(name, job.Name());
               });
    };
    QPointer<TfmMainForm> window(this);
    jobs_->Reconcile(std::move(wanted), choice, [window](TJob& job, std::exception_ptr failure) {
        if (!window)
            return;
        try {
            std::rethrow_exception(failure);
        } catch (const tavrin::jobs::EJobRefused& refused) {
            tavrin::ShowErrorBox(window.data(),
                                 job.Name() + " monitor not started:\n" +
                                     tavrin::JoinedProblems(refused.Problems(), "\n"));
        } catch (const std::exception& other) {
            tavrin::ShowErrorBox(window.data(), other.what());
        }
    });
    ReloadJobs();
}

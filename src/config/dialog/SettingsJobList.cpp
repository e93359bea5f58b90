// The job list's actions of the settings dialog: add, duplicate, rename and remove. They
// change the list and the pages only; Save writes the outcome.
#include "config/dialog/JobNames.h"
#include "config/dialog/JobPage.h"
#include "config/dialog/MessageBoxes.h"
#include "config/dialog/SettingsForm.h"
#include "config/dialog/SettingsPageParts.h"

#include <QLayout>
#include <QPushButton>
#include <QTreeWidget>

#include <algorithm>

using tavrin::TDirection;
using tavrin::TJobPage;

TJobPage* TfrmSettings::Job(const std::string& name) const {
    for (TJobPage* job : jobs_)
        if (tavrin::SameJobName(job->Name(), name))
            return job;
    return nullptr;
}

std::vector<std::string> TfrmSettings::JobNames() const {
    std::vector<std::string> names;
    for (const TJobPage* job : jobs_)
        names.push_back(job->Name());
    return names;
}

bool TfrmSettings::SelectJob(const std::string& name) {
    if (!frGeneral_)
        FormShow();
    TJobPage* job = Job(name);
    if (!job)
        return false;
    treeOptions->setCurrentItem(NodeOf(job));
    return true;
}

std::string TfrmSettings::NameProblem(const std::string& name, const TJobPage* except) const {
    std::vector<std::string> taken;
    for (const TJobPage* job : jobs_)
        if (job != except)
            taken.push_back(job->Name());
    // A job removed in this session keeps its name until Save has taken it out of the file.
    for (const auto& [section, removedName] : removed_)
        taken.push_back(removedName);
    return tavrin::NewJobNameProblem(name, taken);
}

std::string TfrmSettings::AddJob(TDirection direction, const std::string& name) {
    if (std::string problem = NameProblem(name, nullptr); !problem.empty())
        return problem;
    // A new job starts from the same defaults a missing section gives.
    RConfiguration defaults;
    for (const tavrin::TSettingKey& key : tavrin::SettingKeys())
        if (tavrin::IsUsedBy(key, direction))
            tavrin::SetFromStored(defaults, key, key.Default);
    // A section without the key still logs in once per file, as it always did; a job made
    // now stays logged in between files, which a burst of small files needs.
    if (direction == TDirection::Export)
        defaults.KeepConnection = true;
    TJobPage* job =
        AddJobPage(new TJobPage(name, direction, {}, defaults, true, pnlSettings, keyring_));
    treeOptions->setCurrentItem(NodeOf(job));
    return {};
}

std::string TfrmSettings::DuplicateJob(const std::string& source, const std::string& name) {
    const TJobPage* original = Job(source);
    if (!original)
        return "There is no job named \"" + source + "\".";
    if (std::string problem = NameProblem(name, nullptr); !problem.empty())
        return problem;
    // The copy takes what the page shows now, typed but unsaved values too.
    TJobPage* job = AddJobPage(new TJobPage(name, original->Direction(), {}, original->Record(),
                                            original->IsEnabled(), pnlSettings, keyring_));
    treeOptions->setCurrentItem(NodeOf(job));
    return {};
}

std::string TfrmSettings::RenameJob(const std::string& from, const std::string& to) {
    TJobPage* job = Job(from);
    if (!job)
        return "There is no job named \"" + from + "\".";
    if (job->IsStandard())
        return "The job \"" + job->Name() + "\" keeps its name.";
    if (std::string problem = NameProblem(to, job); !problem.empty())
        return problem;
    job->SetName(to);
    NodeOf(job)->setText(0, tavrin::ToQString(to));
    treeOptions->setCurrentItem(NodeOf(job));
    return {};
}

bool TfrmSettings::RemoveJob(const std::string& name) {
    TJobPage* job = Job(name);
    if (!job || job->IsStandard())
        return false;
    if (!tavrin::AskWarning(this, "Remove the job \"" + job->Name() +
                                      "\"?\r\nIts settings are deleted when you save."))
        return false;
    if (!job->SavedSection().empty()) {
        const std::string& section = job->SavedSection();
        removed_.emplace_back(section, section.substr(section.find(':') + 1));
    }
    QTreeWidgetItem* node = NodeOf(job);
    const int at = treeOptions->indexOfTopLevelItem(node);
    jobs_.erase(std::find(jobs_.begin(), jobs_.end(), job));
    if (displayedPage_ == job) {
        pnlSettings->layout()->removeWidget(job);
        displayedPage_ = nullptr;
    }
    delete node;
    job->deleteLater();
    // The job above it (or General) takes its place on display.
    treeOptions->setCurrentItem(treeOptions->topLevelItem(std::max(0, at - 1)));
    return true;
}

void TfrmSettings::UpdateJobButtons() {
    const TJobPage* job = qobject_cast<TJobPage*>(
        treeOptions->currentItem()
            ? treeOptions->currentItem()->data(0, Qt::UserRole).value<QWidget*>()
            : nullptr);
    btnDuplicate->setEnabled(job != nullptr);
    btnRename->setEnabled(job && !job->IsStandard());
    btnRemove->setEnabled(job && !job->IsStandard());
}

namespace {

// Asks for a name until it is one the list takes, or the user cancels.
template <typename Action>
void AskName(QWidget* owner, const std::string& label, std::string initial, Action&& apply) {
    for (;;) {
        std::optional<std::string> name = tavrin::AskText(owner, label, initial);
        if (!name)
            return;
        const std::string problem = apply(*name);
        if (problem.empty())
            return;
        tavrin::ShowErrorBox(owner, problem);
        initial = *name;
    }
}

} // namespace

void TfrmSettings::btnAddImportClick() {
    AskName(this, "Name of the new import job:", {},
            [this](const std::string& name) { return AddJob(TDirection::Import, name); });
}

void TfrmSettings::btnAddExportClick() {
    AskName(this, "Name of the new export job:", {},
            [this](const std::string& name) { return AddJob(TDirection::Export, name); });
}

void TfrmSettings::btnDuplicateClick() {
    if (const TJobPage* job = DisplayedJob())
        AskName(this, "Name of the copy of \"" + job->Name() + "\":", job->Name() + " copy",
                [this, source = job->Name()](const std::string& name) {
                    return DuplicateJob(source, name);
                });
}

void TfrmSettings::btnRenameClick() {
    if (const TJobPage* job = DisplayedJob(); job && !job->IsStandard())
        AskName(
            this, "New name of \"" + job->Name() + "\":", job->Name(),
            [this, from = job->Name()](const std::string& name) { return RenameJob(from, name); });
}

void TfrmSettings::btnRemoveClick() {
    if (const TJobPage* job = DisplayedJob())
        RemoveJob(job->Name());
}

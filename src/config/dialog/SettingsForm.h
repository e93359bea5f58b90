#pragma once
// The modal settings dialog: the transfer jobs and the General page listed at the left, the
// page in use at the right, the job buttons and Save and Cancel below. Each job's page is the
// Import or Export page; "Import" and "Export" are today's two jobs, further jobs have
// sections of their own. Save checks and then writes every page that was changed. Every job's
// page has "Keep passwords in the keyring"; a job keeps its passwords in the keyring under its
// own name ("Import/password", "NAME/password").
#include "config/SettingsKeys.h"
#include "secrets/Keyring.h"

#include <QDialog>

#include <memory>
#include <string>
#include <utility>
#include <vector>

class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class TfrGeneral;

namespace tavrin {
class TJobPage;
}

class TfrmSettings : public QDialog {
    Q_OBJECT
public:
    // The pages keep passwords in `keyring`; nullptr: the desktop's keyring.
    explicit TfrmSettings(QWidget* parent = nullptr, tavrin::TKeyring* keyring = nullptr);
    ~TfrmSettings() override;

    // Builds the list and lets each page load; the General page is shown first.
    void FormShow();
    void treeOptionsFocusedNodeChanged(QTreeWidgetItem* focused, QTreeWidgetItem* previous);
    // Checks every changed job; the first with a problem is shown with its fields marked and
    // nothing is written. Otherwise writes every changed page, says which jobs it saved and
    // closes with OK (also when a write failed: the failure has been shown by then, and the
    // caller still restarts the jobs written before it).
    void btnSaveClick();

    // The page on display: the General page, or the Import or Export page of a job.
    QWidget* DisplayedPage() const;
    tavrin::TJobPage* DisplayedJob() const;

    // Puts the named job (any case) on display; false when there is none. Builds the pages
    // first when the dialog has not been shown yet.
    bool SelectJob(const std::string& name);
    tavrin::TJobPage* Job(const std::string& name) const;
    std::vector<std::string> JobNames() const;

    // The job list's actions. Each returns why it did nothing, or "" when done; the new or
    // renamed job is put on display. Nothing reaches the file before Save.
    std::string AddJob(tavrin::TDirection direction, const std::string& name);
    std::string DuplicateJob(const std::string& source, const std::string& name);
    std::string RenameJob(const std::string& from, const std::string& to);
    // Asks first; true when the job was taken off the list.
    bool RemoveJob(const std::string& name);

    void btnAddImportClick();
    void btnAddExportClick();
    void btnDuplicateClick();
    void btnRenameClick();
    void btnRemoveClick();

    // After Save: the jobs written (present names) and the jobs that are gone (removed, or
    // the old name of a renamed one), so the caller restarts or stops only those.
    const std::vector<std::string>& ChangedJobs() const { return changedJobs_; }
    const std::vector<std::string>& RemovedJobs() const { return removedJobs_; }

    // Lines for the log from the last save, one per job whose passwords did not go where its
    // page's keyring box said. Empty otherwise.
    const std::string& SaveNote() const { return saveNote_; }

    QTreeWidget* treeOptions;
    QWidget* pnlSettings;
    QPushButton* btnAddImport;
    QPushButton* btnAddExport;
    QPushButton* btnDuplicate;
    QPushButton* btnRename;
    QPushButton* btnRemove;
    QPushButton* btnSave;
    QPushButton* btnCancel;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QTreeWidgetItem* AddNode(const QString& text, int image, QWidget* page);
    QTreeWidgetItem* NodeOf(const QWidget* page) const;
    tavrin::TJobPage* AddJobPage(tavrin::TJobPage* page);
    void FitPageArea(const QWidget* page);
    void UpdateJobButtons();
    std::string NameProblem(const std::string& name, const tavrin::TJobPage* except) const;
    void ReconcileSharedBoxes();
    bool CheckChangedJobs();
    void WriteChangedPages();
    std::vector<std::string> GeneralTexts() const;

    TfrGeneral* frGeneral_ = nullptr;
    QTreeWidgetItem* generalNode_ = nullptr;
    std::vector<tavrin::TJobPage*> jobs_;
    std::vector<std::string> generalTexts_;
    // Removed jobs (section, name), taken out of the file at Save.
    std::vector<std::pair<std::string, std::string>> removed_;
    std::vector<std::string> removedNow_;
    std::vector<std::string> changedJobs_;
    std::vector<std::string> removedJobs_;
    QWidget* displayedPage_ = nullptr;
    std::unique_ptr<tavrin::TKeyring> ownKeyring_;
    tavrin::TKeyring* keyring_;
    std::string saveNote_;
};

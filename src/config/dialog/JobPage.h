#pragma once
// One transfer job in the settings dialog: today's Import or Export page for its settings,
// "Keep passwords in the keyring" included, with "Test connection" and the problems found
// before saving beneath it. On an import job's page the test's listing also previews which
// files the job would take under the filter fields as they stand. Every job keeps its keyring
// secrets under its own name. The page knows the section it was read from, so the dialog can tell a
// new, renamed or changed job from one that is as the file has it.
#include "config/CommonTypesUnit.h"
#include "config/SettingsKeys.h"
#include "config/dialog/JobFieldChecks.h"
#include "remote/RemoteSession.h"
#include "secrets/Keyring.h"

#include <QFrame>

#include <string>
#include <thread>
#include <vector>

class QCheckBox;
class QLabel;
class QPushButton;
class QTreeWidget;

namespace tavrin {

class TJobPage : public QFrame {
    Q_OBJECT
public:
    // `section` is where the record came from; empty for a job not in the file yet. The page
    // keeps passwords in `keyring`, which may be nullptr (no keyring answers).
    TJobPage(const std::string& name, TDirection direction, const std::string& section,
             const RConfiguration& record, bool enabled, QWidget* parent = nullptr,
             TKeyring* keyring = nullptr);
    // The "Import" and "Export" jobs, loaded by their pages as they always were.
    TJobPage(TDirection direction, QWidget* parent = nullptr, TKeyring* keyring = nullptr);
    ~TJobPage() override;

    const std::string& Name() const { return name_; }
    void SetName(const std::string& name) { name_ = name; }
    TDirection Direction() const { return direction_; }
    // The "Import" and "Export" jobs keep today's sections and cannot be renamed or removed.
    bool IsStandard() const { return standard_; }
    const std::string& SavedSection() const { return section_; }
    // The section the job belongs in under its present name.
    std::string Section() const;

    // TfrImport or TfrExport.
    QWidget* Form() const { return form_; }
    // The page's values as a record: the controls over what was loaded.
    RConfiguration Record() const;

    // New, renamed, or a control differs from what was loaded or last saved.
    bool IsChanged() const;
    // Whether the control of that object name differs from what was loaded or last saved.
    bool IsChanged(const char* control) const;
    // Writes the job to its section (the caller has removed or renamed the old one).
    void Save(const std::string& path);
    // What the last Save has to tell the log about where the passwords went, or "".
    const std::string& SaveNote() const { return saveNote_; }
    void MarkSaved();

    std::vector<TFieldProblem> Check(QWidget* owner) const;
    // Marks each field with a problem and lists the problems under the page; none clears.
    void ShowProblems(const std::vector<TFieldProblem>& problems);

    void btnTestConnectionClick();
    bool IsTesting() const { return testing_; }

    bool IsEnabled() const;

    // "Run this job": whether the service starts it (named jobs only; null for the two
    // standard ones, which the window's own buttons start).
    QCheckBox* chkJobEnabled = nullptr;
    QPushButton* btnTestConnection;
    QLabel* lbTestResult;
    // Import jobs: each entry of the last tested listing, "taken" or "left out" and why;
    // hidden while there is no listing. Null on export pages.
    QTreeWidget* lstPreview = nullptr;
    QLabel* lbProblems;

private:
    void Build(TKeyring* keyring);
    std::vector<std::string> ControlTexts() const;
    void ShowTestOutcome(bool succeeded, const QString& text,
                         std::vector<remote::TRemoteEntry> entries);
    void BuildPreview();
    void RefreshPreview();

    std::string name_;
    TDirection direction_;
    std::string section_;
    bool standard_;
    QWidget* form_ = nullptr;
    RConfiguration loaded_;
    bool savedEnabled_ = true;
    std::vector<std::string> savedTexts_;
    std::vector<QWidget*> markedFields_;
    std::string saveNote_;
    // The last successful test's listing, by name.
    std::vector<remote::TRemoteEntry> listed_;
    std::thread tester_;
    bool testing_ = false;
};

} // namespace tavrin

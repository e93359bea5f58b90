#include "JobDialogSupport.h"

#include <QCheckBox>

using tavrin::TDirection;
using tavrin::TMessageKind;

namespace {

using JobListTest = JobDialogTest;

TEST_F(JobListTest, JobNamesAreCheckedOnAddAndRename) {
    const std::string longest(64, 'n');
    const struct {
        std::string name;
        bool accepted;
    } rows[] = {
        {"Scanner 2.in_x-y", true}, {longest, true},        {"Z", true},       {"", false},
        {longest + "n", false},     {"a/b", false},         {"a:b", false},    {" lead", false},
        {"trail ", false},          {"Caf\xc3\xa9", false}, {"import", false}, {"EXPORT", false},
    };
    Open();
    ASSERT_TRUE(dialog_->AddJob(TDirection::Export, "Taken").empty());
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(dialog_->RenameJob("Taken", row.name).empty(), row.accepted);
        if (row.accepted) {
            ASSERT_TRUE(dialog_->RenameJob(row.name, "Taken").empty());
        }
        EXPECT_EQ(dialog_->AddJob(TDirection::Import, row.name).empty(), row.accepted);
        if (row.accepted) {
            EXPECT_EQ(dialog_->JobNames().back(), row.name);
        }
    }
    // Names are unique whatever the case, and "Import" and "Export" keep theirs.
    EXPECT_FALSE(dialog_->AddJob(TDirection::Import, "taken").empty());
    EXPECT_FALSE(dialog_->RenameJob("Import", "Other").empty());
    EXPECT_TRUE(dialog_->RenameJob("Taken", "TAKEN").empty());
}

TEST_F(JobListTest, AddDuplicateRenameRemoveChangeTheListOnly) {
    WriteFile(configPath_, GoodFile());
    Open();
    // The buttons ask for the name again until it is one the list takes.
    recorder_.QueueChosenPath("bad/name");
    recorder_.QueueChosenPath("Scans");
    QTest::mouseClick(dialog_->btnAddImport, Qt::LeftButton);
    EXPECT_EQ(recorder_.Texts(TMessageKind::mkTextInput).size(), 2u);
    EXPECT_EQ(recorder_.Texts(TMessageKind::mkError).size(), 1u);
    EXPECT_EQ(NodeTexts(),
              (std::vector<std::string>{"1. Import", "2. Export", "Scans", "3. General"}));
    ASSERT_EQ(dialog_->DisplayedJob(), Job("Scans"));
    EXPECT_EQ(ImportForm("Scans")->edtPort->text(), "21"); // a new job starts from defaults
    EXPECT_TRUE(ImportForm("Scans")->chkKeepAlive->isChecked());

    // A copy takes what the page shows, also what is not saved yet.
    ImportForm("Scans")->edtHost->setText("typed.example");
    recorder_.QueueChosenPath(std::nullopt); // Duplicate cancelled: nothing happens
    QTest::mouseClick(dialog_->btnDuplicate, Qt::LeftButton);
    recorder_.QueueChosenPath("Scans 2");
    QTest::mouseClick(dialog_->btnDuplicate, Qt::LeftButton);
    ASSERT_NE(ImportForm("Scans 2"), nullptr);
    EXPECT_EQ(ImportForm("Scans 2")->edtHost->text(), "typed.example");
    EXPECT_EQ(recorder_.Texts(TMessageKind::mkTextInput).back(), "Name of the copy of \"Scans\":");

    EXPECT_TRUE(dialog_->RenameJob("scans 2", "Backup").empty());
    EXPECT_TRUE(dialog_->SelectJob("SCANS"));
    EXPECT_FALSE(dialog_->SelectJob("nothing"));
    EXPECT_TRUE(dialog_->btnRemove->isEnabled());
    EXPECT_TRUE(dialog_->SelectJob("Import"));
    EXPECT_FALSE(dialog_->btnRemove->isEnabled()); // the two standard jobs stay
    EXPECT_FALSE(dialog_->btnRename->isEnabled());
    EXPECT_TRUE(dialog_->btnDuplicate->isEnabled());

    // Remove asks first; No keeps the job.
    EXPECT_FALSE(dialog_->RemoveJob("Backup"));
    recorder_.QueueWarningAnswer(true);
    EXPECT_TRUE(dialog_->RemoveJob("Backup"));
    EXPECT_EQ(recorder_.Texts(TMessageKind::mkWarning).back(),
              "Remove the job \"Backup\"?\r\nIts settings are deleted when you save.");
    EXPECT_EQ(NodeTexts(),
              (std::vector<std::string>{"1. Import", "2. Export", "Scans", "3. General"}));
    EXPECT_EQ(ReadFile(configPath_), GoodFile()); // nothing reaches the file before Save

    QTest::mouseClick(dialog_->btnCancel, Qt::LeftButton);
    EXPECT_EQ(ReadFile(configPath_), GoodFile());
}

// Save carries out the session's renames, removals and additions in the file; keys the pages
// do not show (Enabled, anything unknown) go with a renamed section, and the untouched jobs
// keep their text.
TEST_F(JobListTest, SaveWritesNamedJobsAndTellsWhichChanged) {
    const std::string named =
        "[Import:Alpha]\nLocalFolder=" + dir_ +
        "\nHost=a.example\nEnabled=0\nCustom=kept\n[Export:Beta]\nLocalFolder=" + dir_ +
        "\nHost=b.example\n";
    WriteFile(configPath_, GoodFile() + named);
    Open();
    EXPECT_EQ(NodeTexts(),
              (std::vector<std::string>{"1. Import", "2. Export", "Alpha", "Beta", "3. General"}));
    ASSERT_NE(ImportForm("Alpha"), nullptr);
    EXPECT_EQ(ImportForm("Alpha")->edtHost->text(), "a.example");
    EXPECT_FALSE(Job("Alpha")->chkJobEnabled->isChecked());
    EXPECT_EQ(Job("Import")->chkJobEnabled, nullptr); // the window's buttons start "Import"

    ASSERT_EQ(dialog_->RenameJob("Alpha", "Gamma"), "");
    ImportForm("Gamma")->edtRemoteFolder->setText("/in");
    recorder_.QueueWarningAnswer(true);
    ASSERT_TRUE(dialog_->RemoveJob("Beta"));
    ASSERT_EQ(dialog_->AddJob(TDirection::Export, "Delta"), "");
    ExportForm("Delta")->edtHost->setText("d.example");
    ExportForm("Delta")->edtLocalFolder->setText(QString::fromStdString(dir_));
    Save();

    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_EQ(recorder_.Texts(TMessageKind::mkInformation),
              std::vector<std::string>{
                  "Settings saved.\r\n\r\nSaved: Gamma, Delta\r\n\r\nRemoved: Beta"});
    EXPECT_EQ(dialog_->ChangedJobs(), (std::vector<std::string>{"Gamma", "Delta"}));
    EXPECT_EQ(dialog_->RemovedJobs(), (std::vector<std::string>{"Beta", "Alpha"}));
    const std::string text = ReadFile(configPath_);
    EXPECT_TRUE(text.starts_with(GoodFile())) << text;
    for (const char* line :
         {"Import:Gamma.Host=a.example", "Import:Gamma.Enabled=0", "Import:Gamma.Custom=kept",
          "Import:Gamma.RemoteFolder=/in", "Export:Delta.Host=d.example",
          "Export:Delta.PassiveMode=1", "Export:Delta.Enabled=1", "Export:Delta.KeepConnection=1"})
        EXPECT_TRUE(HasLine(line)) << line << "\n" << text;
    // A job made in the dialog stays logged in between files; one read from the file keeps
    // what the file says (nothing: one login per file).
    EXPECT_TRUE(ExportForm("Delta")->chkKeepConnection->isChecked());
    EXPECT_FALSE(HasLine("Export.KeepConnection=1")) << text;
    for (const char* gone : {"[Import:Alpha]", "[Export:Beta]"})
        EXPECT_EQ(text.find(gone), std::string::npos) << gone;

    Open();
    EXPECT_EQ(NodeTexts(),
              (std::vector<std::string>{"1. Import", "2. Export", "Gamma", "Delta", "3. General"}));
    // "Run this job" alone is a change of the job.
    Job("Delta")->chkJobEnabled->setChecked(false);
    Save();
    EXPECT_EQ(dialog_->ChangedJobs(), std::vector<std::string>{"Delta"});
    EXPECT_TRUE(HasLine("Export:Delta.Enabled=0"));
    EXPECT_TRUE(HasLine("Import:Gamma.Enabled=0"));
}

TEST_F(JobListTest, SelectJobOpensTheDialogOnThatJob) {
    TfrmSettings dialog;
    ASSERT_TRUE(dialog.SelectJob("export"));
    dialog.show();
    EXPECT_EQ(dialog.DisplayedJob(), dialog.Job("Export"));
    EXPECT_TRUE(qobject_cast<TfrExport*>(dialog.DisplayedPage())->isVisible());
}

} // namespace

#include "JobDialogSupport.h"

#include "config/dialog/SettingsFrameGeneralUnit.h"

#include <QCheckBox>
#include <QComboBox>

#include <functional>

using tavrin::TMessageKind;

namespace {

using JobSaveTest = JobDialogTest;

// Save used to write only the page on display and drop what was typed on the others while
// still saying "Settings saved.".
TEST_F(JobSaveTest, SaveWritesEveryChangedPageAndNamesTheJobs) {
    struct Row {
        const char* what;
        std::function<void(JobSaveTest&)> edit;
        std::vector<std::string> expectedLines; // present in the file afterwards
        std::string message;
        std::vector<std::string> changedJobs;
    };
    const std::vector<Row> rows = {
        {"typed on both job pages, General on display",
         [](JobSaveTest& t) {
             t.ImportForm()->edtHost->setText("changed.example");
             t.ExportForm()->edtRemoteFolder->setText("/out");
         },
         {"Import.Host=changed.example", "Export.RemoteFolder=/out"},
         "Settings saved.\r\n\r\nSaved: Import, Export",
         {"Import", "Export"}},
        {"the shared passive box unchecked on Import while Export is saved too",
         [](JobSaveTest& t) {
             t.ImportForm()->chkPassive->setChecked(false);
             t.ExportForm()->edtHost->setText("other.example");
         },
         {"Export.PassiveMode=0", "Export.Host=other.example"},
         "Settings saved.\r\n\r\nSaved: Import, Export",
         {"Import", "Export"}},
        {"only General: the job sections stay as written",
         [](JobSaveTest& t) {
             qobject_cast<TfrGeneral*>(t.dialog_->DisplayedPage())->chkLogSSL->setChecked(false);
         },
         {"General.LogSSL=0", "Import.CheckInterval=0x1E"},
         "Settings saved.",
         {}},
        {"nothing changed",
         [](JobSaveTest&) {},
         {"Import.CheckInterval=0x1E"},
         "Settings saved.",
         {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        WriteFile(configPath_, GoodFile());
        recorder_.Clear();
        Open();
        row.edit(*this);
        Save();
        EXPECT_EQ(dialog_->result(), QDialog::Accepted);
        EXPECT_FALSE(dialog_->isVisible());
        EXPECT_EQ(recorder_.Texts(TMessageKind::mkInformation),
                  std::vector<std::string>{row.message});
        EXPECT_EQ(dialog_->ChangedJobs(), row.changedJobs);
        for (const std::string& line : row.expectedLines)
            EXPECT_TRUE(HasLine(line)) << line << "\n" << ReadFile(configPath_);
        if (std::string(row.what) == "nothing changed") {
            EXPECT_EQ(ReadFile(configPath_), GoodFile());
        }
    }
}

// A bad field is shown on its page and stops the save before anything is written; the
// dialog stays open so nothing typed is lost.
TEST_F(JobSaveTest, BadFieldsAreShownAndNothingIsSaved) {
    struct Row {
        const char* what;
        const char* job;
        std::function<void(JobSaveTest&)> edit;
        std::vector<std::string> problems;
        std::vector<const char*> markedFields;
    };
    const std::string missing = "/nonexistent-dir/tavrin-x";
    const std::vector<Row> rows = {
        {"empty host and a port out of range",
         "Import",
         [](JobSaveTest& t) {
             t.ImportForm()->edtHost->setText(" ");
             t.ImportForm()->edtPort->setText("65536");
         },
         {"Host is empty", "Port \"65536\" is not a number from 1 to 65535"},
         {"edtHost", "edtPort"}},
        {"port zero",
         "Export",
         [](JobSaveTest& t) { t.ExportForm()->edtPort->setText("0"); },
         {"Port \"0\" is not a number from 1 to 65535"},
         {"edtPort"}},
        {"port no number",
         "Export",
         [](JobSaveTest& t) { t.ExportForm()->edtPort->setText("ftp"); },
         {"Port \"ftp\" is not a number from 1 to 65535"},
         {"edtPort"}},
        {"check interval no integer (checked whatever Keep alive says)",
         "Import",
         [](JobSaveTest& t) { t.ImportForm()->edtCheckInterval->setText("abc"); },
         {"'abc' is not a valid integer value"},
         {"edtCheckInterval"}},
        {"settle time no integer",
         "Export",
         [](JobSaveTest& t) { t.ExportForm()->edtSettleTime->setText("1.5"); },
         {"'1.5' is not a valid integer value"},
         {"edtSettleTime"}},
        {"unreadable TLS certificate",
         "Import",
         [missing](JobSaveTest& t) {
             t.ImportForm()->chkUseSSL->setChecked(true);
             t.ImportForm()->edtSSLCertificate->setText(QString::fromStdString(missing));
         },
         {"Cannot read TLS certificate \"" + missing + "\": No such file or directory"},
         {"edtSSLCertificate"}},
        {"TLS files of an SFTP job are not used, its key file is",
         "Export",
         [missing](JobSaveTest& t) {
             t.ExportForm()->chkUseSSL->setChecked(true);
             t.ExportForm()->edtSSLKey->setText(QString::fromStdString(missing));
             t.ExportForm()->cmbProtocol->setCurrentIndex(1);
             t.ExportForm()->edtSSHKey->setText(QString::fromStdString(missing));
         },
         {"Cannot read SSH key \"" + missing + "\": No such file or directory"},
         {"edtSSHKey"}},
        {"no import folder",
         "Import",
         [](JobSaveTest& t) { t.ImportForm()->edtLocalFolder->clear(); },
         {"Import folder is not set"},
         {"edtLocalFolder"}},
        {"a missing staging folder the user does not create",
         "Import",
         [missing](JobSaveTest& t) {
             t.ImportForm()->chkDownloadToFolder->setChecked(true);
             t.ImportForm()->edtDownloadToFolder->setText(QString::fromStdString(missing));
         },
         {"Staging folder \"" + missing + "\" does not exist"},
         {"edtDownloadToFolder"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        WriteFile(configPath_, GoodFile());
        recorder_.Clear();
        Open();
        row.edit(*this);
        Save();
        EXPECT_TRUE(dialog_->isVisible());
        EXPECT_EQ(ReadFile(configPath_), GoodFile());
        EXPECT_TRUE(recorder_.Texts(TMessageKind::mkInformation).empty());
        tavrin::TJobPage* job = Job(row.job);
        ASSERT_EQ(dialog_->DisplayedJob(), job);
        std::string shown;
        for (const std::string& problem : row.problems)
            shown += (shown.empty() ? "" : "\n") + problem;
        EXPECT_EQ(job->lbProblems->text().toStdString(), shown);
        for (const char* field : row.markedFields)
            EXPECT_FALSE(job->Form()->findChild<QWidget*>(field)->styleSheet().isEmpty()) << field;
        EXPECT_TRUE(job->Form()->findChild<QWidget*>("edtRemoteFolder")->styleSheet().isEmpty());
        dialog_->reject();
    }
}

TEST_F(JobSaveTest, MissingLocalFolderIsCreatedWhenTheUserSaysSo) {
    WriteFile(configPath_, GoodFile());
    const std::string folder = dir_ + "/new/in";
    Open();
    ImportForm()->edtLocalFolder->setText(QString::fromStdString(folder));
    recorder_.QueueWarningAnswer(true);
    Save();
    EXPECT_EQ(
        recorder_.Texts(TMessageKind::mkWarning),
        std::vector<std::string>{"Import folder \"" + folder + "\" does not exist.\r\nCreate it?"});
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_TRUE(HasLine("Import.LocalFolder=" + folder));
}

TEST_F(JobSaveTest, FixedFieldSavesOnTheNextTry) {
    WriteFile(configPath_, GoodFile());
    Open();
    ImportForm()->edtPort->setText("x");
    Save();
    ASSERT_TRUE(dialog_->isVisible());
    ImportForm()->edtPort->setText("2121");
    Save();
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_TRUE(Job("Import")->lbProblems->isHidden());
    EXPECT_TRUE(ImportForm()->edtPort->styleSheet().isEmpty());
    EXPECT_TRUE(HasLine("Import.Port=2121"));
}

} // namespace

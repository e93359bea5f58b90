// The pages' "Keep passwords in the keyring" box: checked where the job keeps its passwords in
// the keyring or has not chosen and a keyring answers; the passwords shown come from the
// keyring; a save puts them where the box says, and says so when it could not.
#include "DialogTestSupport.h"

#include "config/dialog/JobPage.h"

#include "config/dialog/SettingsForm.h"
#include "config/dialog/SettingsFrameExportUnit.h"
#include "config/dialog/SettingsFrameImportUnit.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <algorithm>
#include <functional>
#include <map>

namespace {

class TRing : public tavrin::TKeyring {
public:
    bool Available() override { return available; }
    tavrin::TKeyringAnswer Read(const std::string& key) override {
        if (!available)
            return {tavrin::TKeyringStatus::Unavailable, "", "locked"};
        auto found = entries.find(key);
        return found == entries.end()
                   ? tavrin::TKeyringAnswer{tavrin::TKeyringStatus::NotFound, "", ""}
                   : tavrin::TKeyringAnswer{tavrin::TKeyringStatus::Found, found->second, ""};
    }
    bool Write(const std::string& key, const std::string& value, std::string& error) override {
        if (!available) {
            error = "locked";
            return false;
        }
        if (value.empty())
            entries.erase(key);
        else
            entries[key] = value;
        return true;
    }
    bool available = true;
    std::map<std::string, std::string> entries;
};

class KeepInKeyringTest : public DialogTest {};

TEST_F(KeepInKeyringTest, BoxShowsAndDecidesWhereThePasswordsGo) {
    struct Row {
        const char* what;
        bool exportPage;
        std::string section;
        bool ringAnswers;
        bool checkedAtOpen;
        const char* shownPassword;
        bool toggle; // the user flips the box before saving
        // After the save: the file's password and store lines, the keyring's password.
        std::vector<std::string> fileHas;
        const char* inKeyring;
        bool note;
    } rows[] = {
        {"a password in the file moves to the keyring on save",
         false,
         "Password=old\n",
         true,
         true,
         "old",
         false,
         {"Import.Password=", "Import.PasswordStore=keyring"},
         "old",
         false},
        {"no keyring: the file as always",
         false,
         "Password=old\n",
         false,
         false,
         "old",
         false,
         {"Import.Password=old"},
         "ring",
         false},
        {"no keyring, box checked: the file, with a line",
         true,
         "Password=old\n",
         false,
         false,
         "old",
         true,
         {"Export.Password=old"},
         "ring",
         true},
        {"kept in the keyring: shown from there, unchecked back to the file",
         true,
         "Password=\nPasswordStore=keyring\n",
         true,
         true,
         "ring",
         true,
         {"Export.Password=ring", "Export.PasswordStore=file"},
         "ring",
         false},
        {"kept in a keyring that does not answer: left alone",
         false,
         "Password=\nPasswordStore=keyring\n",
         false,
         true,
         "",
         false,
         {"Import.Password=", "Import.PasswordStore=keyring"},
         "ring",
         true},
        {"chose the file earlier: stays unchecked",
         false,
         "Password=f\nPasswordStore=file\n",
         true,
         false,
         "f",
         false,
         {"Import.Password=f", "Import.PasswordStore=file"},
         "ring",
         false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const char* job = row.exportPage ? "Export" : "Import";
        // Save writes only changed pages whose fields pass their checks.
        WriteFile(configPath_,
                  std::string("[") + job + "]\nLocalFolder=" + dir_ + "\nHost=h\n" + row.section);
        TRing ring;
        ring.available = row.ringAnswers;
        ring.entries[std::string(job) + "/password"] = "ring";
        TfrmSettings dialog(nullptr, &ring);
        dialog.show();
        dialog.treeOptions->setCurrentItem(
            dialog.treeOptions
                ->findItems(row.exportPage ? "2. Export" : "1. Import", Qt::MatchExactly)
                .value(0));
        QWidget* page = dialog.DisplayedPage();
        ASSERT_NE(page, nullptr);
        auto* box = page->findChild<QCheckBox*>("chkKeepInKeyring");
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->isChecked(), row.checkedAtOpen);
        EXPECT_EQ(page->findChild<QLineEdit*>("edtPassword")->text().toStdString(),
                  row.shownPassword);
        // Turning the box alone is a change to save; other rows change the host.
        if (row.toggle)
            box->toggle();
        else
            page->findChild<QLineEdit*>("edtHost")->setText("h2");
        QTest::mouseClick(dialog.btnSave, Qt::LeftButton);
        const std::vector<std::string> lines = SettingsLines();
        for (const std::string& line : row.fileHas)
            EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
        EXPECT_EQ(ring.entries[std::string(job) + "/password"], row.inKeyring);
        EXPECT_EQ(!dialog.SaveNote().empty(), row.note) << dialog.SaveNote();
    }
}

// A named job keeps its passwords in the keyring under its own name: shown from there, saved
// there by Save, under the new name after a rename; a copy takes the passwords it was copied
// with, not what the keyring still holds for a removed job of the new name.
TEST_F(KeepInKeyringTest, NamedJobsKeepTheirPasswordsUnderTheirOwnName) {
    struct Row {
        const char* what;
        std::function<void(TfrmSettings&)> act; // leaves the job `saved` on display
        const char* saved;
        const char* shownBefore; // in the displayed job's password box before the edit
        std::string fileLine;
    } rows[] = {
        {"edited in place", [](TfrmSettings& d) { EXPECT_TRUE(d.SelectJob("Nightly")); }, "Nightly",
         "n", "Import:Nightly.PasswordStore=keyring"},
        {"renamed", [](TfrmSettings& d) { EXPECT_EQ(d.RenameJob("Nightly", "Daily"), ""); },
         "Daily", "n", "Import:Daily.PasswordStore=keyring"},
        {"copied to a name the keyring still holds",
         [](TfrmSettings& d) { EXPECT_EQ(d.DuplicateJob("Nightly", "Copy"), ""); }, "Copy", "n",
         "Import:Copy.PasswordStore=keyring"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        WriteFile(configPath_, "[Import:Nightly]\nLocalFolder=" + dir_ +
                                   "\nHost=h\nPassword=\nPasswordStore=keyring\n");
        TRing ring;
        ring.entries = {
            {"Import/password", "i"}, {"Nightly/password", "n"}, {"Copy/password", "stale"}};
        TfrmSettings dialog(nullptr, &ring);
        dialog.show();
        row.act(dialog);
        QWidget* page = dialog.DisplayedPage();
        ASSERT_NE(page, nullptr);
        EXPECT_TRUE(page->findChild<QCheckBox*>("chkKeepInKeyring")->isChecked());
        auto* password = page->findChild<QLineEdit*>("edtPassword");
        EXPECT_EQ(password->text().toStdString(), row.shownBefore);
        password->setText("new");
        QTest::mouseClick(dialog.btnSave, Qt::LeftButton);
        EXPECT_EQ(ring.entries[std::string(row.saved) + "/password"], "new");
        EXPECT_EQ(ring.entries["Import/password"], "i");
        const std::vector<std::string> lines = SettingsLines();
        EXPECT_NE(std::find(lines.begin(), lines.end(), row.fileLine), lines.end());
        EXPECT_NE(std::find(lines.begin(), lines.end(),
                            "Import:" + std::string(row.saved) + ".Password="),
                  lines.end());
        EXPECT_EQ(dialog.SaveNote(), "");
    }
}

} // namespace

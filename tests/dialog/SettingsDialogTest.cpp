#include "DialogTestSupport.h"

#include "config/dialog/SettingsForm.h"
#include "config/dialog/SettingsFrameExportUnit.h"
#include "config/dialog/SettingsFrameGeneralUnit.h"
#include "config/dialog/SettingsFrameImportUnit.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

using tavrin::TMessageKind;

namespace {

class SettingsDialogTest : public DialogTest {
protected:
    // Opens the dialog as the main window does (modal), without blocking the test.
    void Open() {
        dialog_ = std::make_unique<TfrmSettings>();
        dialog_->show();
        ASSERT_TRUE(dialog_->isVisible());
    }
    QTreeWidgetItem* Node(const QString& text) const {
        auto found = dialog_->treeOptions->findItems(text, Qt::MatchExactly);
        return found.size() == 1 ? found[0] : nullptr;
    }
    template <typename Page> Page* Show(const QString& nodeText) {
        dialog_->treeOptions->setCurrentItem(Node(nodeText));
        return qobject_cast<Page*>(dialog_->DisplayedPage());
    }

    std::unique_ptr<TfrmSettings> dialog_;
};

TEST_F(SettingsDialogTest, PageListIsSortedAndOnlyTheFocusedNodeIsBold) {
    Open();
    QTreeWidget* tree = dialog_->treeOptions;
    ASSERT_EQ(tree->topLevelItemCount(), 3);
    EXPECT_EQ(tree->topLevelItem(0)->text(0), "1. Import");
    EXPECT_EQ(tree->topLevelItem(1)->text(0), "2. Export");
    EXPECT_EQ(tree->topLevelItem(2)->text(0), "3. General");
    EXPECT_EQ(dialog_->windowTitle(), "Settings");

    // The General page is on display first.
    EXPECT_EQ(tree->currentItem(), tree->topLevelItem(2));
    auto* general = qobject_cast<TfrGeneral*>(dialog_->DisplayedPage());
    ASSERT_NE(general, nullptr);
    EXPECT_TRUE(general->isVisible());
    auto boldNodes = [&] {
        std::vector<QString> bold;
        for (int i = 0; i < tree->topLevelItemCount(); ++i)
            if (tree->topLevelItem(i)->font(0).bold())
                bold.push_back(tree->topLevelItem(i)->text(0));
        return bold;
    };
    EXPECT_EQ(boldNodes(), std::vector<QString>{"3. General"});

    // Moving on shows one page at a time and moves the bold type with the focus.
    auto* import = Show<TfrImport>("1. Import");
    ASSERT_NE(import, nullptr);
    EXPECT_TRUE(import->isVisible());
    EXPECT_FALSE(general->isVisible());
    EXPECT_EQ(boldNodes(), std::vector<QString>{"1. Import"});
    ASSERT_NE(Show<TfrExport>("2. Export"), nullptr);
    EXPECT_FALSE(import->isVisible());
    EXPECT_EQ(boldNodes(), std::vector<QString>{"2. Export"});
}

TEST_F(SettingsDialogTest, OuterGroupCaptionsAreBoldTheirContentsAreNot) {
    Open();
    auto* import = Show<TfrImport>("1. Import");
    ASSERT_NE(import, nullptr);
    auto* server = import->findChild<QGroupBox*>("grpServerSettings");
    auto* login = import->findChild<QGroupBox*>("grpLoginInfo");
    ASSERT_TRUE(server && login);
    EXPECT_TRUE(server->font().bold());
    EXPECT_FALSE(login->font().bold());
    EXPECT_FALSE(import->edtHost->font().bold());
    EXPECT_FALSE(import->edtSSLPass->font().bold());
    EXPECT_EQ(login->title(), "Login info");
    // Passwords never show on screen.
    EXPECT_EQ(import->edtPassword->echoMode(), QLineEdit::Password);
    EXPECT_EQ(import->edtSSLPass->echoMode(), QLineEdit::Password);
    EXPECT_EQ(import->edtHost->echoMode(), QLineEdit::Normal);
}

TEST_F(SettingsDialogTest, SaveWritesOnlyThePageOnDisplay) {
    WriteFile(configPath_, "[Import]\nHost=import.example\nCheckInterval=0x1E\n");
    Open();
    auto* import = Show<TfrImport>("1. Import");
    ASSERT_NE(import, nullptr);
    EXPECT_EQ(import->edtHost->text(), "import.example");
    EXPECT_EQ(import->edtCheckInterval->text(), "30");
    import->edtHost->setText("changed.example"); // lost: this page is not saved

    auto* exported = Show<TfrExport>("2. Export");
    ASSERT_NE(exported, nullptr);
    EXPECT_EQ(exported->edtPort->text(), "21");
    exported->edtHost->setText("export.example");
    exported->chkPassive->setChecked(false);
    QTest::mouseClick(dialog_->btnSave, Qt::LeftButton);

    EXPECT_EQ(dialog_->result(), QDialog::Accepted);
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_EQ(recorder_.Texts(TMessageKind::mkInformation),
              std::vector<std::string>{"Settings saved."});
    EXPECT_EQ(SettingsLines(), (std::vector<std::string>{"Import.Host=import.example",
                                                         "Import.CheckInterval=0x1E",
                                                         "Export.LocalFolder=",
                                                         "Export.MoveDelete=0",
                                                         "Export.MoveToFolder=",
                                                         "Export.Host=export.example",
                                                         "Export.Port=21",
                                                         "Export.Username=",
                                                         "Export.Password=",
                                                         "Export.PassiveMode=0",
                                                         "Export.BinaryMode=1",
                                                         "Export.RemoteFolder=",
                                                         "Export.TempFolder=",
                                                         "Export.FirstToTemp=0",
                                                         "Export.SSL=0",
                                                         "Export.SSLCertificate=",
                                                         "Export.SSLKey=",
                                                         "Export.SSLPass=",
                                                         "Export.SettleTime=1000",
                                                         "Export.RetryFailed=0",
                                                         "Export.ExportExisting=0"}));
}

TEST_F(SettingsDialogTest, GeneralPageShowsAndSetsTheSwitches) {
    WriteFile(configPath_, "[General]\nLogVerbose=0\n");
    Open();
    // Opening the dialog reads the switches afresh.
    EXPECT_FALSE(LogVerbose);
    auto* general = qobject_cast<TfrGeneral*>(dialog_->DisplayedPage());
    ASSERT_NE(general, nullptr);
    EXPECT_FALSE(general->chkLogVerbose->isChecked());
    EXPECT_TRUE(general->chkLogSSL->isChecked());

    general->chkLogSSL->setChecked(false);
    general->chkLogVerbose->setChecked(true);
    EXPECT_TRUE(LogSSL); // nothing changes before Save
    QTest::mouseClick(dialog_->btnSave, Qt::LeftButton);
    EXPECT_FALSE(LogSSL);
    EXPECT_TRUE(LogVerbose);
    EXPECT_EQ(SettingsLines(),
              (std::vector<std::string>{"General.LogVerbose=1", "General.LogMonitor=1",
                                        "General.LogFileTransfer=1", "General.LogSSL=0",
                                        "General.LogLines=100000", "General.LogFile="}));
}

TEST_F(SettingsDialogTest, FailedSaveStillClosesWithOk) {
    Open();
    auto* import = Show<TfrImport>("1. Import");
    ASSERT_NE(import, nullptr);
    import->chkKeepAlive->setChecked(false);
    import->edtCheckInterval->setText("abc");
    QTest::mouseClick(dialog_->btnSave, Qt::LeftButton);
    EXPECT_EQ(dialog_->result(), QDialog::Accepted);
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_EQ(recorder_.Texts(TMessageKind::mkError),
              std::vector<std::string>{"'abc' is not a valid integer value"});
    EXPECT_TRUE(recorder_.Texts(TMessageKind::mkInformation).empty());
    // The keys before the check interval are written, the rest are not.
    EXPECT_NE(ReadFile(configPath_).find("KeepAlive=0"), std::string::npos);
    EXPECT_EQ(ReadFile(configPath_).find("SSL"), std::string::npos);
}

TEST_F(SettingsDialogTest, UnwritableFileStillClosesWithOk) {
    WriteFile(dir_ + "/blocker", "");
    const std::string blocked = dir_ + "/blocker/MonitorConfig.ini";
    ::setenv("TAVRIN_CONFIG", blocked.c_str(), 1);
    Open();
    qobject_cast<TfrGeneral*>(dialog_->DisplayedPage())->chkLogMonitor->setChecked(false);
    QTest::mouseClick(dialog_->btnSave, Qt::LeftButton);
    EXPECT_EQ(dialog_->result(), QDialog::Accepted);
    EXPECT_EQ(recorder_.Texts(TMessageKind::mkError),
              std::vector<std::string>{"Unable to write to " + blocked});
    EXPECT_TRUE(LogMonitor);
}

TEST_F(SettingsDialogTest, CancelAndEscapeWriteNothing) {
    Open();
    qobject_cast<TfrGeneral*>(dialog_->DisplayedPage())->chkLogMonitor->setChecked(false);
    QTest::mouseClick(dialog_->btnCancel, Qt::LeftButton);
    EXPECT_EQ(dialog_->result(), QDialog::Rejected);
    EXPECT_FALSE(dialog_->isVisible());

    Open();
    QTest::keyClick(dialog_.get(), Qt::Key_Escape);
    EXPECT_EQ(dialog_->result(), QDialog::Rejected);
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_FALSE(std::filesystem::exists(configPath_));
    EXPECT_TRUE(recorder_.Messages().empty());
    EXPECT_TRUE(LogMonitor);
}

} // namespace

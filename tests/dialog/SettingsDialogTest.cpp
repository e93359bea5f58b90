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

// The General page lists the servers trusted on first use and forgets the chosen one only
// after the user said Yes.
#include "DialogTestSupport.h"

#include "config/dialog/SettingsFrameGeneralUnit.h"
#include "platform/KnownServers.h"

#include <QListWidget>
#include <QPushButton>

namespace {

using KnownServersPageTest = DialogTest;

TEST_F(KnownServersPageTest, ForgetRemovesOnlyTheChosenServerAfterYes) {
    ::setenv("XDG_STATE_HOME", dir_.c_str(), 1);
    const std::string file = dir_ + "/tavrin/known-servers";
    ASSERT_EQ(tavrin::known::RememberIfNew(file, "a.example:21", "AA"), "");
    ASSERT_EQ(tavrin::known::RememberIfNew(file, "b.example:990", "BB"), "");

    TfrGeneral page;
    auto* list = page.findChild<QListWidget*>("lstKnownServers");
    auto* forget = page.findChild<QPushButton*>("btnForgetServer");
    ASSERT_NE(list, nullptr);
    ASSERT_NE(forget, nullptr);
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(1)->text().toStdString(), "b.example:990  BB");

    forget->click(); // nothing chosen: nothing asked, nothing forgotten
    list->setCurrentRow(0);
    recorder_.QueueWarningAnswer(false);
    forget->click();
    EXPECT_EQ(tavrin::known::Find(file, "a.example:21"), "AA");
    recorder_.QueueWarningAnswer(true);
    forget->click();
    ::unsetenv("XDG_STATE_HOME");

    EXPECT_EQ(recorder_.Texts(tavrin::TMessageKind::mkWarning).size(), 2u);
    EXPECT_EQ(tavrin::known::Find(file, "a.example:21"), "");
    EXPECT_EQ(tavrin::known::Find(file, "b.example:990"), "BB");
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->item(0)->text().toStdString(), "b.example:990  BB");
}

} // namespace

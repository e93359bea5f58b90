// The General page's log keeping (lines kept in the window, the optional log file) and what
// Edit list says when the desktop has no program for the register.
#include "DialogTestSupport.h"

#include "config/dialog/SettingsFrameGeneralUnit.h"

#include <QDesktopServices>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QUrl>

#include <algorithm>

using tavrin::TMessageKind;

namespace {

using GeneralLogKeeping = DialogTest;

TEST_F(GeneralLogKeeping, LinesAndFileAreShownBrowsedAndSaved) {
    struct Case {
        const char* file;
        int shownLines;
        const char* shownFile;
    };
    const Case cases[] = {
        {"", 100000, ""},
        {"[General]\nLogLines=0\nLogFile=/var/log/t.log\n", 0, "/var/log/t.log"},
        {"[General]\nLogLines=2500\n", 2500, ""},
        {"[General]\nLogLines=lots\n", 100000, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        WriteFile(configPath_, c.file);
        TfrGeneral page;
        page.LoadLogSwitches();
        EXPECT_EQ(page.spnLogLines->value(), c.shownLines);
        EXPECT_EQ(page.edtLogFile->text().toStdString(), c.shownFile);
    }

    TfrGeneral page;
    page.LoadLogSwitches();
    recorder_.QueueChosenPath(std::nullopt);
    QTest::mouseClick(page.btnLogFile, Qt::LeftButton);
    EXPECT_EQ(page.edtLogFile->text().toStdString(), "");
    recorder_.QueueChosenPath(dir_ + "/tavrin.log");
    QTest::mouseClick(page.btnLogFile, Qt::LeftButton);
    EXPECT_EQ(page.edtLogFile->text().toStdString(), dir_ + "/tavrin.log");
    EXPECT_EQ(recorder_.Texts(TMessageKind::mkFileSave).size(), 2u) << "a save dialog: the file "
                                                                       "need not exist yet";
    page.spnLogLines->setValue(0);
    page.SaveLogSwitches();
    const auto lines = SettingsLines();
    for (const std::string& expected :
         {std::string("General.LogLines=0"), "General.LogFile=" + dir_ + "/tavrin.log"})
        EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end()) << expected;
    EXPECT_EQ(tavrin::LoadLogKeeping(), (tavrin::TLogKeepingValues{0, dir_ + "/tavrin.log"}));
}

TEST_F(GeneralLogKeeping, EditListWithNoProgramForTheFileNamesItInAnErrorBox) {
    WriteFile(registerPath_, "a.txt\r\n");
    // No url handler and no desktop behind the offscreen platform: nothing can open it.
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(dir_))))
        GTEST_SKIP() << "this desktop has a program for local files";
    TfrGeneral page;
    QTest::mouseClick(page.btnEditList, Qt::LeftButton);
    EXPECT_EQ(recorder_.Texts(TMessageKind::mkError),
              std::vector<std::string>{"No program is set up to open " + registerPath_});
}

} // namespace

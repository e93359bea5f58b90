// The jobs' error boxes: one per job with the newest failure, never modal, out of the way of
// the settings dialog, gone once the job succeeds.
#include "app/JobErrorBoxes.h"
#include "app/MainForm.h"

#include <QMessageBox>
#include <QTest>

#include <gtest/gtest.h>

using State = TJobErrorBoxes::TBoxState;

TEST(JobErrorBoxes, OneBoxPerJobHiddenBehindTheDialogClosedBySuccess) {
    QWidget owner;
    owner.show();
    TJobErrorBoxes boxes(&owner);
    struct Step {
        const char* what;
        std::function<void()> act;
        std::vector<State> expected;
    } steps[] = {
        {"first failure", [&] { boxes.Show("A", "refused"); }, {{"A", "refused", true}}},
        {"again: same box, newest text",
         [&] { boxes.Show("A", "timed out"); },
         {{"A", "timed out", true}}},
        {"another job has its own",
         [&] { boxes.Show("B", "gone"); },
         {{"A", "timed out", true}, {"B", "gone", true}}},
        {"dialog opens: boxes step aside",
         [&] { boxes.SetDialogOpen(true); },
         {{"A", "timed out", false}, {"B", "gone", false}}},
        {"failure during the dialog waits",
         [&] { boxes.Show("C", "late"); },
         {{"A", "timed out", false}, {"B", "gone", false}, {"C", "late", false}}},
        {"success during the dialog closes",
         [&] { boxes.Succeeded("B"); },
         {{"A", "timed out", false}, {"C", "late", false}}},
        {"dialog closes: the rest show",
         [&] { boxes.SetDialogOpen(false); },
         {{"A", "timed out", true}, {"C", "late", true}}},
        {"success of a job without a box",
         [&] { boxes.Succeeded("Z"); },
         {{"A", "timed out", true}, {"C", "late", true}}},
        {"user closes A", [&] { boxes.Box("A")->close(); }, {{"C", "late", true}}},
        {"A fails again: a new box",
         [&] { boxes.Show("A", "again"); },
         {{"A", "again", true}, {"C", "late", true}}},
    };
    for (const Step& step : steps) {
        step.act();
        QCoreApplication::processEvents(); // a closed box deletes itself later
        EXPECT_EQ(boxes.Boxes(), step.expected) << step.what;
    }
    for (const State& state : boxes.Boxes())
        EXPECT_FALSE(boxes.Box(state.job)->isModal()) << state.job;
}

// A job's box from the window's jobs goes to the window's boxes; the program's modal box
// sees nothing of it.
TEST(JobErrorBoxes, TheWindowsJobsReportToTheirOwnBox) {
    TfmMainForm window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    tavrin::jobs::TJob& job = *window.Jobs().Find("Import");
    ASSERT_TRUE(job.OnErrorBox);
    job.OnErrorBox(job, "Import > Login incorrect.");
    job.OnErrorBox(job, "Import > Connection refused");
    EXPECT_EQ(window.JobBoxes->Boxes(),
              (std::vector<State>{{"Import", "Import > Connection refused", true}}));
}

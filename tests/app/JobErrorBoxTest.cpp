// The jobs' error boxes: one per job with the newest failure, never modal, out of the way of
// the settings dialog, gone once the job succeeds.
#include "app/JobErrorBoxes.h"
#include "app/JobTableModel.h"
#include "app/MainForm.h"
#include "config/ConfigPaths.h"
#include "config/LogSwitches.h"
#include "config/dialog/MessageBoxes.h"
#include "config/dialog/SettingsForm.h"
#include "servers/ChildProcess.h"
#include "servers/RealServers.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

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

// A real upload fails (the server has no such folder): the row says failing with the
// server's answer; the job's box closes by itself once the job works again (here: a fresh
// start), not merely because it stopped.
TEST(JobErrorBoxes, TheBoxClosesWhenTheFailingJobNextSucceeds) {
    const std::string dir = testsrv::MakeTempDir("jobbox-");
    std::filesystem::create_directories(dir + "/server");
    std::filesystem::create_directories(dir + "/out");
    testsrv::PyFtpdServer server({.root = dir + "/server"});
    std::ofstream(tavrin::ConfigFilePath())
        << "[Export:Partner]\nHost=127.0.0.1\nPort=" << server.Port()
        << "\nUsername=tavrin\nPassword=secret\nRemoteFolder=/sub\nLocalFolder=" << dir
        << "/out\nPassiveMode=1\nBinaryMode=1\nSettleTime=0\n";
    {
        TfmMainForm window;
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        auto cell = [&](tavrin::app::TJobColumn column) {
            return window.JobRows->index(0, column).data().toString().toStdString();
        };
        window.JobTable->Select({0});
        window.JobTable->btnStart->click();
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return cell(tavrin::app::jcState) == "running"; }, 10000));

        std::ofstream(dir + "/out/a.txt") << "a";
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return cell(tavrin::app::jcState) == "failing"; }, 10000));
        EXPECT_FALSE(cell(tavrin::app::jcLastError).empty());
        tavrin::jobs::TJob& job = *window.Jobs().Find("Partner");
        job.OnErrorBox(job, "Partner > upload failed");
        ASSERT_EQ(window.JobBoxes->Boxes().size(), 1u);

        // A fresh start of the job counts as working again.
        window.JobTable->btnStop->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return job.State() == tavrin::jobs::TJobState::Stopped; },
                                    10000));
        EXPECT_EQ(window.JobBoxes->Boxes().size(), 1u) << "stopping alone is no success";
        window.JobTable->btnStart->click();
        EXPECT_TRUE(QTest::qWaitFor([&] { return window.JobBoxes->Boxes().empty(); }, 10000));
        EXPECT_EQ(cell(tavrin::app::jcState), "running");
        window.JobTable->btnStop->click();
        EXPECT_TRUE(QTest::qWaitFor([&] { return job.State() == tavrin::jobs::TJobState::Stopped; },
                                    10000));
        window.close();
    }
    std::remove(tavrin::ConfigFilePath().c_str());
    std::filesystem::remove_all(dir);
    LogMonitor = LogFileTransfer = LogSSL = LogVerbose = true;
}

// Against a real server whose folder is missing at first: the job's box opens, steps aside
// while the settings dialog is open, and closes by itself once the job next works, without
// a restart. For an import that is a cycle that goes through (with nothing to fetch); for an
// export, a file that gets there.
TEST(JobErrorBoxes, TheBoxWaitsBehindTheDialogAndClosesOnTheNextSuccess) {
    struct Row {
        const char* job;
        bool import;
    } rows[] = {{"Fetch", true}, {"Send", false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.job);
        const std::string dir = testsrv::MakeTempDir("jobbox-");
        std::filesystem::create_directories(dir + "/server");
        std::filesystem::create_directories(dir + "/local");
        testsrv::PyFtpdServer server({.root = dir + "/server"});
        std::ofstream(tavrin::ConfigFilePath())
            << (row.import ? "[Import:" : "[Export:") << row.job
            << "]\nHost=127.0.0.1\nPort=" << server.Port()
            << "\nUsername=tavrin\nPassword=secret\nRemoteFolder=/sub\nLocalFolder=" << dir
            << "/local\nPassiveMode=1\nBinaryMode=1\nSettleTime=0\nKeepAlive=0\nCheckInterval=1\n";
        tavrin::TMessageRecorder recorder;
        {
            TfmMainForm window;
            window.show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
            tavrin::jobs::TJob& job = *window.Jobs().Find(row.job);
            window.JobTable->Select({0});
            window.JobTable->btnStart->click();
            ASSERT_EQ(job.State(), tavrin::jobs::TJobState::Running);
            if (!row.import)
                std::ofstream(dir + "/local/a.txt") << "a";
            ASSERT_TRUE(QTest::qWaitFor([&] { return job.Activity().failing; }, 10000));
            // An upload's failure is in its row; the box is opened as a failure that needs
            // the user would open it.
            if (!row.import)
                job.OnErrorBox(job, "Send > upload failed");
            ASSERT_TRUE(
                QTest::qWaitFor([&] { return window.JobBoxes->Boxes().size() == 1; }, 10000));
            EXPECT_TRUE(window.JobBoxes->Boxes()[0].visible);

            bool hiddenDuringDialog = false;
            QTimer::singleShot(0, [&] {
                if (auto* dialog = qobject_cast<TfrmSettings*>(QApplication::activeModalWidget())) {
                    const auto boxes = window.JobBoxes->Boxes();
                    hiddenDuringDialog = boxes.size() == 1 && !boxes[0].visible;
                    dialog->reject();
                }
            });
            window.Settings1->trigger();
            EXPECT_TRUE(hiddenDuringDialog);
            ASSERT_EQ(window.JobBoxes->Boxes().size(), 1u);
            EXPECT_TRUE(window.JobBoxes->Boxes()[0].visible);
            EXPECT_FALSE(window.JobBoxes->Box(row.job)->isModal());

            std::filesystem::create_directories(dir + "/server/sub");
            if (!row.import)
                std::ofstream(dir + "/local/b.txt") << "b";
            EXPECT_TRUE(QTest::qWaitFor([&] { return window.JobBoxes->Boxes().empty(); }, 10000));
            EXPECT_FALSE(job.Activity().failing);
            EXPECT_EQ(job.State(), tavrin::jobs::TJobState::Running) << "no restart needed";
            window.close();
        }
        std::remove(tavrin::ConfigFilePath().c_str());
        std::filesystem::remove_all(dir);
    }
    LogMonitor = LogFileTransfer = LogSSL = LogVerbose = true;
}

// The tray: its state and tooltip follow the jobs, and closing the window only hides it when
// the user asked for that and a tray is there to come back from; Quit stops the jobs.
#include "app/TrayIcon.h"
#include "app/MainForm.h"
#include "config/ConfigPaths.h"
#include "config/dialog/MessageBoxes.h"

#include <QAction>
#include <QCloseEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

using tavrin::app::TJobGlance;
using tavrin::app::TTrayState;
using tavrin::jobs::TJobState;

namespace {

TEST(TrayState, TheWorstJobWinsAndEachJobHasItsLine) {
    const TJobGlance stopped{"S", TJobState::Stopped, false, "", ""};
    // A failure of an earlier run is no failure of a stopped job.
    const TJobGlance stoppedAfterFailure{"S2", TJobState::Stopped, true, "", "gone"};
    const TJobGlance running{"R", TJobState::Running, false, "", ""};
    const TJobGlance starting{"B", TJobState::Starting, false, "", ""};
    const TJobGlance moving{"M", TJobState::Running, false, "a.txt", ""};
    const TJobGlance failing{"F", TJobState::Running, true, "", "Connection refused.\nmore"};
    // A failed file while the next one already moves: the job is failing.
    const TJobGlance failingMoving{"FM", TJobState::Running, true, "b", "Refused."};
    const TJobGlance refused{"X", TJobState::FailedToStart, false, "", "No host\nNo folder"};
    struct Row {
        std::vector<TJobGlance> jobs;
        TTrayState state;
        const char* toolTip;
    } rows[] = {
        {{}, TTrayState::Stopped, ""},
        {{stopped, stoppedAfterFailure}, TTrayState::Stopped, "S: stopped\nS2: stopped"},
        {{stopped, running}, TTrayState::Running, "S: stopped\nR: running"},
        {{starting}, TTrayState::Running, "B: running"},
        {{running, moving, stopped},
         TTrayState::Transferring,
         "R: running\nM: moving a.txt\nS: stopped"},
        {{moving, failing},
         TTrayState::Failing,
         "M: moving a.txt\nF: failing: Connection refused."},
        {{failingMoving}, TTrayState::Failing, "FM: failing: Refused."},
        {{running, refused}, TTrayState::Failing, "R: running\nX: not started: No host"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.toolTip);
        EXPECT_EQ(tavrin::app::TrayStateOf(row.jobs), row.state);
        EXPECT_EQ(tavrin::app::TrayToolTip(row.jobs).toStdString(), row.toolTip);
    }
    // Four images a user can tell apart.
    QList<QImage> images;
    for (TTrayState state : {TTrayState::Stopped, TTrayState::Running, TTrayState::Transferring,
                             TTrayState::Failing}) {
        const QImage image = tavrin::app::TrayImage(state).pixmap(32, 32).toImage();
        EXPECT_FALSE(image.isNull());
        EXPECT_FALSE(images.contains(image));
        images << image;
    }
}

// Both jobs on nothing but local folders: the import never polls, the export watches an
// empty folder.
class TrayWindow : public ::testing::Test {
protected:
    void WriteSettings(const std::string& general, const std::string& importPort = "21") {
        const std::string dir = folder_.path().toStdString();
        std::ofstream(tavrin::ConfigFilePath())
            << "[General]\n"
            << general << "\n[Import]\nHost=127.0.0.1\nPort=" << importPort
            << "\nKeepAlive=0\nCheckInterval=0\nLocalFolder=" << dir
            << "\n[Export]\nLocalFolder=" << dir << "\nHost=127.0.0.1\nPort=21\n";
    }
    void TearDown() override { std::remove(tavrin::ConfigFilePath().c_str()); }
    static bool AllIn(TfmMainForm& window, TJobState state) {
        for (const auto& job : window.Jobs().Jobs())
            if (job->State() != state)
                return false;
        return true;
    }

    QTemporaryDir folder_;
    tavrin::TMessageRecorder boxes_;
};

TEST_F(TrayWindow, StateFollowsTheJobs) {
    WriteSettings("");
    TfmMainForm window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.Tray->State(), TTrayState::Stopped);

    window.Tray->StartAllAction->trigger();
    ASSERT_TRUE(AllIn(window, TJobState::Running));
    EXPECT_EQ(window.Tray->State(), TTrayState::Running);
    EXPECT_EQ(window.Tray->ToolTip(), "Import: running\nExport: running");

    window.Tray->StopAllAction->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return AllIn(window, TJobState::Stopped); }, 10000));
    EXPECT_EQ(window.Tray->State(), TTrayState::Stopped);

    // A start the settings refuse leaves the job failing until it starts.
    WriteSettings("", "not-a-port");
    window.Tray->StartAllAction->trigger();
    ASSERT_EQ(window.Jobs().Find("Import")->State(), TJobState::FailedToStart);
    EXPECT_EQ(window.Tray->State(), TTrayState::Failing);
    EXPECT_TRUE(window.Tray->ToolTip().startsWith("Import: not started: "))
        << window.Tray->ToolTip().toStdString();
    window.Tray->QuitAction->trigger();
}

// Only the window's own close button hides it, and only with CloseToTray=1 and a tray; Exit
// and Quit always end the jobs.
TEST_F(TrayWindow, CloseHidesOnlyWithATrayAndTheSettingAndQuitStops) {
    struct Row {
        const char* general;
        bool trayAvailable;
        enum { CloseButton, Exit, TrayQuit } how;
        bool keepsRunning;
    } rows[] = {
        {"CloseToTray=1", true, Row::CloseButton, true},
        {"CloseToTray=1", false, Row::CloseButton, false},
        {"CloseToTray=0", true, Row::CloseButton, false},
        {"", true, Row::CloseButton, false},
        {"CloseToTray=1", true, Row::Exit, false},
        {"CloseToTray=1", true, Row::TrayQuit, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.general) + " tray " + std::to_string(row.trayAvailable) +
                     " how " + std::to_string(row.how));
        WriteSettings(row.general);
        TfmMainForm window;
        window.Tray->SetAvailable(row.trayAvailable);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        window.StartAllJobs();
        ASSERT_TRUE(AllIn(window, TJobState::Running));
        switch (row.how) {
        case Row::CloseButton: {
            // As the window manager's close reaches the window, not as close() does.
            QCloseEvent fromDesktop;
            QCoreApplication::sendEvent(window.windowHandle(), &fromDesktop);
            break;
        }
        case Row::Exit:
            window.Exit1->trigger();
            break;
        case Row::TrayQuit:
            window.Tray->QuitAction->trigger();
            break;
        }
        QCoreApplication::processEvents();
        EXPECT_FALSE(window.isVisible());
        EXPECT_EQ(AllIn(window, TJobState::Running), row.keepsRunning);
        EXPECT_EQ(AllIn(window, TJobState::Stopped), !row.keepsRunning);
        if (!row.keepsRunning)
            continue;
        window.Tray->ShowAction->trigger();
        EXPECT_TRUE(window.isVisible());
        window.Tray->QuitAction->trigger();
        EXPECT_TRUE(AllIn(window, TJobState::Stopped));
    }
}

} // namespace

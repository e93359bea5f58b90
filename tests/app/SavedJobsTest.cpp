// The settings dialog reached from the job table, and what a save does to the running jobs:
// Edit job opens the job's own page; a save restarts only the jobs whose settings changed,
// stops and drops the removed ones and starts a new enabled job when all were running.
#include "app/JobTableModel.h"
#include "app/MainForm.h"
#include "config/ConfigPaths.h"
#include "config/LogSwitches.h"
#include "config/dialog/JobPage.h"
#include "config/dialog/MessageBoxes.h"
#include "config/dialog/SettingsForm.h"
#include "servers/ChildProcess.h"
#include "servers/RealServers.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

using namespace tavrin::app;
using tavrin::jobs::TJob;
using tavrin::jobs::TJobState;

namespace {

constexpr int kWaitMs = 10000;

class SavedJobs : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = testsrv::MakeTempDir("savedjobs-");
        for (const char* sub : {"/server/b2", "/a", "/b", "/c", "/d"})
            std::filesystem::create_directories(dir_ + sub);
    }
    void TearDown() override {
        std::remove(tavrin::ConfigFilePath().c_str());
        std::filesystem::remove_all(dir_);
        LogMonitor = LogFileTransfer = LogSSL = LogVerbose = true;
    }
    std::string ExportJob(const char* name, const std::string& port) const {
        return std::string("[Export:") + name + "]\nHost=127.0.0.1\nPort=" + port +
               "\nUsername=tavrin\nPassword=secret\nRemoteFolder=/\nLocalFolder=" + dir_ + "/" +
               static_cast<char>(std::tolower(name[0])) +
               "\nPassiveMode=1\nBinaryMode=1\nSettleTime=0\n";
    }
    static std::vector<std::string> Column(const TfmMainForm& window, TJobColumn column) {
        std::vector<std::string> cells;
        for (int row = 0; row < window.JobRows->rowCount(); ++row)
            cells.push_back(window.JobRows->index(row, column).data().toString().toStdString());
        return cells;
    }
    // The lines that tell a job stopped or started, from `from` on.
    static std::vector<std::string> StartStopLines(const TfmMainForm& window, int from) {
        QCoreApplication::processEvents();
        std::vector<std::string> lines;
        for (int row = from; row < window.LogLines->rowCount(); ++row) {
            const std::string& text = window.LogLines->Line(row).Text;
            if (text.ends_with("Monitor closed") || text.ends_with("Monitor started"))
                lines.push_back(text);
        }
        return lines;
    }
    // Opens the window's settings dialog through `open` and runs `act` on it once it is up.
    static void WithDialog(const std::function<void()>& open,
                           const std::function<void(TfrmSettings&)>& act) {
        bool reached = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<TfrmSettings*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            reached = true;
            act(*dialog);
            if (dialog->isVisible())
                dialog->reject();
        });
        open();
        EXPECT_TRUE(reached) << "no settings dialog";
    }

    std::string dir_;
    tavrin::TMessageRecorder boxes_;
};

} // namespace

// Edit job and a double-click open the dialog on the page of the job of that row, whatever
// the row; Add job opens it on the job list.
TEST_F(SavedJobs, EditJobOpensTheDialogOnThatJobsPage) {
    std::ofstream(tavrin::ConfigFilePath())
        << ExportJob("Alpha", "21") << ExportJob("Beta", "21")
        << "[Import:Gamma]\nHost=127.0.0.1\nLocalFolder=" << dir_ << "/c\n";
    TfmMainForm window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    struct Case {
        const char* what;
        std::function<void()> open;
        std::string page; // the job on display, "" for none (the General page)
    } cases[] = {
        {"Edit job, second row",
         [&] {
             window.JobTable->Select({1});
             window.JobTable->btnEditJob->click();
         },
         "Beta"},
        {"double-click, third row",
         [&] { emit window.JobTable->tblJobs->doubleClicked(window.JobRows->index(2, jcServer)); },
         "Gamma"},
        {"double-click, first row",
         [&] { emit window.JobTable->tblJobs->doubleClicked(window.JobRows->index(0, jcName)); },
         "Alpha"},
        {"Add job", [&] { window.JobTable->btnAddJob->click(); }, ""},
        {"Settings", [&] { window.Settings1->trigger(); }, ""},
    };
    for (const Case& c : cases) {
        std::string shown = "?";
        WithDialog(c.open, [&](TfrmSettings& dialog) {
            shown = dialog.DisplayedJob() ? dialog.DisplayedJob()->Name() : "";
        });
        EXPECT_EQ(shown, c.page) << c.what;
    }
    EXPECT_EQ(Column(window, jcName), (std::vector<std::string>{"Alpha", "Beta", "Gamma"}));
}

// Four jobs against one real server. The dialog changes B's remote folder, removes D and adds
// E (a copy of A); unchanged jobs keep running untouched, B restarts with its new folder, D
// stops and leaves, and E starts only when every enabled job was running.
TEST_F(SavedJobs, SaveRestartsOnlyChangedJobsStopsRemovedStartsNew) {
    testsrv::PyFtpdServer server({.root = dir_ + "/server"});
    const std::string port = std::to_string(server.Port());
    struct Case {
        const char* what;
        bool stopCFirst;
        TJobState eAfter;
        std::vector<std::string> lines;
    } cases[] = {
        {"all were running",
         false,
         TJobState::Running,
         {"D > Monitor closed", "B > Monitor closed", "B > Monitor started",
          "E > Monitor started"}},
        {"one was stopped",
         true,
         TJobState::Stopped,
         {"D > Monitor closed", "B > Monitor closed", "B > Monitor started"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::ofstream(tavrin::ConfigFilePath())
            << ExportJob("A", port) << ExportJob("B", port)
            << "[Import:C]\nHost=127.0.0.1\nPort=" << port
            << "\nUsername=tavrin\nPassword=secret\nRemoteFolder=/\nLocalFolder=" << dir_
            << "/c\nCheckInterval=1\nKeepAlive=0\nPassiveMode=1\n"
            << ExportJob("D", port);
        TfmMainForm window;
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        window.JobTable->btnStartAll->click();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return Column(window, jcState) ==
                       std::vector<std::string>(4, std::string("running"));
            },
            kWaitMs));
        if (c.stopCFirst) {
            window.JobTable->Select({2});
            window.JobTable->btnStop->click();
            ASSERT_TRUE(QTest::qWaitFor(
                [&] { return window.Jobs().Find("C")->State() == TJobState::Stopped; }, kWaitMs));
        }
        // The start lines come through the event loop; the save's lines are counted after them.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return StartStopLines(window, 0).size() == (c.stopCFirst ? 5u : 4u); }, kWaitMs));
        std::map<std::string, TJob*> before;
        for (const char* name : {"A", "B", "C"})
            before[name] = window.Jobs().Find(name);
        const int logFrom = window.LogLines->rowCount();

        WithDialog(
            [&] { window.Settings1->trigger(); },
            [&](TfrmSettings& dialog) {
                ASSERT_TRUE(dialog.SelectJob("B"));
                dialog.Job("B")->Form()->findChild<QLineEdit*>("edtRemoteFolder")->setText("/b2");
                boxes_.QueueWarningAnswer(true);
                ASSERT_TRUE(dialog.RemoveJob("D"));
                ASSERT_EQ(dialog.DuplicateJob("A", "E"), "");
                dialog.btnSave->click();
            });
        ASSERT_TRUE(QTest::qWaitFor([&] { return !window.Jobs().Restarting(); }, kWaitMs));
        QTest::qWait(200); // a restart wrongly begun would show its lines by now

        EXPECT_EQ(StartStopLines(window, logFrom), c.lines);
        EXPECT_EQ(window.Jobs().Find("D"), nullptr);
        for (const char* name : {"A", "B", "C"})
            EXPECT_EQ(window.Jobs().Find(name), before[name]) << name << " is the same job";
        EXPECT_EQ(window.Jobs().Find("A")->State(), TJobState::Running);
        EXPECT_EQ(window.Jobs().Find("C")->State(),
                  c.stopCFirst ? TJobState::Stopped : TJobState::Running);
        ASSERT_NE(window.Jobs().Find("E"), nullptr);
        EXPECT_EQ(window.Jobs().Find("E")->State(), c.eAfter);
        EXPECT_EQ(Column(window, jcName), (std::vector<std::string>{"A", "B", "C", "E"}));
        EXPECT_TRUE(boxes_.Texts(tavrin::TMessageKind::mkError).empty());

        // B works with what was saved: its file lands in the new folder.
        ASSERT_EQ(window.Jobs().Find("B")->State(), TJobState::Running);
        EXPECT_EQ(window.Jobs().Find("B")->Config().RemoteFolder, "/b2");
        const std::string moved = std::string("moved-") + (c.stopCFirst ? "2" : "1") + ".txt";
        std::ofstream(dir_ + "/b/" + moved) << "b";
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return std::filesystem::exists(dir_ + "/server/b2/" + moved); }, kWaitMs));

        window.JobTable->btnStopAll->click();
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                return Column(window, jcState) ==
                       std::vector<std::string>(4, std::string("stopped"));
            },
            kWaitMs));
        window.close();
        boxes_.Clear();
    }
}

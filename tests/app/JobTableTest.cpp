// The job table: what each cell says of a job, which jobs it lists, its commands against a
// real server, and the first start without any job.
#include "app/JobRowText.h"
#include "app/JobTableModel.h"
#include "app/MainForm.h"
#include "config/ConfigPaths.h"
#include "config/LogSwitches.h"
#include "config/dialog/MessageBoxes.h"
#include "config/dialog/SettingsForm.h"
#include "servers/ChildProcess.h"
#include "servers/RealServers.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

using namespace tavrin::app;
using tavrin::jobs::TJobActivity;
using tavrin::jobs::TJobKind;
using tavrin::jobs::TJobState;
using namespace std::chrono_literals;

namespace {

constexpr int kWaitMs = 10000;

std::chrono::system_clock::time_point LocalTime(int year, int month, int day, int hour, int minute,
                                                int second) {
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&local));
}

TTransferProgress Moving(uint64_t done, std::optional<uint64_t> total) {
    return {"big.bin", true, done, total, TTransferPhase::Moving};
}

} // namespace

TEST(JobTableCells, EachColumnTellsTheJobsStateAndActivity) {
    const auto now = LocalTime(2026, 12, 9, 20, 0, 0);
    TJobActivity transferring;
    transferring.current = Moving(5 * 1024 * 1024, 50ull * 1024 * 1024);
    transferring.bytesPerSecond = 1.5 * 1024 * 1024;
    transferring.timeLeft = 3725s;
    transferring.failing = true; // an earlier failure: the transfer is the newer news
    transferring.lastError = "Connection refused";
    TJobActivity failing;
    failing.failing = true;
    failing.lastError = "Login incorrect.";
    failing.lastTransferAt = LocalTime(2026, 12, 9, 7, 5, 3);
    failing.lastTransferSize = 2048;
    failing.filesToday = 7;
    TJobActivity finished; // the last report of a file whose steps ended
    finished.current = TTransferProgress{"a.txt", false, 10, 10, TTransferPhase::Done};
    finished.bytesPerSecond = 99;
    TJobActivity unknownSize;
    unknownSize.current = Moving(1500, std::nullopt);

    struct Case {
        const char* what;
        TJobState state;
        TJobActivity activity;
        std::string startError;
        TJobColumn column;
        std::string expected;
    } cases[] = {
        {"stopped", TJobState::Stopped, {}, "", jcState, "stopped"},
        {"starting counts as running", TJobState::Starting, {}, "", jcState, "running"},
        {"stopping already shows stopped", TJobState::Stopping, transferring, "", jcState,
         "stopped"},
        {"refused start", TJobState::FailedToStart, {}, "Host is empty", jcState, "stopped"},
        {"refusal is the last error", TJobState::FailedToStart, failing, "Host is empty",
         jcLastError, "Host is empty"},
        {"transfer beats failure", TJobState::Running, transferring, "", jcState, "transferring"},
        {"failing", TJobState::Running, failing, "", jcState, "failing"},
        {"finished file is no transfer", TJobState::Running, finished, "", jcState, "running"},
        {"file", TJobState::Running, transferring, "", jcTransfer, "big.bin"},
        {"bytes of total", TJobState::Running, transferring, "", jcBytes, "5.00 MB of 50.0 MB"},
        {"bytes, size unknown", TJobState::Running, unknownSize, "", jcBytes, "1.46 KB"},
        {"rate", TJobState::Running, transferring, "", jcRate, "1.50 MB/s"},
        {"no rate yet", TJobState::Running, unknownSize, "", jcRate, ""},
        {"rate of an ended file", TJobState::Running, finished, "", jcRate, ""},
        {"time left over an hour", TJobState::Running, transferring, "", jcTimeLeft, "1:02:05"},
        {"time left unknown", TJobState::Running, unknownSize, "", jcTimeLeft, ""},
        {"last transfer today", TJobState::Running, failing, "", jcLastTransfer,
         "07:05:03, 2.00 KB"},
        {"nothing moved yet", TJobState::Running, {}, "", jcLastTransfer, ""},
        {"files today", TJobState::Stopped, failing, "", jcToday, "7"},
        {"last error of a running job", TJobState::Running, failing, "", jcLastError,
         "Login incorrect."},
    };
    for (const Case& c : cases) {
        TJobRowFacts row{"Partner", TJobKind::Export, "u@h:21/out",
                         c.state,   c.activity,       c.startError};
        EXPECT_EQ(CellText(row, c.column, now), c.expected) << c.what;
    }
}

TEST(JobTableCells, ServerSizesDurationsMomentsAndPercent) {
    struct ServerCase {
        const char* what;
        const char* host;
        const char* port;
        const char* user;
        const char* folder;
        const char* protocol;
        std::string expected;
    } servers[] = {
        {"all parts", "ftp.test", "2121", "anna", "/out", "FTP", "anna@ftp.test:2121/out"},
        {"folder without slash", "ftp.test", "21", "anna", "out/x", "FTP",
         "anna@ftp.test:21/out/x"},
        {"no folder", "ftp.test", "21", "anna", "", "FTP", "anna@ftp.test:21/"},
        {"no user", "ftp.test", "21", "", "/in", "FTP", "ftp.test:21/in"},
        {"no port, SFTP", "ssh.test", "", "bo", "/in", "SFTP", "bo@ssh.test:22/in"},
        {"no port, FTP", "ftp.test", "", "bo", "/in", "FTP", "bo@ftp.test:21/in"},
        {"IPv6 address", "::1", "21", "bo", "/", "FTP", "bo@[::1]:21/"},
        {"not set up", "", "21", "bo", "/in", "FTP", ""},
    };
    for (const ServerCase& c : servers) {
        RConfiguration config;
        config.Host = c.host;
        config.Port = c.port;
        config.Username = c.user;
        config.RemoteFolder = c.folder;
        config.Protocol = c.protocol;
        EXPECT_EQ(ServerText(config), c.expected) << c.what;
    }

    const std::pair<uint64_t, const char*> sizes[] = {{0, "0 B"},
                                                      {999, "999 B"},
                                                      {1000, "0.98 KB"},
                                                      {1536, "1.50 KB"},
                                                      {10 * 1024, "10.0 KB"},
                                                      {999 * 1024, "999 KB"},
                                                      {1024 * 1024, "1.00 MB"},
                                                      {3ull << 30, "3.00 GB"},
                                                      {5ull << 40, "5.00 TB"},
                                                      {~0ull, "16777216 TB"}};
    for (const auto& [bytes, text] : sizes)
        EXPECT_EQ(SizeText(bytes), text) << bytes;

    const std::pair<std::chrono::seconds, const char*> durations[] = {
        {0s, "0:00"}, {7s, "0:07"}, {750s, "12:30"}, {3600s, "1:00:00"}, {-5s, "0:00"}};
    for (const auto& [left, text] : durations)
        EXPECT_EQ(DurationText(left), text) << left.count();

    const auto at = LocalTime(2026, 12, 8, 17, 30, 5);
    EXPECT_EQ(MomentText(at, LocalTime(2026, 12, 8, 23, 59, 59)), "17:30:05");
    EXPECT_EQ(MomentText(at, LocalTime(2026, 12, 9, 0, 0, 1)), "2026-12-08 17:30");
    EXPECT_EQ(MomentText(at, LocalTime(2027, 12, 8, 18, 0, 0)), "2026-12-08 17:30");

    EXPECT_EQ(PercentDone(Moving(0, 0)), std::nullopt);
    EXPECT_EQ(PercentDone(Moving(10, std::nullopt)), std::nullopt);
    EXPECT_EQ(PercentDone(Moving(1, 3)), 33);
    EXPECT_EQ(PercentDone(Moving(9, 3)), 100) << "a file that grew while it moved";
    EXPECT_EQ(PercentDone(Moving(1ull << 62, 1ull << 63)), 50) << "no overflow";
}

namespace {

class JobTable : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = testsrv::MakeTempDir("jobtable-");
        std::filesystem::create_directories(dir_ + "/server");
        std::filesystem::create_directories(dir_ + "/out");
        std::filesystem::create_directories(dir_ + "/in");
    }
    void TearDown() override {
        std::remove(tavrin::ConfigFilePath().c_str());
        std::filesystem::remove_all(dir_);
        LogMonitor = LogFileTransfer = LogSSL = LogVerbose = true;
    }
    static std::vector<std::string> Column(const TfmMainForm& window, TJobColumn column) {
        std::vector<std::string> cells;
        for (int row = 0; row < window.JobRows->rowCount(); ++row)
            cells.push_back(window.JobRows->index(row, column).data().toString().toStdString());
        return cells;
    }
    static bool WaitStates(const TfmMainForm& window, const std::vector<std::string>& states) {
        return QTest::qWaitFor([&] { return Column(window, jcState) == states; }, kWaitMs);
    }
    static QStringList Log(const TfmMainForm& window) {
        QCoreApplication::processEvents();
        QStringList lines;
        for (int row = 0; row < window.LogLines->rowCount(); ++row)
            lines << QString::fromStdString(window.LogLines->Line(row).Text);
        return lines;
    }

    std::string dir_;
    tavrin::TMessageRecorder boxes_;
};

} // namespace

TEST_F(JobTable, FirstStartWithoutJobsInvitesToAddOneAndNothingElse) {
    ASSERT_FALSE(std::ifstream(tavrin::ConfigFilePath()).good());
    TfmMainForm window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QCoreApplication::processEvents();

    EXPECT_TRUE(window.JobTable->ShowingEmptyState());
    EXPECT_TRUE(window.JobTable->lblNoJobs->isVisible());
    EXPECT_EQ(window.JobTable->lblNoJobs->text(), "No transfer jobs yet");
    EXPECT_TRUE(window.JobTable->btnAddFirstJob->isVisible());
    EXPECT_FALSE(window.JobTable->btnStartAll->isVisible());
    EXPECT_EQ(window.LogLines->rowCount(), 0);
    EXPECT_TRUE(boxes_.Messages().empty());
    EXPECT_TRUE(window.JobBoxes->Boxes().empty());

    // Add job opens the settings dialog.
    QString opened;
    QTimer::singleShot(0, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            opened = modal->metaObject()->className();
            static_cast<QDialog*>(modal)->reject();
        }
    });
    window.JobTable->btnAddFirstJob->click();
    EXPECT_EQ(opened, "TfrmSettings");
}

// Jobs come from the file in its order; a section with a bad or taken name is left out with
// one red line; start, stop, start all (enabled jobs only) and stop all act on the rows.
TEST_F(JobTable, RowsFollowTheFileAndTheCommandsAgainstARealServer) {
    testsrv::PyFtpdServer server({.root = dir_ + "/server"});
    const std::string port = std::to_string(server.Port());
    std::ofstream(tavrin::ConfigFilePath())
        << "[Export:Partner]\nHost=127.0.0.1\nPort=" << port
        << "\nUsername=tavrin\nPassword=secret\nRemoteFolder=/\nLocalFolder=" << dir_
        << "/out\nPassiveMode=1\nBinaryMode=1\nSettleTime=0\n"
        << "[Import:bad/name]\nHost=x\n"
        << "[Import:Fetch]\nHost=127.0.0.1\nPort=" << port
        << "\nUsername=tavrin\nPassword=secret\nRemoteFolder=/\nLocalFolder=" << dir_
        << "/in\nCheckInterval=0\nKeepAlive=0\nPassiveMode=1\n"
        << "[Export:partner]\nHost=elsewhere\n"
        << "[Export:Off]\nEnabled=0\nHost=127.0.0.1\nPort=" << port
        << "\nUsername=tavrin\nRemoteFolder=/x\nLocalFolder=" << dir_ << "/out\n";
    TfmMainForm window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    EXPECT_FALSE(window.JobTable->ShowingEmptyState());
    EXPECT_EQ(Column(window, jcName), (std::vector<std::string>{"Partner", "Fetch", "Off"}));
    EXPECT_EQ(Column(window, jcDirection),
              (std::vector<std::string>{"Export", "Import", "Export"}));
    EXPECT_EQ(Column(window, jcServer),
              (std::vector<std::string>{"tavrin@127.0.0.1:" + port + "/",
                                        "tavrin@127.0.0.1:" + port + "/",
                                        "tavrin@127.0.0.1:" + port + "/x"}));
    EXPECT_EQ(Column(window, jcState), (std::vector<std::string>{"stopped", "stopped", "stopped"}));
    const QStringList skipped = Log(window);
    ASSERT_EQ(skipped.size(), 2) << skipped.join('\n').toStdString();
    EXPECT_TRUE(skipped[0].contains("[Import:bad/name]"));
    EXPECT_TRUE(skipped[1].contains("[Export:partner]"));
    EXPECT_EQ(window.LogLines->Line(0).Colour, clRed);
    // The tool buttons' jobs stay, unlisted without their sections.
    EXPECT_NE(window.Jobs().Find("Import"), nullptr);
    EXPECT_EQ(window.JobRows->RowOf(window.Jobs().Find("Import")), -1);

    window.JobTable->Select({0});
    EXPECT_FALSE(window.JobTable->btnStop->isEnabled());
    window.JobTable->btnStart->click();
    ASSERT_TRUE(WaitStates(window, {"running", "stopped", "stopped"}));
    EXPECT_FALSE(window.JobTable->btnStart->isEnabled());
    EXPECT_TRUE(window.JobTable->btnStop->isEnabled());
    // The started job really works: a file dropped into its folder reaches the server.
    std::ofstream(dir_ + "/out/hello.txt") << "hello";
    EXPECT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(dir_ + "/server/hello.txt"); },
                                kWaitMs));

    window.JobTable->btnStartAll->click();
    ASSERT_TRUE(WaitStates(window, {"running", "running", "stopped"})) << "Off is disabled";
    window.JobTable->Select({2});
    window.JobTable->btnStart->click();
    ASSERT_TRUE(WaitStates(window, {"running", "running", "running"}));
    window.JobTable->Select({1});
    window.JobTable->btnStop->click();
    ASSERT_TRUE(WaitStates(window, {"running", "stopped", "running"}));
    window.JobTable->btnStopAll->click();
    ASSERT_TRUE(WaitStates(window, {"stopped", "stopped", "stopped"}));
    EXPECT_TRUE(boxes_.Texts(tavrin::TMessageKind::mkError).empty());
    // The status panels speak only of "Import" and "Export".
    EXPECT_EQ(window.StatusPanelText(1), "Export monitor: STOPPED");
}

// Start all names every job that could not start in one box; the others run.
TEST_F(JobTable, StartAllShowsOneBoxForEveryRefusedJob) {
    std::ofstream(tavrin::ConfigFilePath())
        << "[Export:Good]\nHost=127.0.0.1\nPort=21\nLocalFolder=" << dir_ << "/out\n"
        << "[Export:NoHost]\nLocalFolder=" << dir_ << "/out\n"
        << "[Import:BadPort]\nHost=127.0.0.1\nPort=2x\nLocalFolder=" << dir_ << "/in\n";
    TfmMainForm window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.JobTable->btnStartAll->click();
    ASSERT_TRUE(WaitStates(window, {"running", "stopped", "stopped"}));
    EXPECT_EQ(boxes_.Texts(tavrin::TMessageKind::mkError),
              std::vector<std::string>{"NoHost monitor not started:\nHost is empty\n\n"
                                       "BadPort monitor not started:\n'2x' is not a valid "
                                       "integer value"});
    EXPECT_EQ(Column(window, jcLastError),
              (std::vector<std::string>{"", "Host is empty", "'2x' is not a valid integer value"}));
    window.JobTable->btnStopAll->click();
    EXPECT_TRUE(WaitStates(window, {"stopped", "stopped", "stopped"}));

    // Edit job and a double-click open the settings dialog; a cancelled dialog changes nothing.
    int opened = 0;
    auto cancelDialog = [&] {
        QTimer::singleShot(0, [&] {
            if (auto* dialog = qobject_cast<TfrmSettings*>(QApplication::activeModalWidget())) {
                ++opened;
                dialog->reject();
            }
        });
    };
    window.JobTable->Select({1});
    cancelDialog();
    window.JobTable->btnEditJob->click();
    cancelDialog();
    emit window.JobTable->tblJobs->doubleClicked(window.JobRows->index(2, jcServer));
    EXPECT_EQ(opened, 2);
    EXPECT_EQ(Column(window, jcName), (std::vector<std::string>{"Good", "NoHost", "BadPort"}));
}

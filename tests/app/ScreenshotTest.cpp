// The README's pictures of the job table and the settings dialog, taken from the program
// itself: three jobs against a local server, one of them in the middle of a big upload. Runs
// only when TAVRIN_SCREENSHOT_DIR names the folder to write to, e.g.
//   TAVRIN_SCREENSHOT_DIR=$PWD/docs/images test_app --gtest_filter='Screenshots.*'
#include "app/JobTableModel.h"
#include "app/MainForm.h"
#include "config/ConfigPaths.h"
#include "config/LogSwitches.h"
#include "config/dialog/MessageBoxes.h"
#include "config/dialog/SettingsForm.h"
#include "servers/ChildProcess.h"
#include "servers/RealServers.h"

#include <QHeaderView>
#include <QPixmap>
#include <QSplitter>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

// Big enough to be caught in the middle of its upload on the loopback.
constexpr uint64_t kBigFile = 3ull << 30;

void Payload(const std::string& path, uint64_t size) {
    std::ofstream out(path, std::ios::binary);
    const std::string block(1 << 20, 'x');
    for (uint64_t written = 0; written < size; written += block.size())
        out.write(block.data(),
                  static_cast<std::streamsize>(std::min<uint64_t>(block.size(), size - written)));
}

// Keeps the picture small: the PNG of a window is mostly flat colour.
bool Save(const QPixmap& picture, const std::string& path) {
    return picture.toImage()
        .convertToFormat(QImage::Format_RGB888)
        .save(QString::fromStdString(path), "PNG", 9);
}

} // namespace

TEST(Screenshots, JobTableAndSettingsDialog) {
    const char* target = std::getenv("TAVRIN_SCREENSHOT_DIR");
    if (!target)
        GTEST_SKIP() << "TAVRIN_SCREENSHOT_DIR names where the pictures go";
    const std::string dir = testsrv::MakeTempDir("screenshots-");
    for (const char* sub : {"/server/scans", "/server/invoices", "/server/partner", "/scans",
                            "/invoices", "/partner"})
        std::filesystem::create_directories(dir + sub);
    testsrv::PyFtpdServer server({.root = dir + "/server"});
    const std::string port = std::to_string(server.Port());
    auto job = [&](const char* kind, const char* name, const char* folder, const char* extra) {
        return std::string("[") + kind + ":" + name + "]\nHost=127.0.0.1\nPort=" + port +
               "\nUsername=tavrin\nPassword=secret\nRemoteFolder=/" + folder +
               "\nLocalFolder=" + dir + "/" + folder + "\nPassiveMode=1\nBinaryMode=1\n" + extra;
    };
    std::ofstream(tavrin::ConfigFilePath())
        << "[General]\nLogMonitor=1\nLogFileTransfer=1\nLogSSL=0\nLogVerbose=0\n"
        << job("Export", "Scanner", "scans", "SettleTime=0\n")
        << job("Import", "Invoices", "invoices",
               "KeepAlive=1\nCheckInterval=5\nWaitForStableFiles=0\n")
        << job("Export", "Partner drop box", "partner", "SettleTime=0\n");
    for (const char* name : {"INV-20418.pdf", "INV-20419.pdf", "INV-20420.pdf"})
        Payload(dir + "/server/invoices/" + name, 180 * 1024);

    tavrin::TMessageRecorder boxes;
    {
        TfmMainForm window;
        window.resize(1180, 600);
        window.Splitter->setSizes({190, 300});
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        window.StartAllJobs();
        for (const char* name : {"scan-0091.tif", "scan-0092.tif"})
            Payload(dir + "/scans/" + name, 2 << 20);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return window.Jobs().Find("Scanner")->Activity().filesToday == 2; }, 20000));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return window.Jobs().Find("Invoices")->Activity().filesToday == 3; }, 20000));
        // Written beside the folder and moved in, so the export sees it whole.
        Payload(dir + "/catalogue-2027.pdf", kBigFile);
        std::filesystem::rename(dir + "/catalogue-2027.pdf", dir + "/partner/catalogue-2027.pdf");
        // Caught a while into the upload, when rate and time left come from several reports.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                const auto& current = window.Jobs().Find("Partner drop box")->Activity().current;
                return current && current->done >= kBigFile / 3;
            },
            60000));
        window.JobTable->Select({2});
        for (int column : {tavrin::app::jcName, tavrin::app::jcServer, tavrin::app::jcLastTransfer})
            window.JobTable->tblJobs->resizeColumnToContents(column);
        EXPECT_TRUE(Save(window.grab(), std::string(target) + "/job-table.png"));

        TfrmSettings dialog(&window);
        ASSERT_TRUE(dialog.SelectJob("Partner drop box"));
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        EXPECT_TRUE(Save(dialog.grab(), std::string(target) + "/settings-dialog.png"));
        dialog.reject();
        window.close();
    }
    std::remove(tavrin::ConfigFilePath().c_str());
    std::filesystem::remove_all(dir);
    LogMonitor = LogFileTransfer = LogSSL = LogVerbose = true;
}

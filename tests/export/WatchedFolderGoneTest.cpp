// The watched folder taken away while the export monitor runs: removed, or replaced by a
// rename. The monitor says so in red at once, takes the watch up again when the folder is
// back, and sends the files it then finds as well as those that come later.
#include "ExportTestFolder.h"
#include "ExportTestLog.h"
#include "export/FolderMonitorUnit.h"
#include "servers/RealServers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace {

using namespace std::chrono_literals;
using exporttest::LogCapture;
using exporttest::LogLine;
using exporttest::LogSwitchesSetTo;
using exporttest::TestFolder;
namespace stdfs = std::filesystem;

TEST(WatchedFolderGoneTest, RedLineAtOnceThenWatchedAgainAndFilesThenPresentAreSent) {
    LogSwitchesSetTo switches(true);
    TestFolder folder;
    const std::string serverRoot = folder.Root() + "/server";
    stdfs::create_directories(serverRoot + "/in");
    testsrv::PyFtpdOptions options;
    options.root = serverRoot;
    testsrv::PyFtpdServer server(options);

    using Step = std::function<void(const std::string& watched, const std::string& spare)>;
    const auto remove = [](const std::string& watched, const std::string&) {
        stdfs::remove_all(watched);
    };
    const auto renameSpareOverIt = [](const std::string& watched, const std::string& spare) {
        stdfs::rename(spare, watched);
    };
    const struct Row {
        const char* label;
        Step takeAway;             // the folder is not watched after this
        Step bringBack;            // nullptr: taking it away brought another one back already
        bool comesBackFull = true; // with a file in it that was never reported
    } rows[] = {
        {"removed, then made again", remove,
         [](const std::string& watched, const std::string&) { stdfs::create_directory(watched); },
         false},
        {"removed, then a full folder renamed into its place", remove, renameSpareOverIt},
        {"moved away, then a full folder renamed into its place",
         [](const std::string& watched, const std::string& spare) {
             stdfs::rename(watched, spare + "-old");
         },
         renameSpareOverIt},
        {"replaced at once by a full folder renamed over it", renameSpareOverIt, nullptr},
    };
    int number = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const std::string tag = std::to_string(number++);
        const std::string watched = folder.Root() + "/watched" + tag;
        const std::string spare = folder.Root() + "/spare" + tag;
        stdfs::create_directory(watched);
        stdfs::create_directory(spare);
        TestFolder::Write("waiting" + tag, "there when the folder came back", spare);

        RConfiguration config;
        config.LocalFolder = watched;
        config.Host = "127.0.0.1";
        config.Port = std::to_string(server.Port());
        config.Username = "tavrin";
        config.Password = "secret";
        config.PassiveMode = true;
        config.BinaryMode = true;
        config.RemoteFolder = "/in";
        config.SettleTime = 0;
        LogCapture log;
        TFolderMonitor monitor(config, log.Sink());
        ASSERT_TRUE(monitor.Watching());

        row.takeAway(watched, spare);
        ASSERT_TRUE(log.WaitFor("Export > Watched folder " + watched + " ", 5s)) << log.Dump();
        if (row.bringBack) {
            EXPECT_FALSE(monitor.Watching());
        }
        if (row.bringBack)
            row.bringBack(watched, spare);
        ASSERT_TRUE(log.WaitFor("Export > Watching folder " + watched + " again.", 10s))
            << log.Dump();
        EXPECT_TRUE(monitor.Watching());
        TestFolder::Write("later" + tag, "written after the folder came back", watched);
        ASSERT_TRUE(log.WaitFor("\" done", 20s, row.comesBackFull ? 2 : 1)) << log.Dump();
        EXPECT_EQ(TestFolder::Read(serverRoot + "/in/later" + tag),
                  "written after the folder came back");
        if (row.comesBackFull) {
            EXPECT_EQ(TestFolder::Read(serverRoot + "/in/waiting" + tag),
                      "there when the folder came back");
        }
        EXPECT_EQ(log.Count(" not uploaded."), 0u) << log.Dump();
        for (const LogLine& line : log.Lines())
            if (line.text.find("Export > Watched folder ") == 0) {
                EXPECT_EQ(line.colour, clRed);
            }
    }
}

} // namespace

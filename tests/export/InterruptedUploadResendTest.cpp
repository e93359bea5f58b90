// An upload the monitor did not see through (stopped in the middle; the service test kills the
// process instead) leaves the server a truncated file under the final name. The next start
// sends that file again before anything else, whatever ExportExisting says; an upload that
// failed cleanly or a file that is gone since is left alone.
#include "ExportTestFolder.h"
#include "ExportTestLog.h"
#include "export/FolderMonitorUnit.h"
#include "servers/FaultyFtpdServer.h"
#include "servers/RealServers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

namespace {

using namespace std::chrono_literals;
using exporttest::LogCapture;
using exporttest::LogSwitchesSetTo;
using exporttest::RandomBytes;
using exporttest::TestFolder;
namespace stdfs = std::filesystem;

TEST(InterruptedUploadResendTest, UploadCutOffByAStopIsSentAgainFirstAtTheNextStart) {
    LogSwitchesSetTo switches(true);
    const struct Row {
        const char* label;
        bool cutOff;           // else the server refuses the STOR cleanly
        bool deletedMeanwhile; // the file leaves the watched folder before the restart
        bool sentAgain;
    } rows[] = {
        {"cut off by a stop", true, false, true},
        {"cut off, then deleted before the restart", true, true, false},
        {"refused cleanly by the server", false, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        TestFolder folder;
        const std::string serverRoot = folder.Root() + "/server";
        stdfs::create_directories(serverRoot + "/in");
        testsrv::FaultyFtpdServer server({.root = serverRoot});
        const std::string content = RandomBytes(8 << 20, 7);
        server.SetFaults(row.cutOff ? testsrv::FaultPlan().StopReadingUpload("big.bin", 300000)
                                    : testsrv::FaultPlan().RefuseUpload("big.bin", "553 No."));
        RConfiguration config =
            exporttest::LoopbackExport(folder, server.Port(), server.User(), server.Password());
        config.ExportExisting = false;

        LogCapture first;
        {
            TFolderMonitor monitor(config, first.Sink());
            folder.Write("big.bin", content, folder.Outside());
            stdfs::rename(folder.Outside() + "/big.bin", folder.Watched() + "/big.bin");
            const bool reached = row.cutOff ? server.WaitForEvent("stop-reading big.bin", 20s)
                                            : first.WaitForCycleEnd(20s);
            ASSERT_TRUE(reached) << first.Dump();
        }
        ASSERT_EQ(first.Count("Export > File big.bin not uploaded."), 1u) << first.Dump();
        if (row.cutOff) {
            EXPECT_LT(stdfs::file_size(serverRoot + "/in/big.bin"), content.size());
        }
        if (row.deletedMeanwhile)
            stdfs::remove(folder.Watched() + "/big.bin");

        server.SetFaults({});
        LogCapture second;
        {
            TFolderMonitor monitor(config, second.Sink());
            // Sent after whatever the start queued first, so its end is the end of both.
            folder.Write("marker.txt", "marker");
            ASSERT_TRUE(second.WaitFor("/marker.txt\" done", 30s)) << second.Dump();
        }
        EXPECT_EQ(second.Count("Export > File big.bin is sent again after an interrupted run."),
                  row.sentAgain ? 1u : 0u)
            << second.Dump();
        EXPECT_EQ(second.Count("/big.bin\" done"), row.sentAgain ? 1u : 0u) << second.Dump();
        EXPECT_EQ(second.Count(" not uploaded."), 0u) << second.Dump();
        if (row.sentAgain) {
            EXPECT_TRUE(TestFolder::Read(serverRoot + "/in/big.bin") == content);
            const std::string log = second.Dump();
            EXPECT_LT(log.find("/big.bin\" done"), log.find("/marker.txt\" done")) << log;
        }
    }
}

} // namespace

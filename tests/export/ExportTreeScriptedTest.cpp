// The folders an upload below a subfolder asks the server for, in the server's own path form,
// against a scripted server: made one level at a time under the temp folder and the final
// one; a refused MKD (an existing folder) does not stop the upload, and a folder that is
// really missing fails the file with the server's reason for the STOR.
#include "ExportTestFolder.h"
#include "ExportTestLog.h"
#include "export/FolderMonitorUnit.h"
#include "servers/ScriptedFtpServer.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using namespace std::chrono_literals;
using exporttest::LogCapture;
using exporttest::LogSwitchesSetTo;
using exporttest::TestFolder;
using Lines = std::vector<std::string>;

TEST(ExportTreeScripted, FoldersAreMadeLevelByLevelInTheServersPathForm) {
    const struct Row {
        const char* label;
        const char* syst;
        const char* mkd;
        const char* stor; // empty: the data is taken
        bool viaTemp;
        Lines commands;
        bool done;
    } rows[] = {
        {"Windows NT, through the temp folder",
         "215 Windows_NT\r\n",
         "257 \"made\"\r\n",
         "",
         true,
         {"MKD /tmp\\sub", "MKD /tmp\\sub\\deeper", "STOR /tmp\\sub\\deeper\\a.txt", "MKD /in\\sub",
          "MKD /in\\sub\\deeper", "RNFR /tmp\\sub\\deeper\\a.txt", "RNTO /in\\sub\\deeper\\a.txt"},
         true},
        {"UNIX, folders there already",
         "215 UNIX Type: L8\r\n",
         "550 Create directory operation failed.\r\n",
         "",
         false,
         {"MKD /in/sub", "MKD /in/sub/deeper", "STOR /in/sub/deeper/a.txt"},
         true},
        {"UNIX, folder really missing",
         "215 UNIX Type: L8\r\n",
         "550 Permission denied.\r\n",
         "553 Could not create file.\r\n",
         false,
         {"MKD /in/sub", "MKD /in/sub/deeper", "STOR /in/sub/deeper/a.txt"},
         false},
    };
    LogSwitchesSetTo switches{true};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        testsrv::ScriptedFtpServer server;
        auto received = std::make_shared<std::string>();
        server.Reply("SYST", row.syst);
        server.Reply("MKD", row.mkd);
        if (*row.stor)
            server.Reply("STOR", row.stor);
        else
            server.Handle("STOR", testsrv::ReceiveData(received));
        server.Reply("RNFR", "350 Ready for destination\r\n");
        server.Reply("RNTO", "250 Renamed\r\n");
        TestFolder folder;
        std::filesystem::create_directories(folder.Watched() + "/sub/deeper");
        RConfiguration config = exporttest::LoopbackExport(folder, server.Port());
        config.BinaryMode = false; // no SIZE to script
        config.TempFolder = "/tmp";
        config.FirstToTemp = row.viaTemp;
        config.Recursive = true;
        LogCapture log;
        {
            TFolderMonitor monitor(config, log.Sink());
            ASSERT_TRUE(monitor.Watching());
            folder.Write("sub/deeper/a.txt", "payload");
            ASSERT_TRUE(log.WaitForCycleEnd(20s)) << log.Dump();
        }
        Lines commands;
        for (const std::string& line : server.Commands())
            for (const char* verb : {"STOR ", "MKD ", "RNFR ", "RNTO "})
                if (line.starts_with(verb))
                    commands.push_back(line);
        EXPECT_EQ(commands, row.commands);
        EXPECT_EQ(log.Count("Uploading file \"" + folder.Watched() + "/sub/deeper/a.txt\" done"),
                  row.done ? 1u : 0u)
            << log.Dump();
        if (row.done) {
            EXPECT_EQ(*received, "payload");
        } else {
            EXPECT_EQ(log.Count("Export > File sub/deeper/a.txt not uploaded."), 1u) << log.Dump();
            EXPECT_EQ(log.Count("Could not create file."), 1u) << log.Dump();
        }
    }
}

} // namespace

// The export cycle's exchange with a scripted server: remote paths, the rename from the
// temporary folder, and the failures that must not pass for an upload.
#include "ExportTestFolder.h"
#include "ExportTestLog.h"
#include "export/FolderMonitorUnit.h"
#include "servers/ScriptedFtpServer.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using exporttest::LogCapture;
using exporttest::LogLine;
using exporttest::LogSwitchesSetTo;
using exporttest::TestFolder;
using Lines = std::vector<std::string>;

class ExportCycleScriptedTest : public ::testing::Test {
protected:
    ExportCycleScriptedTest() : received(std::make_shared<std::string>()) {
        server.Handle("STOR", testsrv::ReceiveData(received));
        config.LocalFolder = folder.Watched();
        config.Host = "127.0.0.1";
        config.Port = std::to_string(server.Port());
        config.Username = "user";
        config.Password = "pass";
        config.PassiveMode = true;
        config.BinaryMode = true;
        config.RemoteFolder = "/in";
        config.TempFolder = "/tmp";
    }

    // Drops one file into the watched folder and returns once its cycle logged its end.
    void ExportOne(const std::string& name, const std::string& content) {
        TFolderMonitor monitor(config, log.Sink());
        ASSERT_TRUE(monitor.Watching());
        folder.Write(name, content);
        ASSERT_TRUE(log.WaitForCycleEnd(20s));
    }

    // The commands after login that name files or folders, in order.
    Lines FileCommands() const {
        Lines kept;
        for (const std::string& line : server.Commands())
            for (const char* verb : {"STOR ", "CWD ", "RNFR ", "RNTO ", "DELE ", "QUIT"})
                if (line.rfind(verb, 0) == 0)
                    kept.push_back(line);
        return kept;
    }

    LogSwitchesSetTo switches{true};
    TestFolder folder;
    testsrv::ScriptedFtpServer server;
    std::shared_ptr<std::string> received;
    RConfiguration config;
    LogCapture log;
};

TEST_F(ExportCycleScriptedTest, SeparatorIsSlashOnlyWhenTheSystemCallsItselfUNIX) {
    const struct {
        const char* syst;
        const char* stored;
    } cases[] = {
        {"215 UNIX Type: L8\r\n", "STOR /in/a.txt"},
        {"215 Windows_NT\r\n", "STOR /in\\a.txt"},
        {"215 Unix Type: L8\r\n", "STOR /in\\a.txt"},       // the test is case-sensitive
        {"500 SYST not understood\r\n", "STOR /in\\a.txt"}, // "Unknown"
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.syst);
        testsrv::ScriptedFtpServer peer;
        auto sink = std::make_shared<std::string>();
        peer.Reply("SYST", c.syst);
        peer.Handle("STOR", testsrv::ReceiveData(sink));
        config.Port = std::to_string(peer.Port());
        TestFolder local;
        config.LocalFolder = local.Watched();
        LogCapture lines;
        {
            TFolderMonitor monitor(config, lines.Sink());
            local.Write("a.txt", "content of a");
            ASSERT_TRUE(lines.WaitFor("\" done", 20s));
        }
        EXPECT_EQ(*sink, "content of a");
        Lines stores;
        for (const std::string& line : peer.Commands())
            if (line.rfind("STOR", 0) == 0)
                stores.push_back(line);
        EXPECT_EQ(stores, Lines{c.stored});
    }
}

TEST_F(ExportCycleScriptedTest, FirstToTempStoresInTempThenRenamesFromTheRoot) {
    server.Reply("RNFR", "350 Ready for destination\r\n");
    server.Reply("RNTO", "250 Renamed\r\n");
    config.FirstToTemp = true;
    ExportOne("a.txt", "payload");
    EXPECT_EQ(FileCommands(),
              (Lines{"STOR /tmp/a.txt", "CWD /", "RNFR /tmp/a.txt", "RNTO /in/a.txt", "QUIT"}));
    EXPECT_EQ(log.Count("Export > Uploading file \"" + folder.Watched() + "/a.txt\" done"), 1u);
}

TEST_F(ExportCycleScriptedTest, RefusedStoreOrRenameIsNotUploadedAndTheFileStays) {
    server.Reply("RNFR", "350 Ready for destination\r\n");
    server.Reply("RNTO", "553 Not allowed\r\n");
    config.FirstToTemp = true;
    config.MoveDelete = true;
    config.MoveToFolder = folder.Root() + "/done";
    ExportOne("a.txt", "payload");
    EXPECT_EQ(log.Count("\" done"), 0u);
    EXPECT_TRUE(std::filesystem::exists(folder.Watched() + "/a.txt"));
    EXPECT_FALSE(std::filesystem::exists(config.MoveToFolder));
    const std::string path = folder.Watched() + "/a.txt";
    EXPECT_EQ(log.WithoutStatusLines(), (std::vector<LogLine>{
                                            {"Export > Monitor started", clMaroon},
                                            {"Export > File a.txt ready for export.", clGreen},
                                            {"Export > Uploading file \"" + path + "\"", clGreen},
                                            {"Export > File a.txt not uploaded.", clRed},
                                            {"Export > Monitor closed", clMaroon},
                                        }));
}

TEST_F(ExportCycleScriptedTest, NameWithALineBreakIsNotUploadedAndNoConnectionIsMade) {
    {
        TFolderMonitor monitor(config, log.Sink());
        folder.Write("evil\r\nDELE x", "x");
        folder.Write("fine.txt", "y");
        ASSERT_TRUE(log.WaitFor("\" done", 20s));
    }
    EXPECT_EQ(server.SessionsAccepted(), 1); // only fine.txt's
    EXPECT_EQ(log.Count("Export > File evil\r\nDELE x not uploaded."), 1u);
    EXPECT_EQ(*received, "y");
}

TEST_F(ExportCycleScriptedTest, PortThatIsNoNumberEndsOnlyThatCycleWithItsReason) {
    LogSwitchesSetTo off(false);
    config.Port = "21x";
    TFolderMonitor monitor(config, log.Sink());
    folder.Write("a.txt", "a");
    ASSERT_TRUE(log.WaitFor("not a valid", 10s));
    // The watch goes on: the next file gets its own cycle and its own line.
    folder.Write("b.txt", "b");
    ASSERT_TRUE(log.WaitFor("not a valid", 10s, 2));
    const LogLine expected{"Export > '21x' is not a valid integer value", clRed};
    EXPECT_EQ(log.Lines(), (std::vector<LogLine>{expected, expected}));
    EXPECT_EQ(server.SessionsAccepted(), 0);
}

} // namespace

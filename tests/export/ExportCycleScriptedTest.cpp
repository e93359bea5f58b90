// The export cycle's exchange with a scripted server: remote paths, the rename from the
// temporary folder, and the failures that must not pass for an upload.
#include "ExportTestFolder.h"
#include "ExportTestLog.h"
#include "export/FolderMonitorUnit.h"
#include "servers/ScriptedFtpServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <optional>
#include <thread>

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
        config = exporttest::LoopbackExport(folder, server.Port());
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

// The rename goes from the folder the STOR was sent in, so relative paths resolve alike.
TEST_F(ExportCycleScriptedTest, FirstToTempStoresInTempThenRenamesWithoutChangingFolder) {
    server.Reply("RNFR", "350 Ready for destination\r\n");
    server.Reply("RNTO", "250 Renamed\r\n");
    config.FirstToTemp = true;
    ExportOne("a.txt", "payload");
    EXPECT_EQ(FileCommands(),
              (Lines{"STOR /tmp/a.txt", "RNFR /tmp/a.txt", "RNTO /in/a.txt", "QUIT"}));
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
                                            {"Export > Not allowed", clRed},
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

// A failure whose exception carries no text still says what was being done and with which
// server, so the red line is never left without a reason.
TEST_F(ExportCycleScriptedTest, FailureWithoutAMessageNamesTheStepAndTheServer) {
    LogSwitchesSetTo off(false);
    const std::string where = "127.0.0.1:" + config.Port;
    const struct {
        const char* label;
        const char* host;
        bool firstToTemp;
        const char* verb;
        const char* reply;
        std::string reason;
    } cases[] = {
        {"no host set", "", false, nullptr, nullptr, "Connecting failed: no export host is set."},
        {"STOR refused with a bare code", "127.0.0.1", false, "STOR", "550\r\n",
         "Uploading a.txt to " + where + " failed: the server answered 550 without a text."},
        {"RNTO refused with a bare code", "127.0.0.1", true, "RNTO", "553\r\n",
         "Renaming a.txt on " + where + " failed: the server answered 553 without a text."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        server.Reply("RNFR", "350 Ready for destination\r\n");
        server.Handle("STOR", testsrv::ReceiveData(received));
        if (c.verb) // a handler goes before a canned reply
            server.Handle(
                c.verb, [&c](testsrv::ScriptedSession& s, const std::string&) { s.Send(c.reply); });
        config.Host = c.host;
        config.FirstToTemp = c.firstToTemp;
        TestFolder local;
        config.LocalFolder = local.Watched();
        LogCapture lines;
        {
            TFolderMonitor monitor(config, lines.Sink());
            local.Write("a.txt", "payload");
            ASSERT_TRUE(lines.WaitForCycleEnd(20s));
        }
        EXPECT_EQ(lines.Lines(), (std::vector<LogLine>{{"Export > File a.txt not uploaded.", clRed},
                                                       {"Export > " + c.reason, clRed}}));
    }
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

TEST_F(ExportCycleScriptedTest, RemoteSizeMustMatchTheLocalFileWhenTheServerTellsIt) {
    const struct {
        const char* label;
        bool binary;
        const char* sizeReply;
        bool uploaded;
        const char* reason;
    } cases[] = {
        {"same size", true, "213 7\r\n", true, nullptr},
        {"short copy on the server", true, "213 3\r\n", false,
         "Export > The server holds 3 bytes of a.txt, the local file has 7 bytes."},
        {"server without SIZE", true, "502 Not implemented\r\n", true, nullptr},
        {"ASCII transfers are not compared", false, "213 3\r\n", true, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        testsrv::ScriptedFtpServer peer;
        peer.Handle("STOR", testsrv::ReceiveData(std::make_shared<std::string>()));
        peer.Reply("SIZE", c.sizeReply);
        config.Port = std::to_string(peer.Port());
        config.BinaryMode = c.binary;
        config.MoveDelete = true;
        config.MoveToFolder = folder.Root() + "/done-" + c.label;
        TestFolder local;
        config.LocalFolder = local.Watched();
        LogCapture lines;
        {
            TFolderMonitor monitor(config, lines.Sink());
            local.Write("a.txt", "payload");
            ASSERT_TRUE(lines.WaitForCycleEnd(20s));
        }
        EXPECT_EQ(lines.Count("\" done"), c.uploaded ? 1u : 0u);
        EXPECT_EQ(std::filesystem::exists(local.Watched() + "/a.txt"), !c.uploaded);
        if (c.reason) {
            EXPECT_EQ(lines.Count("Export > File a.txt not uploaded."), 1u);
            EXPECT_EQ(lines.Count(c.reason), 1u);
        }
        auto commands = peer.Commands();
        EXPECT_EQ(std::count(commands.begin(), commands.end(), "SIZE /in/a.txt"), c.binary ? 1 : 0);
    }
}

TEST_F(ExportCycleScriptedTest, FailedFileIsRetriedUntilTheServerTakesItAndEachRetryIsLogged) {
    auto calls = std::make_shared<std::atomic<int>>(0);
    server.Handle("STOR", [this, calls](testsrv::ScriptedSession& s, const std::string& line) {
        if (++*calls <= 2) {
            s.Send("451 Local error in processing\r\n");
            return;
        }
        testsrv::ReceiveData(received)(s, line);
    });
    config.RetryFailed = true;
    TFolderMonitor monitor(config, log.Sink(), {50ms, 100ms});
    folder.Write("a.txt", "third time lucky");
    ASSERT_TRUE(log.WaitFor("\" done", 20s));
    EXPECT_EQ(*received, "third time lucky");
    EXPECT_EQ(log.Count("Export > File a.txt not uploaded."), 2u);
    EXPECT_EQ(log.Count("Export > Retrying file a.txt (retry 1)."), 1u);
    EXPECT_EQ(log.Count("Export > Retrying file a.txt (retry 2)."), 1u);
    EXPECT_EQ(calls->load(), 3);
}

TEST_F(ExportCycleScriptedTest, FileThatChangesDuringItsUploadIsSentAgainAndOnlyThenMoved) {
    auto stores = std::make_shared<std::atomic<int>>(0);
    const std::string path = folder.Watched() + "/a.txt";
    server.Handle("STOR",
                  [this, stores, path](testsrv::ScriptedSession& s, const std::string& line) {
                      if (++*stores == 1) // the writer is not done yet
                          std::ofstream(path, std::ios::binary | std::ios::app) << " and more";
                      received->clear(); // what the server keeps is the last upload
                      testsrv::ReceiveData(received)(s, line);
                  });
    config.SettleTime = 200;
    config.MoveDelete = true;
    config.MoveToFolder = folder.Root() + "/done";
    TFolderMonitor monitor(config, log.Sink());
    folder.Write("a.txt", "first part");
    ASSERT_TRUE(log.WaitFor("\" done", 20s));
    EXPECT_EQ(stores->load(), 2);
    EXPECT_EQ(*received, "first part and more");
    EXPECT_EQ(log.Count("Export > File a.txt changed during upload"), 1u);
    EXPECT_EQ(TestFolder::Read(config.MoveToFolder + "/a.txt"), "first part and more");
}

TEST_F(ExportCycleScriptedTest, StopDuringAStalledUploadReturnsWithinTwoSecondsAndTheFileStays) {
    std::atomic<bool> release{false};
    server.Handle("STOR", [&release](testsrv::ScriptedSession& s, const std::string&) {
        s.Send("150 Ok to send\r\n");
        s.DataSend(""); // connected, but never read from again
        for (int i = 0; i < 600 && !release; ++i)
            std::this_thread::sleep_for(50ms);
    });
    const std::string content(32 << 20, 'x'); // far more than the socket buffers hold
    folder.Write("big.bin", content, folder.Outside());
    std::optional<TFolderMonitor> monitor;
    monitor.emplace(config, log.Sink());
    std::filesystem::rename(folder.Outside() + "/big.bin", folder.Watched() + "/big.bin");
    ASSERT_TRUE(log.WaitFor("Export > Uploading file", 20s));
    ASSERT_TRUE(server.WaitForCommands(1, 5s));
    std::this_thread::sleep_for(300ms); // let the sender fill the buffers and block
    const auto start = std::chrono::steady_clock::now();
    monitor.reset();
    const auto stopping = std::chrono::steady_clock::now() - start;
    release = true;
    EXPECT_LT(stopping, 2s);
    EXPECT_EQ(log.Count("Export > File big.bin not uploaded."), 1u);
    EXPECT_EQ(log.Count("cut off because the monitor stopped"), 1u);
    EXPECT_EQ(std::filesystem::file_size(folder.Watched() + "/big.bin"), content.size());
}

TEST_F(ExportCycleScriptedTest, MissingFolderFailsTheStartAndVanishedFileGetsOneLine) {
    config.LocalFolder = folder.Root() + "/missing";
    try {
        TFolderMonitor monitor(config, log.Sink());
        FAIL() << "started without a folder";
    } catch (const EFolderWatchError& failure) {
        EXPECT_EQ(std::string(failure.what()),
                  "Cannot watch folder " + config.LocalFolder + ": No such file or directory");
    }
    EXPECT_EQ(log.Count("Monitor started"), 0u);

    LogSwitchesSetTo off(false);
    config.LocalFolder = folder.Watched();
    TFolderMonitor monitor(config, log.Sink());
    EXPECT_EQ(monitor.ExportFile({"gone.txt", 0}), TExportOutcome::Vanished);
    EXPECT_EQ(log.Lines(), (std::vector<LogLine>{
                               {"Export > File gone.txt vanished before upload.", clHotLight}}));
    EXPECT_EQ(server.SessionsAccepted(), 0);
}

} // namespace

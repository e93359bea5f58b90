// The note of uploads in progress grows by appended lines while files go out: what it reads
// back after any sequence, or after a run that ended in the middle of a line, are the names
// still in progress; and a file is in the note on disk while its STOR runs.
#include "export/UploadNote.h"
#include "ExportTestFolder.h"
#include "ExportTestLog.h"
#include "export/FolderMonitorUnit.h"
#include "servers/ScriptedFtpServer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;
using exporttest::LogCapture;
using exporttest::LogSwitchesSetTo;
using exporttest::TestFolder;
namespace stdfs = std::filesystem;
using Names = std::vector<std::string>;

void Plant(const TUploadNote& note, const std::string& content) {
    stdfs::create_directories(stdfs::path(note.Path()).parent_path());
    std::ofstream(note.Path(), std::ios::binary | std::ios::trunc) << content;
}

TEST(UploadNote, AppendedLinesReadBackAsTheNamesStillInProgress) {
    struct Row {
        const char* label;
        std::string content;
        Names read;
    };
    const std::vector<Row> rows = {
        {"started, one over, another started", "/w\na\nb\n/a\nc\n", {"b", "c"}},
        {"over and started again", "/w\na\n/a\na\n", {"a"}},
        {"every one over", "/w\na\nb\n/b\n/a\n", {}},
        {"a name twice", "/w\na\nb\na\n", {"a", "b"}},
        {"cut in the middle of a started line", "/w\na\nb", {"a"}},
        {"cut in the middle of an over line: the name stays", "/w\na\n/a", {"a"}},
        {"a name in a subfolder", "/w\nsub/a.txt\nb\n/sub/a.txt\n", {"b"}},
        {"over for a name never noted", "/w\n/x\na\n", {"a"}},
        {"an empty line among them", "/w\na\n\n/a\n", {}},
        {"another folder", "/other\na\n/b\n", {}},
        {"only the folder, cut", "/w", {}},
    };
    TUploadNote note("NoteLinesTest");
    for (const Row& row : rows) {
        Plant(note, row.content);
        EXPECT_EQ(note.Read("/w"), row.read) << row.label;
    }
    note.Clear();
}

// After each step: what the note reads back, and whether it is there at all.
TEST(NotedUploads, EveryStepLeavesTheNamesInProgressOnDiskAndNoneLeavesNoNote) {
    TUploadNote note("NotedStepsTest");
    note.Clear();
    struct Step {
        char op; // '+' Add, '-' Remove, 'x' the note is deleted behind the monitor's back
        const char* name;
        Names onDisk; // empty: no note file
    };
    const std::vector<Step> steps = {
        {'+', "a", {"earlier", "a"}},
        {'+', "b", {"earlier", "a", "b"}},
        {'-', "a", {"earlier", "a", "b"}}, // leaves with the next write
        {'+', "c", {"earlier", "b", "c"}},
        {'-', "earlier", {"earlier", "b", "c"}},
        {'+', "a", {"b", "c", "a"}}, // over, then started again
        {'x', "", {}},
        {'+', "d", {"b", "c", "a", "d"}}, // written whole again
        {'-', "b", {"b", "c", "a", "d"}},
        {'-', "c", {"b", "c", "a", "d"}},
        {'-', "a", {"b", "c", "a", "d"}},
        {'-', "d", {}},
        {'-', "d", {}},
        {'+', "e", {"e"}}, // a fresh note after none
        {'-', "e", {}},
    };
    TNotedUploads noted(note, "/w", {"earlier"});
    for (size_t at = 0; at < steps.size(); ++at) {
        const Step& step = steps[at];
        SCOPED_TRACE(std::to_string(at) + " " + step.op + step.name);
        if (step.op == '+')
            EXPECT_EQ(noted.Add(step.name), "");
        else if (step.op == '-')
            noted.Remove(step.name);
        else
            note.Clear();
        EXPECT_EQ(stdfs::exists(note.Path()), !step.onDisk.empty());
        EXPECT_EQ(note.Read("/w"), step.onDisk);
    }
}

TEST(NotedUploads, LongBurstKeepsTheNoteSmallAndRight) {
    TUploadNote note("NotedBurstTest");
    note.Clear();
    TNotedUploads noted(note, "/w", {});
    ASSERT_EQ(noted.Add("long upload"), "");
    uintmax_t largest = 0;
    for (int i = 0; i < 1200; ++i) {
        const std::string name = "file " + std::to_string(i);
        ASSERT_EQ(noted.Add(name), "");
        largest = std::max(largest, stdfs::file_size(note.Path()));
        if (i % 300 == 0) {
            EXPECT_EQ(note.Read("/w"), (Names{"long upload", name}));
        }
        noted.Remove(name);
    }
    // Some five hundred lines of at most 11 bytes at its longest; never written whole again,
    // it would reach 2,400.
    EXPECT_LT(largest, 600u * 12u);
    ASSERT_EQ(noted.Add("last"), "");
    EXPECT_EQ(note.Read("/w"), (Names{"long upload", "last"}));
    noted.Remove("long upload");
    noted.Remove("last");
    EXPECT_FALSE(stdfs::exists(note.Path()));
}

// Four connections, each STOR answered only once the server has looked into the note.
TEST(NotedUploads, EachFileIsInTheNoteOnDiskWhileItsStorRunsAndTheNoteGoesAfterwards) {
    LogSwitchesSetTo switches{true};
    for (bool keep : {false, true}) {
        SCOPED_TRACE(keep ? "kept connections" : "a login per file");
        TestFolder folder;
        const TUploadNote note("Export");
        note.Clear();
        testsrv::ScriptedFtpServer server;
        std::mutex mutex;
        std::map<std::string, std::string> stored;
        Names missing; // files the note did not hold when their STOR came
        server.Handle("STOR", [&](testsrv::ScriptedSession& s, const std::string& line) {
            const std::string name = line.substr(line.rfind('/') + 1);
            const Names noted = note.Read(folder.Watched());
            s.Send("150 Ok to send\r\n");
            const std::string bytes = s.DataReceiveAll(10s);
            s.DataClose();
            {
                std::lock_guard lock(mutex);
                if (std::find(noted.begin(), noted.end(), name) == noted.end())
                    missing.push_back(name);
                stored[name] = bytes;
            }
            s.Send("226 Transfer complete\r\n");
        });
        server.Handle("SIZE", [&](testsrv::ScriptedSession& s, const std::string& line) {
            std::lock_guard lock(mutex);
            s.Send("213 " + std::to_string(stored[line.substr(line.rfind('/') + 1)].size()) +
                   "\r\n");
        });
        RConfiguration config = exporttest::LoopbackExport(folder, server.Port());
        config.Connections = 4;
        config.KeepConnection = keep;
        constexpr int kFiles = 24;
        LogCapture log;
        {
            TFolderMonitor monitor(config, log.Sink());
            for (int i = 0; i < kFiles; ++i) {
                const std::string name = "f" + std::to_string(i) + ".txt";
                TestFolder::Write(name, "content of " + name, folder.Outside());
                stdfs::rename(folder.Outside() + "/" + name, folder.Watched() + "/" + name);
            }
            ASSERT_TRUE(log.WaitFor("\" done", 60s, kFiles)) << log.Dump();
            // The name leaves the note right after its "done" line.
            for (int step = 0; step < 1000 && stdfs::exists(note.Path()); ++step)
                std::this_thread::sleep_for(10ms);
            EXPECT_FALSE(stdfs::exists(note.Path())) << TestFolder::Read(note.Path());
        }
        std::lock_guard lock(mutex);
        EXPECT_EQ(missing, Names{});
        ASSERT_EQ(stored.size(), static_cast<size_t>(kFiles));
        for (const auto& [name, bytes] : stored)
            EXPECT_EQ(bytes, "content of " + name);
        for (const auto& line : log.Lines())
            EXPECT_NE(line.colour, clRed) << line.text;
    }
}

} // namespace

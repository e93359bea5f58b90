// Export jobs with subfolders against pyftpdlib, vsftpd and OpenSSH's sshd: every file of the
// tree down to MaxDepth arrives once, whole, under the same relative path (straight, or through
// the temp folder), including files already there at the start, a folder made during the run
// and a name that exists in two subfolders; what lies deeper stays; the moved files keep their
// tree and the watched subfolders stay.
#include "ExportTestFolder.h"
#include "ExportTestLog.h"
#include "ExportTestServers.h"
#include "export/FolderMonitorUnit.h"
#include "servers/FaultyFtpdServer.h"
#include "servers/PrivateHome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

namespace {

using namespace std::chrono_literals;
using exporttest::LogCapture;
using exporttest::LogSwitchesSetTo;
using exporttest::RandomBytes;
using exporttest::ServerKind;
using exporttest::TestFolder;
using exporttest::TestServer;
namespace stdfs = std::filesystem;

// The regular files below `folder`, by relative path.
std::set<std::string> FilesBelow(const std::string& folder) {
    std::set<std::string> files;
    if (!stdfs::is_directory(folder))
        return files;
    for (const auto& entry : stdfs::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            files.insert(stdfs::relative(entry.path(), folder).string());
    return files;
}

enum class When {
    AtStart,     // in the folder when the monitor starts (ExportExisting)
    Later,       // moved in whole during the run, into a folder that was there
    NewFolder,   // moved in right after its folder was made during the run
    MovedFolder, // its folder was made outside, filled, and moved in whole
};

struct TreeFile {
    std::string path;
    When when;
    bool sent = true; // false: deeper than MaxDepth
};

// MaxDepth 2: the folder itself, sub/ and sub/deeper/ are watched; sub/deeper/deepest/ is not.
const std::vector<TreeFile> kTree = {
    {"top.txt", When::AtStart},
    {"sub/a.txt", When::AtStart},
    {"other/a.txt", When::AtStart},
    {"sub/deeper/b.bin", When::AtStart},
    {"sub/deeper/deepest/no.txt", When::AtStart, false},
    {"sub/c.txt", When::Later},
    {"sub/deeper/d.bin", When::Later},
    {"sub/deeper/deepest/late.txt", When::Later, false},
    {"fresh/e.txt", When::NewFolder},
    {"fresh/inner/f.txt", When::NewFolder},
    {"moved/g.txt", When::MovedFolder},
    {"moved/h/i.txt", When::MovedFolder},
};

std::string ContentOf(const std::string& path) {
    // One file large enough to need many writes; the others small and all different.
    const size_t size = path.ends_with(".bin") ? 300000 + path.size() : 10 * path.size();
    return RandomBytes(size, static_cast<unsigned>(std::hash<std::string>{}(path)));
}

TEST(ExportTree, EveryFileToMaxDepthArrivesOnceUnderItsRelativePath) {
    const struct Row {
        ServerKind server;
        bool viaTemp; // through the temp folder, the local file moved and the connection kept
    } rows[] = {{ServerKind::Pyftpd, false}, {ServerKind::Pyftpd, true},
                {ServerKind::Vsftpd, false}, {ServerKind::Vsftpd, true},
                {ServerKind::Sshd, false},   {ServerKind::Sshd, true}};
    LogSwitchesSetTo switches{true};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(exporttest::NameOf(row.server)) +
                     (row.viaTemp ? ", via temp folder" : ", straight"));
        if (!TestServer::Unavailable(row.server).empty())
            continue;
        TestFolder folder;
        folder.LetServersIn();
        testsrv::PrivateHome home(folder.Root());
        const std::string remote = folder.Root() + "/server";
        stdfs::create_directories(remote + "/in");
        stdfs::create_directories(remote + "/tmp");
        // A folder of the tree that is already on the server is no failure.
        stdfs::create_directories(remote + "/in/sub");
        TestServer server(row.server, remote);

        RConfiguration config = server.Config();
        config.LocalFolder = folder.Watched();
        config.RemoteFolder = "in";
        config.Recursive = true;
        config.MaxDepth = 2;
        config.ExportExisting = true;
        config.SettleTime = 0;
        config.FirstToTemp = row.viaTemp;
        config.TempFolder = "tmp";
        config.MoveDelete = row.viaTemp;
        config.MoveToFolder = folder.Root() + "/sent";
        config.KeepConnection = row.viaTemp;

        const auto put = [&](const TreeFile& file, const std::string& base) {
            const stdfs::path target = stdfs::path(base) / file.path;
            stdfs::create_directories(target.parent_path());
            // Written beside the tree and moved in whole, so no half file is ever seen.
            TestFolder::Write("part", ContentOf(file.path), folder.Outside());
            stdfs::rename(folder.Outside() + "/part", target);
        };
        std::set<std::string> sent, kept;
        for (const TreeFile& file : kTree) {
            (file.sent ? sent : kept).insert(file.path);
            if (file.when == When::AtStart)
                put(file, folder.Watched());
        }

        LogCapture log;
        {
            TFolderMonitor monitor(config, log.Sink());
            ASSERT_TRUE(monitor.Watching());
            for (When when : {When::Later, When::NewFolder, When::MovedFolder}) {
                if (when == When::NewFolder)
                    stdfs::create_directories(folder.Watched() + "/fresh/inner");
                const std::string base =
                    when == When::MovedFolder ? folder.Root() + "/building" : folder.Watched();
                for (const TreeFile& file : kTree)
                    if (file.when == when)
                        put(file, base);
            }
            stdfs::rename(folder.Root() + "/building/moved", folder.Watched() + "/moved");
            ASSERT_TRUE(log.WaitFor("\" done", 60s, sent.size())) << log.Dump();
        }

        EXPECT_EQ(FilesBelow(remote + "/in"), sent) << log.Dump();
        EXPECT_TRUE(FilesBelow(remote + "/tmp").empty());
        for (const std::string& path : sent) {
            EXPECT_TRUE(TestFolder::Read(remote + "/in/" + path) == ContentOf(path)) << path;
            EXPECT_EQ(log.Count("\"" + folder.Watched() + "/" + path + "\" done"), 1u) << path;
        }
        for (const std::string& path : kept)
            EXPECT_EQ(log.Count(path), 0u) << path;
        EXPECT_EQ(log.Count("\" done"), sent.size());
        EXPECT_EQ(log.Count(" not uploaded."), 0u) << log.Dump();
        if (row.viaTemp) {
            EXPECT_EQ(FilesBelow(config.MoveToFolder), sent);
            for (const std::string& path : sent)
                EXPECT_TRUE(TestFolder::Read(config.MoveToFolder + "/" + path) == ContentOf(path))
                    << path;
            EXPECT_EQ(FilesBelow(folder.Watched()), kept);
            // Moving the files never takes their folders.
            for (const char* sub : {"sub/deeper", "other", "fresh/inner", "moved/h"})
                EXPECT_TRUE(stdfs::is_directory(folder.Watched() + "/" + sub)) << sub;
        } else {
            std::set<std::string> all = sent;
            all.insert(kept.begin(), kept.end());
            EXPECT_EQ(FilesBelow(folder.Watched()), all);
        }
        if (const auto commands = server.Commands()) {
            std::map<std::string, int> mkd, stor;
            for (const std::string& command : *commands) {
                if (command.starts_with("MKD "))
                    ++mkd[command.substr(4)];
                if (command.starts_with("STOR "))
                    ++stor[command.substr(5)];
            }
            for (const auto& [path, count] : stor)
                EXPECT_EQ(count, 1) << path;
            EXPECT_EQ(stor.size(), sent.size());
            // One kept connection carries every file: it asks for each folder once.
            if (row.viaTemp) {
                EXPECT_EQ(log.Count("> Connected."), 1u) << log.Dump();
                for (const auto& [path, count] : mkd)
                    EXPECT_EQ(count, 1) << path;
                EXPECT_EQ(mkd.count("tmp/sub/deeper"), 1u);
                EXPECT_EQ(mkd.count("in/moved/h"), 1u);
            }
        }
    }
}

// At the system's limit of folder watches the job says which folder it cannot watch and how
// to raise the limit, once per folder (one there at the start and one made during the run),
// and goes on sending the files of every folder it does watch.
TEST(ExportTree, FoldersBeyondTheWatchLimitAreNamedAndTheOthersStillGo) {
    LogSwitchesSetTo switches{true};
    TestFolder folder;
    const std::string remote = folder.Root() + "/server";
    stdfs::create_directories(remote + "/in");
    TestServer server(ServerKind::Pyftpd, remote);
    RConfiguration config = server.Config();
    config.LocalFolder = folder.Watched();
    config.RemoteFolder = "in";
    config.Recursive = true;
    config.SettleTime = 0;
    for (const char* sub : {"one", "two"})
        stdfs::create_directories(folder.Watched() + "/" + sub);

    struct Limit {
        Limit() { TWaitThread::LimitWatchesForTest(2); } // the folder and one subfolder
        ~Limit() { TWaitThread::LimitWatchesForTest(-1); }
    } limit;
    LogCapture log;
    TFolderMonitor monitor(config, log.Sink());
    ASSERT_TRUE(monitor.Watching());
    const auto limitLine = [&](const std::string& sub) {
        return "Export > Cannot watch folder " + folder.Watched() + "/" + sub +
               ": the system's limit of folder watches is reached; raise "
               "fs.inotify.max_user_watches.";
    };
    ASSERT_TRUE(log.WaitForAny({limitLine("one"), limitLine("two")}, 10s)) << log.Dump();
    const std::string watched = log.Count(limitLine("one")) == 0 ? "one" : "two";
    const std::string unwatched = watched == "one" ? "two" : "one";
    stdfs::create_directories(folder.Watched() + "/late");
    ASSERT_TRUE(log.WaitFor(limitLine("late"), 10s)) << log.Dump();

    const std::vector<std::string> files = {"top.txt", watched + "/a.txt", unwatched + "/b.txt",
                                            "late/c.txt"};
    for (const std::string& path : files) {
        TestFolder::Write("part", path, folder.Outside());
        stdfs::rename(folder.Outside() + "/part", folder.Watched() + "/" + path);
    }
    ASSERT_TRUE(log.WaitFor("\" done", 30s, 2)) << log.Dump();
    // A last file through a watched folder: once it is done, the two before it would be too.
    folder.Write("last.txt", "last");
    ASSERT_TRUE(log.WaitFor("/last.txt\" done", 30s)) << log.Dump();
    EXPECT_EQ(FilesBelow(remote + "/in"),
              (std::set<std::string>{"top.txt", watched + "/a.txt", "last.txt"}));
    for (const std::string& sub : {unwatched, std::string("late")}) {
        EXPECT_EQ(log.Count(limitLine(sub)), 1u) << log.Dump();
        for (const exporttest::LogLine& line : log.Lines()) {
            if (line.text == limitLine(sub)) {
                EXPECT_EQ(line.colour, clRed);
            }
        }
    }
    EXPECT_EQ(log.Count(limitLine(watched)), 0u);
    EXPECT_EQ(log.Count("Cannot watch"), 2u) << log.Dump();
}

// An upload below a subfolder that a stop cut off is noted by its relative path and sent
// again, whole and into its folder, first at the next start.
TEST(ExportTree, UploadCutOffBelowASubfolderIsSentAgainAtTheNextStart) {
    LogSwitchesSetTo switches{true};
    TestFolder folder;
    const std::string serverRoot = folder.Root() + "/server";
    stdfs::create_directories(serverRoot + "/in");
    testsrv::FaultyFtpdServer server({.root = serverRoot});
    server.SetFaults(testsrv::FaultPlan().StopReadingUpload("big.bin", 300000));
    RConfiguration config =
        exporttest::LoopbackExport(folder, server.Port(), server.User(), server.Password());
    config.Recursive = true;
    const std::string content = RandomBytes(8 << 20, 7);
    stdfs::create_directories(folder.Watched() + "/sub");
    LogCapture first;
    {
        TFolderMonitor monitor(config, first.Sink());
        folder.Write("big.bin", content, folder.Outside());
        stdfs::rename(folder.Outside() + "/big.bin", folder.Watched() + "/sub/big.bin");
        ASSERT_TRUE(server.WaitForEvent("stop-reading big.bin", 20s)) << first.Dump();
    }
    ASSERT_EQ(first.Count("Export > File sub/big.bin not uploaded."), 1u) << first.Dump();

    server.SetFaults({});
    LogCapture second;
    {
        TFolderMonitor monitor(config, second.Sink());
        folder.Write("marker.txt", "marker");
        ASSERT_TRUE(second.WaitFor("/marker.txt\" done", 30s)) << second.Dump();
    }
    EXPECT_EQ(second.Count("Export > File sub/big.bin is sent again after an interrupted run."), 1u)
        << second.Dump();
    EXPECT_EQ(second.Count("/sub/big.bin\" done"), 1u) << second.Dump();
    EXPECT_TRUE(TestFolder::Read(serverRoot + "/in/sub/big.bin") == content);
}

} // namespace

// The directory watch over a folder tree, on real folders: relative paths, folders that come
// and go during the watch, the depth limit, overflows and the watch limit.
#include "platform/DirectoryWatch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
namespace stdfs = std::filesystem;
using tavrin::TFolderChange;
using Kind = TFolderChange::Kind;
using Lines = std::vector<std::string>;

// One change as a line: "+a/b" arrived, "-a/b" gone, "lost", "back", "unwatched a/b 28".
std::string Describe(const TFolderChange& change) {
    switch (change.kind) {
    case Kind::Arrived:
        return "+" + change.name;
    case Kind::Gone:
        return "-" + change.name;
    case Kind::FolderLost:
        return "lost";
    case Kind::FolderBack:
        return "back";
    case Kind::NotWatched:
        return "unwatched " + change.name + " " + std::to_string(change.error);
    case Kind::Touched:
        break;
    }
    return "~" + change.name;
}

class DirectoryTreeWatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tavrin-tree-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root = pattern;
        folder = root / "watched";
        stdfs::create_directory(folder);
    }
    void TearDown() override { stdfs::remove_all(root); }

public: // for the steps of the tables
    // Writes a file, making its folders first.
    void Put(const std::string& path, const std::string& text = "x") const {
        stdfs::path full = folder / path;
        stdfs::create_directories(full.parent_path());
        std::ofstream(full, std::ios::binary) << text;
    }

    // Every change but touches until `sentinel` (written in the folder now) arrives, sorted:
    // everything done before is reported before it. Bounded by 5 s.
    Lines ChangesUntil(tavrin::TDirectoryWatch& watch, const std::string& sentinel = "end",
                       bool writeSentinel = true) {
        if (writeSentinel)
            Put(sentinel);
        Lines lines;
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        bool seen = false;
        while (!seen && std::chrono::steady_clock::now() < deadline)
            for (const TFolderChange& change : watch.WaitForChanges(100)) {
                if (change.kind == Kind::Touched)
                    continue;
                lines.push_back(Describe(change));
                seen = seen || lines.back() == "+" + sentinel;
            }
        std::sort(lines.begin(), lines.end());
        return lines;
    }

    stdfs::path root, folder;
};

TEST_F(DirectoryTreeWatchTest, ChangesInTheTreeAreToldByRelativePathDownToTheDepth) {
    using Step = std::function<void(DirectoryTreeWatchTest&)>;
    const struct Row {
        const char* label;
        int maxDepth;
        Step before; // before Open: never reported
        Step during;
        Lines expected; // sorted
    } rows[] = {
        {"files in a subfolder and one below it",
         2,
         [](auto& t) { stdfs::create_directories(t.folder / "sub/deeper"); },
         [](auto& t) {
             t.Put("sub/a.txt");
             t.Put("sub/deeper/b.txt");
         },
         {"+end", "+sub/a.txt", "+sub/deeper/b.txt"}},
        {"deeper than the depth, old or new, is not part of the tree",
         1,
         [](auto& t) { stdfs::create_directories(t.folder / "sub/old"); },
         [](auto& t) {
             t.Put("sub/old/b.txt");
             t.Put("sub/new/c.txt");
             t.Put("sub/a.txt");
         },
         {"+end", "+sub/a.txt"}},
        {"depth 0 is the folder alone",
         0,
         [](auto& t) { stdfs::create_directories(t.folder / "sub"); },
         [](auto& t) {
             t.Put("sub/a.txt");
             t.Put("new/b.txt");
         },
         {"+end"}},
        {"folders made at once with files written at once: each file once", 3, nullptr,
         [](auto& t) {
             for (int i = 0; i < 5; ++i) {
                 const std::string top = "n" + std::to_string(i);
                 stdfs::create_directories(t.folder / top / "b/c");
                 t.Put(top + "/b/c/f1");
                 t.Put(top + "/b/c/f2");
                 t.Put(top + "/top");
             }
         },
         [] {
             Lines lines{"+end"};
             for (int i = 0; i < 5; ++i)
                 for (const char* file : {"/b/c/f1", "/b/c/f2", "/top"})
                     lines.push_back("+n" + std::to_string(i) + file);
             std::sort(lines.begin(), lines.end());
             return lines;
         }()},
        {"one name in two subfolders is two files",
         1,
         [](auto& t) {
             stdfs::create_directories(t.folder / "a");
             stdfs::create_directories(t.folder / "b");
         },
         [](auto& t) {
             t.Put("a/x");
             t.Put("b/x");
             t.Put("x");
         },
         {"+a/x", "+b/x", "+end", "+x"}},
        {"renamed between subfolders, whole and still being written",
         2,
         [](auto& t) {
             t.Put("a/x");
             stdfs::create_directories(t.folder / "b/c");
         },
         [](auto& t) {
             stdfs::rename(t.folder / "a/x", t.folder / "b/c/x");
             int fd = ::open((t.folder / "a/p.part").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
             ASSERT_GE(fd, 0);
             stdfs::rename(t.folder / "a/p.part", t.folder / "b/p");
             ASSERT_EQ(::write(fd, "data", 4), 4);
             ::close(fd);
         },
         {"+b/c/x", "+b/p", "+end", "-a/p.part", "-a/x"}},
        {"subfolder removed: its files are gone",
         2,
         [](auto& t) {
             t.Put("a/1");
             t.Put("a/deep/2");
         },
         [](auto& t) { stdfs::remove_all(t.folder / "a"); },
         {"+end", "-a/1", "-a/deep/2"}},
        {"subfolder moved out: its files are gone and it is watched no more",
         2,
         [](auto& t) {
             t.Put("a/1");
             t.Put("a/deep/2");
             t.Put("ab/3");
             t.Put("a!/4");
         },
         [](auto& t) {
             stdfs::rename(t.folder / "a", t.root / "out");
             std::ofstream(t.root / "out/5") << "x";
             std::ofstream(t.root / "out/deep/6") << "x";
             t.Put("ab/7"); // a look-alike name is another folder
             t.Put("a!/8");
         },
         {"+a!/8", "+ab/7", "+end", "-a/1", "-a/deep/2"}},
        {"subfolder renamed inside: gone under the old paths, arrived under the new",
         2,
         [](auto& t) {
             t.Put("a/1");
             t.Put("a/deep/2");
         },
         [](auto& t) {
             stdfs::rename(t.folder / "a", t.folder / "b");
             t.Put("b/deep/3");
             t.Put("a/4"); // a new folder under the old name
         },
         {"+a/4", "+b/1", "+b/deep/2", "+b/deep/3", "+end", "-a/1", "-a/deep/2"}},
        {"folder moved in from outside brings its files",
         2,
         [](auto& t) {
             stdfs::create_directories(t.root / "in/deep");
             std::ofstream(t.root / "in/1") << "x";
             std::ofstream(t.root / "in/deep/2") << "x";
         },
         [](auto& t) { stdfs::rename(t.root / "in", t.folder / "in"); },
         {"+end", "+in/1", "+in/deep/2"}},
        {"hidden folders and links to folders are not part of the tree",
         2,
         [](auto& t) {
             stdfs::create_directories(t.root / "elsewhere");
             stdfs::create_directory_symlink(t.root / "elsewhere", t.folder / "link");
             t.Put(".old/1");
         },
         [](auto& t) {
             std::ofstream(t.root / "elsewhere/1") << "x";
             t.Put(".old/2");
             t.Put(".new/3");
             t.Put("sub/.hidden-file"); // files are files, as in the folder itself
             stdfs::rename(t.folder / ".new", t.folder / "shown");
         },
         {"+end", "+shown/3", "+sub/.hidden-file"}},
        {"watched folder replaced: back with every file of the tree",
         2,
         [](auto& t) { t.Put("a/old"); },
         [](auto& t) {
             stdfs::remove_all(t.folder);
             t.Put("a/b/1");
             t.Put("2");
         },
         {"+2", "+a/b/1", "+end", "-a/old", "back", "lost"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        stdfs::remove_all(folder);
        stdfs::remove_all(root / "out");
        stdfs::create_directory(folder);
        if (row.before)
            row.before(*this);
        tavrin::TDirectoryWatch watch;
        ASSERT_EQ(watch.Open(folder, row.maxDepth), 0);
        row.during(*this);
        EXPECT_EQ(ChangesUntil(watch), row.expected);
        // What the watch tells afterwards still has the right paths.
        if (row.maxDepth > 0) {
            Put("z/after");
            EXPECT_EQ(ChangesUntil(watch, "end2"), (Lines{"+end2", "+z/after"}));
        }
    }
}

// Folders made and filled while the watch reads: whether a file is found by the listing of its
// new folder, by its own events, or by both, it arrives once.
TEST_F(DirectoryTreeWatchTest, FoldersFilledWhileTheWatchReadsGiveEachFileOnce) {
    tavrin::TDirectoryWatch watch;
    ASSERT_EQ(watch.Open(folder, 3), 0);
    Lines expected{"+end"};
    for (int i = 0; i < 40; ++i)
        for (const char* file : {"/b/c/1", "/b/c/2", "/b/3", "/4"})
            expected.push_back("+n" + std::to_string(i) + file);
    std::sort(expected.begin(), expected.end());
    std::thread writer([this] {
        for (int i = 0; i < 40; ++i) {
            const std::string top = "n" + std::to_string(i);
            stdfs::create_directories(folder / top / "b/c");
            for (const char* file : {"/b/c/1", "/b/c/2", "/b/3", "/4"})
                Put(top + file);
        }
        Put("end");
    });
    Lines lines = ChangesUntil(watch, "end", false);
    writer.join();
    EXPECT_EQ(lines, expected);
}

// Events lost to an overflow of the kernel's queue (real: more than it holds while nobody
// reads; simulated: the same answer taken without losing them) are made good by a new look
// at the whole tree: new folders are watched from then on, gone ones no more.
TEST_F(DirectoryTreeWatchTest, OverflowRescanCoversTheTree) {
    for (bool simulated : {false, true}) {
        SCOPED_TRACE(simulated ? "simulated" : "real overflow");
        stdfs::remove_all(folder);
        stdfs::remove_all(root / "out");
        Put("old/1");
        Put("kept/2");
        tavrin::TDirectoryWatch watch;
        ASSERT_EQ(watch.Open(folder, 2), 0);
        const int burst = simulated ? 20 : 9000;
        for (int i = 0; i < burst; ++i)
            Put("f" + std::to_string(i));
        if (simulated)
            watch.SimulateOverflow();
        Put("late/deeper/3");
        Put("late/4");
        stdfs::rename(folder / "old", root / "out");
        Put("kept/5");
        Lines expected{"+end", "+kept/5", "+late/4", "+late/deeper/3", "-old/1"};
        for (int i = 0; i < burst; ++i)
            expected.push_back("+f" + std::to_string(i));
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(ChangesUntil(watch), expected);
        std::ofstream(root / "out/6") << "x";
        Put("late/deeper/7");
        EXPECT_EQ(ChangesUntil(watch, "end2"), (Lines{"+end2", "+late/deeper/7"}));
    }
}

// At the system's limit of watches a folder is left out and said so once; the rest of the tree
// stays watched, and a rescan tries the folders left out again.
TEST_F(DirectoryTreeWatchTest, FolderBeyondTheWatchLimitIsReportedOnceAndTheRestStaysWatched) {
    const std::string enospc = std::to_string(ENOSPC);
    Put("a/1");
    Put("b/2");
    Put("c/3");
    tavrin::TDirectoryWatch watch;
    watch.LimitWatchesForTest(3); // the folder, a and b
    ASSERT_EQ(watch.Open(folder, 2), 0);
    const struct Step {
        const char* label;
        std::function<void(DirectoryTreeWatchTest&, tavrin::TDirectoryWatch&)> action;
        Lines expected;
    } steps[] = {
        {"at Open", [](auto&, auto&) {}, {"+end", "unwatched c " + enospc}},
        {"created later, and files in folders left out",
         [](auto& t, auto&) {
             t.Put("d/e/4");
             t.Put("c/5");
             t.Put("a/6");
             t.Put("b/deep/7");
         },
         {"+a/6", "+end", "unwatched b/deep " + enospc, "unwatched d " + enospc}},
        {"more events, and a rescan that still fails: nothing said twice",
         [](auto& t, auto& w) {
             t.Put("8");
             t.Put("d/9");
             w.SimulateOverflow();
         },
         {"+8", "+end"}},
        {"removed and made again: said again",
         [](auto& t, auto&) {
             stdfs::remove_all(t.folder / "c");
             t.Put("c/10");
         },
         {"+end", "unwatched c " + enospc}},
        {"room again: the next rescan watches them and their files arrive",
         [](auto& t, auto& w) {
             w.LimitWatchesForTest(-1);
             w.SimulateOverflow();
         },
         {"+b/deep/7", "+c/10", "+d/9", "+d/e/4", "+end"}},
        {"and watches them from then on",
         [](auto& t, auto&) { t.Put("d/e/11"); },
         {"+d/e/11", "+end"}},
    };
    int round = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.label);
        step.action(*this, watch);
        // A fresh sentinel each time: a rewritten one would only be touched.
        const std::string sentinel = "end" + std::to_string(round++);
        Lines expected = step.expected;
        std::replace(expected.begin(), expected.end(), std::string("+end"), "+" + sentinel);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(ChangesUntil(watch, sentinel), expected);
    }
}

TEST_F(DirectoryTreeWatchTest, ListFilesGivesTheTreeByRelativePathDownToTheDepth) {
    Put("1");
    Put(".hidden");
    Put("a/2");
    Put("a/b/3");
    Put("a/b/c/4");
    Put(".dir/5");
    stdfs::create_directories(root / "elsewhere");
    std::ofstream(root / "elsewhere/6") << "x";
    stdfs::create_directory_symlink(root / "elsewhere", folder / "a/link");
    stdfs::create_symlink(folder / "1", folder / "a/file-link");
    using Set = std::set<std::string>;
    const struct Row {
        int maxDepth;
        Set expected;
    } rows[] = {
        {0, {".hidden", "1"}},
        {-1, {".hidden", "1"}},
        {1, {".hidden", "1", "a/2", "a/file-link"}},
        {2, {".hidden", "1", "a/2", "a/b/3", "a/file-link"}},
        {10, {".hidden", "1", "a/2", "a/b/3", "a/b/c/4", "a/file-link"}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(tavrin::TDirectoryWatch::ListFiles(folder, row.maxDepth), row.expected)
            << row.maxDepth;
}

} // namespace

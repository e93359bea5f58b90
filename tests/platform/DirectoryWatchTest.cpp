// The directory watch on real folders: which changes count as added files.
#include "platform/DirectoryWatch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
namespace stdfs = std::filesystem;

class DirectoryWatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tavrin-watch-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root = pattern;
        folder = root / "watched";
        stdfs::create_directory(folder);
    }
    void TearDown() override { stdfs::remove_all(root); }

    static void Write(const stdfs::path& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }

    // Every name reported until `sentinel` (included) arrives, or until the bound runs out.
    // Everything before the sentinel in time is reported before it, so this shows what a
    // sequence of changes produced.
    std::vector<std::string> ReportedUntil(const std::string& sentinel) {
        Write(folder / sentinel, "end");
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        std::thread watchdog([&] {
            std::unique_lock lock(mutex);
            if (!done.wait_for(lock, 5s, [&] { return finished; }))
                watch.Stop();
        });
        std::vector<std::string> reported;
        while (reported.empty() || reported.back() != sentinel) {
            auto batch = watch.WaitForAddedFiles();
            if (batch.empty())
                break; // stopped by the watchdog
            reported.insert(reported.end(), batch.begin(), batch.end());
        }
        {
            std::lock_guard lock(mutex);
            finished = true;
        }
        done.notify_all();
        watchdog.join();
        return reported;
    }

    stdfs::path root, folder;
    tavrin::TDirectoryWatch watch;
};

using Names = std::vector<std::string>;

TEST_F(DirectoryWatchTest, CreatedAndMovedInFilesAreReportedOnceByBareName) {
    Write(root / "elsewhere.txt", "moved in");
    ASSERT_EQ(watch.Open(folder), 0);
    Write(folder / "copied.txt", "payload");
    stdfs::rename(root / "elsewhere.txt", folder / "moved.txt");
    EXPECT_EQ(ReportedUntil("end"), (Names{"copied.txt", "moved.txt", "end"}));
}

TEST_F(DirectoryWatchTest, ChangesThatAreNotAdditionsAreNotReported) {
    Write(folder / "before.txt", "there at the start");
    Write(folder / "doomed.txt", "about to go");
    ASSERT_EQ(watch.Open(folder), 0);
    stdfs::remove(folder / "doomed.txt");                    // deletion
    Write(folder / "before.txt", "rewritten");               // rewrite of an old file
    stdfs::create_directory(folder / "sub");                 // subfolder ...
    Write(folder / "sub" / "inner.txt", "deep");             // ... and a file inside
    stdfs::rename(folder / "before.txt", root / "gone.txt"); // moved out
    EXPECT_EQ(ReportedUntil("end"), (Names{"end"}));
}

TEST_F(DirectoryWatchTest, FileIsReportedWhenItsWriterClosesIt) {
    ASSERT_EQ(watch.Open(folder), 0);
    int fd = ::open((folder / "slow.bin").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "part one", 8), 8);
    // Still open: a file that is still being written must not be reported yet.
    Write(folder / "mark.txt", "m");
    EXPECT_EQ(ReportedUntil("mark.txt").back(), "mark.txt");
    ASSERT_EQ(::write(fd, "part two", 8), 8);
    ::close(fd);
    EXPECT_EQ(ReportedUntil("end"), (Names{"slow.bin", "end"}));
}

TEST_F(DirectoryWatchTest, FileRenamedWhileBeingWrittenIsReportedUnderItsNewName) {
    ASSERT_EQ(watch.Open(folder), 0);
    int fd = ::open((folder / "a.part").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0);
    stdfs::rename(folder / "a.part", folder / "a.txt");
    ASSERT_EQ(::write(fd, "data", 4), 4);
    ::close(fd);
    // A file created and closed, then renamed inside: complete under both names; the
    // changes say the first one is gone, so the caller sends only the second.
    Write(folder / "b.part", "b");
    stdfs::rename(folder / "b.part", folder / "b.txt");
    EXPECT_EQ(ReportedUntil("end"), (Names{"a.txt", "b.part", "b.txt", "end"}));
}

TEST_F(DirectoryWatchTest, MissingFolderOrPlainFileCannotBeWatched) {
    EXPECT_EQ(watch.Open(root / "missing"), ENOENT);
    EXPECT_FALSE(watch.IsOpen());
    Write(root / "plain.txt", "not a folder");
    EXPECT_EQ(watch.Open(root / "plain.txt"), ENOTDIR);
    // A watch that never opened does not block.
    EXPECT_TRUE(watch.WaitForAddedFiles().empty());
}

TEST_F(DirectoryWatchTest, StopWakesAWaitingCallAndEveryLaterOne) {
    ASSERT_EQ(watch.Open(folder), 0);
    std::atomic<bool> returned{false};
    std::thread waiter([&] {
        EXPECT_TRUE(watch.WaitForAddedFiles().empty());
        returned = true;
    });
    std::this_thread::sleep_for(50ms); // let it block in the wait
    watch.Stop();
    for (int i = 0; i < 200 && !returned; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(returned);
    if (!returned)
        Write(folder / "unblock.txt", "x"); // never hang the suite
    waiter.join();
    Write(folder / "after.txt", "x");
    EXPECT_TRUE(watch.WaitForAddedFiles().empty());
}

TEST_F(DirectoryWatchTest, ChangesComeInOrderWithTouchesAndDepartures) {
    using Kind = tavrin::TFolderChange::Kind;
    Write(folder / "old.txt", "old");
    ASSERT_EQ(watch.Open(folder), 0);
    Write(folder / "a", "1");
    Write(folder / "old.txt", "rewritten");
    stdfs::rename(folder / "a", folder / "b");
    stdfs::remove(folder / "b");
    // Writes may come as one touch or several (truncation and write), so repeats count once.
    std::vector<tavrin::TFolderChange> changes;
    const tavrin::TFolderChange last{Kind::Gone, "b"};
    for (int round = 0; round < 50 && (changes.empty() || !(changes.back() == last)); ++round)
        for (const auto& change : watch.WaitForChanges(100))
            if (changes.empty() || !(changes.back() == change))
                changes.push_back(change);
    EXPECT_EQ(changes, (std::vector<tavrin::TFolderChange>{{Kind::Touched, "a"},
                                                           {Kind::Arrived, "a"},
                                                           {Kind::Touched, "old.txt"},
                                                           {Kind::Gone, "a"},
                                                           {Kind::Arrived, "b"},
                                                           {Kind::Gone, "b"}}));
    // A wait with nothing to report ends with its time.
    EXPECT_TRUE(watch.WaitForChanges(20).empty());
}

// More events than the kernel queues (16384 by default) while nobody reads: the overflow
// is answered by a new look at the folder, so every file arrives exactly once. The seam
// makes the same answer happen for the case where the kernel's queue is larger.
TEST_F(DirectoryWatchTest, QueueOverflowLosesNoFileAndReportsNoneTwice) {
    for (bool simulated : {false, true}) {
        SCOPED_TRACE(simulated ? "simulated" : "real overflow");
        stdfs::remove_all(folder);
        stdfs::create_directory(folder);
        tavrin::TDirectoryWatch burst;
        ASSERT_EQ(burst.Open(folder), 0);
        Write(folder / "first", "reported before the burst");
        ASSERT_EQ(burst.WaitForAddedFiles(), (Names{"first"}));
        const int files = simulated ? 50 : 9000;
        for (int i = 0; i < files; ++i)
            Write(folder / ("f" + std::to_string(i)), "x");
        if (simulated)
            burst.SimulateOverflow();
        Write(folder / "end", "");
        std::set<std::string> seen;
        size_t reports = 0;
        for (int round = 0; round < 10000 && seen.count("end") == 0; ++round) {
            auto batch = burst.WaitForChanges(1000);
            if (batch.empty())
                break;
            for (const auto& change : batch)
                if (change.kind == tavrin::TFolderChange::Kind::Arrived) {
                    seen.insert(change.name);
                    ++reports;
                }
        }
        EXPECT_EQ(seen.size(), static_cast<size_t>(files) + 1);
        EXPECT_EQ(reports, seen.size());
        EXPECT_EQ(seen.count("first"), 0u);
    }
}

} // namespace

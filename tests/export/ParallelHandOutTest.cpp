// Handing files to several uploads at once, and the note of the uploads in progress that the
// next start reads.
#include "ExportTestFolder.h"
#include "export/FolderMonitorUnit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <fstream>
#include <map>
#include <mutex>
#include <set>

namespace {

using namespace std::chrono_literals;
using exporttest::TestFolder;

// The handler's side: which names are in a call right now, the most at once, and every call.
class Calls {
public:
    TExportOutcome Handle(const TExportJob& job) {
        {
            std::unique_lock lock(mutex_);
            overlapped_ = overlapped_ || inCall_.count(job.name) != 0;
            inCall_.insert(job.name);
            most_ = std::max(most_, inCall_.size());
            changed_.notify_all();
            // Held until the test lets go, so the calls pile up.
            changed_.wait_for(lock, 10s, [&] { return released_; });
        }
        std::lock_guard lock(mutex_);
        inCall_.erase(job.name);
        ++count_[job.name];
        changed_.notify_all();
        return TExportOutcome::Done;
    }
    bool WaitInCall(size_t calls) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [&] { return inCall_.size() >= calls; });
    }
    void Release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }
    bool WaitDone(size_t calls) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 20s, [&] {
            size_t done = 0;
            for (const auto& [name, times] : count_)
                done += static_cast<size_t>(times);
            return done >= calls && inCall_.empty();
        });
    }
    std::map<std::string, int> Count() {
        std::lock_guard lock(mutex_);
        return count_;
    }
    size_t Most() {
        std::lock_guard lock(mutex_);
        return most_;
    }
    bool Overlapped() {
        std::lock_guard lock(mutex_);
        return overlapped_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::set<std::string> inCall_;
    std::map<std::string, int> count_;
    size_t most_ = 0;
    bool released_ = false, overlapped_ = false;
};

TEST(ParallelHandOut, UpToNAtOnceNeverOneNameTwiceAndARewriteGoesAgainAfterwards) {
    struct Row {
        int connections;
        size_t files;
        size_t most; // calls at once
    };
    for (const Row& row : {Row{1, 5, 1}, Row{4, 3, 3}, Row{4, 12, 4}, Row{8, 12, 8}}) {
        SCOPED_TRACE(row.connections);
        TestFolder folder;
        TExportPolicy policy;
        policy.settle = 0ms;
        Calls calls;
        TWaitThread thread(folder.Watched(), policy, row.connections);
        thread.OnFileAdded = [&](const TExportJob& job) { return calls.Handle(job); };
        thread.Start();
        for (size_t i = 0; i < row.files; ++i)
            folder.Write("f" + std::to_string(i), "bytes");
        ASSERT_TRUE(calls.WaitInCall(row.most));
        // A new f0 is moved in while the first one is out: it waits for that call to end.
        TestFolder::Write("f0", "new bytes", folder.Outside());
        std::filesystem::rename(folder.Outside() + "/f0", folder.Watched() + "/f0");
        calls.Release();
        ASSERT_TRUE(calls.WaitDone(row.files + 1));
        thread.StopWatching();
        thread.WaitFor();
        EXPECT_EQ(calls.Most(), row.most);
        EXPECT_FALSE(calls.Overlapped());
        std::map<std::string, int> expected;
        for (size_t i = 0; i < row.files; ++i)
            expected["f" + std::to_string(i)] = i == 0 ? 2 : 1;
        EXPECT_EQ(calls.Count(), expected);
    }
}

TEST(UploadNote, NamesInProgressReadBackForTheirFolderOnly) {
    struct Row {
        const char* label;
        std::string content; // what the note file holds
        std::vector<std::string> read;
    };
    const std::vector<Row> rows = {
        {"one name, as always written", "/w\na.txt\n", {"a.txt"}},
        {"several names", "/w\na.txt\nb c.txt\nd\n", {"a.txt", "b c.txt", "d"}},
        {"another folder", "/other\na.txt\n", {}},
        {"no name", "/w\n", {}},
        {"cut short", "/w\na.txt", {}},
        {"an empty line among names", "/w\na.txt\n\nb\n", {}},
        {"empty", "", {}},
    };
    TUploadNote note("NoteTest");
    std::filesystem::create_directories(std::filesystem::path(note.Path()).parent_path());
    for (const Row& row : rows) {
        std::ofstream(note.Path(), std::ios::binary | std::ios::trunc) << row.content;
        EXPECT_EQ(note.Read("/w"), row.read) << row.label;
    }
    // What is written reads back; no names leaves no note.
    EXPECT_EQ(note.Write("/w", {"x", "y"}), "");
    EXPECT_EQ(note.Read("/w"), (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(note.Write("/w", {}), "");
    EXPECT_FALSE(std::filesystem::exists(note.Path()));

    // Uploads in progress: each added name is on disk at once, a finished one leaves with the
    // next write, and the note goes when nothing is in progress; a name of an earlier run
    // stays until it is dealt with.
    TNotedUploads noted(note, "/w", {"earlier"});
    EXPECT_EQ(noted.Add("a"), "");
    EXPECT_EQ(noted.Add("b"), "");
    EXPECT_EQ(note.Read("/w"), (std::vector<std::string>{"earlier", "a", "b"}));
    noted.Remove("a");
    EXPECT_EQ(noted.Add("c"), "");
    EXPECT_EQ(note.Read("/w"), (std::vector<std::string>{"earlier", "b", "c"}));
    for (const char* name : {"b", "c", "earlier"})
        noted.Remove(name);
    EXPECT_FALSE(std::filesystem::exists(note.Path()));
}

} // namespace

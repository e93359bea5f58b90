#include "import/DownloadedFilesRegister.h"

#include "base/IdException.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// Polls `done` for up to 10 s.
template <class Done> bool Eventually(Done done) {
    for (int step = 0; step < 2000; ++step) {
        if (done())
            return true;
        std::this_thread::sleep_for(5ms);
    }
    return done();
}

// A register write that is held until the test lets it go, and fails when told to.
class HeldWrites {
public:
    TRegisterAppender::TWrite Writer() {
        return [this](const std::string&, const std::vector<std::string>& names) {
            std::unique_lock lock(mutex_);
            batches_.push_back(names);
            const size_t mine = batches_.size();
            changed_.notify_all();
            changed_.wait(lock, [&] { return released_ >= mine; });
            if (mine == failing_)
                throw EIdException("Cannot write file \"reg\". No space left on device");
        };
    }
    void FailWrite(size_t number) { failing_ = number; }
    bool WaitStarted(size_t writes) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [&] { return batches_.size() >= writes; });
    }
    void Release(size_t upTo) {
        std::lock_guard lock(mutex_);
        released_ = upTo;
        changed_.notify_all();
    }
    std::vector<std::vector<std::string>> Batches() {
        std::lock_guard lock(mutex_);
        return batches_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::vector<std::string>> batches_;
    size_t released_ = 0;
    size_t failing_ = 0;
};

TEST(RegisterAppender, NamesHandedInDuringAWriteShareTheNextAndEachHearsItsOwnWrite) {
    struct Row {
        const char* label;
        size_t failingWrite; // 0: none
    };
    for (const Row& row : {Row{"both writes go through", 0}, Row{"the first write fails", 1},
                           Row{"the shared write fails", 2}}) {
        SCOPED_TRACE(row.label);
        HeldWrites held;
        held.FailWrite(row.failingWrite);
        TRegisterAppender appender("reg", held.Writer());
        std::map<std::string, std::string> outcome; // name -> "ok" or the reason
        std::mutex outcomeMutex;
        auto append = [&](std::string name) {
            std::string result = "ok";
            try {
                appender.Append(name);
            } catch (const EIdException& failure) {
                result = failure.what();
            }
            std::lock_guard lock(outcomeMutex);
            outcome[name] = result;
        };
        auto returned = [&] {
            std::lock_guard lock(outcomeMutex);
            return outcome.size();
        };
        std::vector<std::thread> threads;
        threads.emplace_back(append, "first");
        ASSERT_TRUE(held.WaitStarted(1));
        for (const char* name : {"a", "b", "c", "d"})
            threads.emplace_back(append, name);
        ASSERT_TRUE(Eventually([&] { return appender.Waiting() == 4; }));
        EXPECT_EQ(returned(), 0u);

        held.Release(1); // "first" is written; the four go together in the next write
        ASSERT_TRUE(held.WaitStarted(2));
        ASSERT_TRUE(Eventually([&] { return returned() == 1; }));
        EXPECT_EQ(appender.Waiting(), 0u);
        EXPECT_EQ(outcome.count("first"), 1u);
        std::this_thread::sleep_for(20ms); // a caller returning before its write ends shows here
        EXPECT_EQ(returned(), 1u);
        held.Release(2);
        for (std::thread& thread : threads)
            thread.join();

        const auto batches = held.Batches();
        ASSERT_EQ(batches.size(), 2u);
        EXPECT_EQ(batches[0], std::vector<std::string>{"first"});
        std::vector<std::string> shared = batches[1];
        std::sort(shared.begin(), shared.end());
        EXPECT_EQ(shared, (std::vector<std::string>{"a", "b", "c", "d"}));
        for (const auto& [name, result] : outcome) {
            const bool inFailed =
                (name == "first") == (row.failingWrite == 1) && row.failingWrite != 0;
            EXPECT_EQ(result,
                      inFailed ? "Cannot write file \"reg\". No space left on device" : "ok")
                << name;
        }
    }
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(RegisterAppender, ManyFetchesAtOnceLeaveEveryLineWholeInEachFetchersOrder) {
    char pattern[] = "/tmp/tavrin-appender-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string folder = pattern;
    const std::string path = folder + "/LocalFileList.txt";
    std::ofstream(path, std::ios::binary) << "kept by hand"; // no line end after it

    constexpr int kThreads = 8, kEach = 40;
    TRegisterAppender appender(path);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                try {
                    appender.Append("t" + std::to_string(t) + " file " + std::to_string(i));
                } catch (const EIdException&) {
                    ++failures;
                }
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures, 0);

    const std::string text = ReadAll(path);
    const std::vector<std::string> lines = TDownloadedFilesRegister::SplitLines(text);
    ASSERT_EQ(lines.size(), 1u + kThreads * kEach);
    EXPECT_EQ(lines[0], "kept by hand");
    std::string rejoined;
    for (const std::string& line : lines)
        rejoined += line + "\r\n";
    EXPECT_EQ(text, rejoined); // CR LF after every line, nothing torn
    std::vector<int> next(kThreads, 0);
    for (size_t at = 1; at < lines.size(); ++at) {
        const int t = lines[at][1] - '0';
        ASSERT_GE(t, 0);
        ASSERT_LT(t, kThreads);
        EXPECT_EQ(lines[at], "t" + std::to_string(t) + " file " + std::to_string(next[t]++));
    }

    // A register that cannot be written: every caller hears of it.
    TRegisterAppender broken(folder + "/gone/LocalFileList.txt");
    for (const char* name : {"x", "y"})
        EXPECT_THROW(broken.Append(name), EIdException) << name;
    ASSERT_EQ(std::system(("rm -rf '" + folder + "'").c_str()), 0);
}

} // namespace

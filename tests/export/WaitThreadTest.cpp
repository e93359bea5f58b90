// The folder-watch thread on real folders: what it hands to its handler, when, and how it
// stops.
#include "ExportTestFolder.h"
#include "config/UserMessages.h"
#include "export/FolderMonitorUnit.h"

#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

using namespace std::chrono_literals;
using exporttest::Events;
using exporttest::TestFolder;

// Collects the texts the thread shows the user.
class MessageCapture {
public:
    MessageCapture() {
        tavrin::SetErrorMessageSink([this](const std::string& text) { shown.Add(text); });
    }
    ~MessageCapture() { tavrin::SetErrorMessageSink(nullptr); }
    Events shown;
};

// No settle time: files go out as soon as they are complete, as the watch reports them.
TExportPolicy AtOnce() {
    TExportPolicy policy;
    policy.settle = std::chrono::milliseconds(0);
    return policy;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

class WaitThreadTest : public ::testing::Test {
protected:
    void StartWatching(TWaitThread& thread) {
        thread.Start();
        ASSERT_TRUE(WaitUntil([&] { return thread.Watching(); }, 5s));
    }
    TestFolder folder;
    Events handled;
};

TEST_F(WaitThreadTest, CopiedFilesAreReportedOnceEachByBareNameInOrder) {
    folder.Write("source.txt", "original", folder.Outside());
    TWaitThread thread(folder.Watched(), AtOnce());
    thread.OnFileAdded = [&](const TExportJob& job) {
        handled.Add(job.name);
        return TExportOutcome::Done;
    };
    StartWatching(thread);
    std::filesystem::copy_file(folder.Outside() + "/source.txt", folder.Watched() + "/a.txt");
    folder.Write("b.txt", "b");
    folder.Write("c.txt", "c");
    ASSERT_TRUE(handled.WaitForCount(3, 5s));
    folder.Write("end", "");
    ASSERT_TRUE(handled.WaitForCount(4, 5s));
    EXPECT_EQ(handled.All(), (std::vector<std::string>{"a.txt", "b.txt", "c.txt", "end"}));
}

TEST_F(WaitThreadTest, FileAddedWhileHandlerIsBusyIsReportedAfterItReturns) {
    std::promise<void> gate;
    auto released = gate.get_future().share();
    TWaitThread thread(folder.Watched(), AtOnce());
    thread.OnFileAdded = [&](const TExportJob& job) {
        const std::string& name = job.name;
        handled.Add("enter " + name);
        if (name == "first")
            released.wait_for(10s);
        handled.Add("leave " + name);
        return TExportOutcome::Done;
    };
    StartWatching(thread);
    folder.Write("first", "1");
    ASSERT_TRUE(handled.WaitForCount(1, 5s));
    folder.Write("second", "2");
    gate.set_value();
    ASSERT_TRUE(handled.WaitForCount(4, 5s));
    EXPECT_EQ(handled.All(), (std::vector<std::string>{"enter first", "leave first", "enter second",
                                                       "leave second"}));
}

TEST_F(WaitThreadTest, SlowlyWrittenFileIsReportedOnceAfterItsLastWrite) {
    TWaitThread thread(folder.Watched(), AtOnce());
    std::string path = folder.Watched() + "/slow.bin";
    thread.OnFileAdded = [&](const TExportJob& job) {
        const std::string& name = job.name;
        handled.Add(name + " " + std::to_string(folder.SizeOf(name)));
        return TExportOutcome::Done;
    };
    StartWatching(thread);
    // Another process writes five chunks of ten bytes with pauses between them.
    std::string script =
        "for i in 1 2 3 4 5; do printf 0123456789; sleep 0.1; done > '" + path + "'";
    const char* argv[] = {"/bin/sh", "-c", script.c_str(), nullptr};
    pid_t writer = 0;
    ASSERT_EQ(
        ::posix_spawn(&writer, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(writer, &status, 0), writer);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    folder.Write("end", "");
    ASSERT_TRUE(handled.WaitForCount(2, 5s));
    EXPECT_EQ(handled.All(), (std::vector<std::string>{"slow.bin 50", "end 0"}));
}

TEST_F(WaitThreadTest, StopWhileWaitingEndsTheThreadAtOnce) {
    TWaitThread thread(folder.Watched(), AtOnce());
    StartWatching(thread);
    thread.StopWatching();
    EXPECT_TRUE(WaitUntil([&] { return thread.Finished(); }, 2s));
    thread.WaitFor();
}

TEST_F(WaitThreadTest, StopDuringAHandlerCallLetsItFinishAndHandsOutNothingMore) {
    std::promise<void> gate;
    auto released = gate.get_future().share();
    TWaitThread thread(folder.Watched(), AtOnce());
    thread.OnFileAdded = [&](const TExportJob& job) {
        const std::string& name = job.name;
        handled.Add(name);
        released.wait_for(10s);
        handled.Add("done " + name);
        return TExportOutcome::Done;
    };
    StartWatching(thread);
    folder.Write("first", "1");
    ASSERT_TRUE(handled.WaitForCount(1, 5s));
    folder.Write("second", "2");
    thread.StopWatching();
    std::this_thread::sleep_for(50ms); // give a wrongly stopping thread the time to end
    EXPECT_FALSE(thread.Finished());
    gate.set_value();
    EXPECT_TRUE(WaitUntil([&] { return thread.Finished(); }, 5s));
    thread.WaitFor();
    EXPECT_EQ(handled.All(), (std::vector<std::string>{"first", "done first"}));
}

TEST_F(WaitThreadTest, FolderThatCannotBeWatchedFailsTheStartNamingFolderAndReason) {
    MessageCapture messages;
    const std::string missing = folder.Watched() + "/missing";
    const struct {
        std::string path, message;
    } cases[] = {
        {missing, "Cannot watch folder " + missing + ": No such file or directory"},
        {"", "Cannot watch folder: no export folder is set"},
    };
    for (const auto& c : cases) {
        try {
            TWaitThread thread(c.path, AtOnce());
            ADD_FAILURE() << "folder \"" << c.path << "\" was accepted";
        } catch (const EFolderWatchError& failure) {
            EXPECT_EQ(std::string(failure.what()), c.message);
        }
    }
    EXPECT_TRUE(messages.shown.All().empty()); // the owner shows it, once
}

TEST_F(WaitThreadTest, FailureEscapingTheHandlerIsShownAndTheWatchGoesOn) {
    MessageCapture messages;
    TWaitThread thread(folder.Watched(), AtOnce());
    thread.OnFileAdded = [&](const TExportJob& job) {
        const std::string& name = job.name;
        if (name == "bad")
            throw std::runtime_error("handler failed");
        handled.Add(name);
        return TExportOutcome::Done;
    };
    StartWatching(thread);
    folder.Write("bad", "x");
    folder.Write("good", "y");
    ASSERT_TRUE(handled.WaitForCount(1, 5s));
    EXPECT_EQ(handled.All(), (std::vector<std::string>{"good"}));
    EXPECT_EQ(messages.shown.All(), (std::vector<std::string>{"handler failed"}));
}

// The settle time, renames, retries and files already there, on a real folder: each row is a
// sequence of folder changes and the jobs the handler must see, in order.
TEST_F(WaitThreadTest, FilesGoOutOnceSettledUnderTheirFinalNameRetriedAndExistingFirst) {
    using namespace std::chrono;
    struct Case {
        const char* label;
        TExportPolicy policy;
        std::function<void(TestFolder&)> before; // before the watch opens
        std::function<void(TestFolder&)> act;
        std::function<TExportOutcome(const TExportJob&, int call)> outcome;
        std::vector<std::string> expected; // "name size retry"
    };
    TExportPolicy settle;
    settle.settle = milliseconds(300);
    TExportPolicy retrying = AtOnce();
    retrying.retryFailed = true;
    retrying.retryDelays = {milliseconds(50), milliseconds(100)};
    TExportPolicy existing = AtOnce();
    existing.exportExisting = true;
    auto done = [](const TExportJob&, int) { return TExportOutcome::Done; };
    auto append = [](TestFolder& f, const std::string& name, const std::string& bytes) {
        std::ofstream(f.Watched() + "/" + name, std::ios::binary | std::ios::app) << bytes;
    };
    const Case cases[] = {
        {"appending writer with pauses shorter than the settle time",
         settle,
         nullptr,
         [&](TestFolder& f) {
             for (int i = 0; i < 5; ++i) {
                 append(f, "grow.bin", std::string(1000, 'x'));
                 std::this_thread::sleep_for(milliseconds(100));
             }
         },
         done,
         {"grow.bin 5000 0"}},
        {"write then rename: one job under the final name",
         settle,
         nullptr,
         [](TestFolder& f) {
             f.Write(".x.tmp", "whole file");
             std::filesystem::rename(f.Watched() + "/.x.tmp", f.Watched() + "/x");
         },
         done,
         {"x 10 0"}},
        {"complete file renamed inside is an addition",
         AtOnce(),
         [](TestFolder& f) { f.Write("old.txt", "abc"); },
         [](TestFolder& f) {
             std::filesystem::rename(f.Watched() + "/old.txt", f.Watched() + "/new.txt");
         },
         done,
         {"new.txt 3 0"}},
        {"failed file is retried until it goes",
         retrying,
         nullptr,
         [](TestFolder& f) { f.Write("r.txt", "retry me"); },
         [](const TExportJob& job, int call) {
             return call < 3 ? TExportOutcome::Failed : TExportOutcome::Done;
         },
         {"r.txt 8 0", "r.txt 8 1", "r.txt 8 2", "r.txt 8 3"}},
        {"file changed during its upload goes again",
         AtOnce(),
         nullptr,
         [](TestFolder& f) { f.Write("c.txt", "v1"); },
         [](const TExportJob&, int call) {
             return call == 0 ? TExportOutcome::Changed : TExportOutcome::Done;
         },
         {"c.txt 2 0", "c.txt 2 0"}},
        {"files already there go first, oldest first",
         existing,
         [](TestFolder& f) {
             f.Write("young", "1");
             f.Write("old", "22");
             auto now = std::filesystem::file_time_type::clock::now();
             std::filesystem::last_write_time(f.Watched() + "/old", now - hours(2));
             std::filesystem::last_write_time(f.Watched() + "/young", now - hours(1));
         },
         [](TestFolder& f) { f.Write("new", "333"); },
         done,
         {"old 2 0", "young 1 0", "new 3 0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TestFolder local;
        if (c.before)
            c.before(local);
        Events jobs;
        int calls = 0;
        {
            TWaitThread thread(local.Watched(), c.policy);
            thread.OnFileAdded = [&](const TExportJob& job) {
                auto size = std::filesystem::file_size(local.Watched() + "/" + job.name);
                jobs.Add(job.name + " " + std::to_string(size) + " " + std::to_string(job.retry));
                return c.outcome(job, calls++);
            };
            StartWatching(thread);
            c.act(local);
            EXPECT_TRUE(jobs.WaitForCount(c.expected.size(), 10s));
            // Nothing more may follow: a second upload would come within the settle time.
            std::this_thread::sleep_for(c.policy.settle + 300ms);
        }
        EXPECT_EQ(jobs.All(), c.expected);
    }
}

} // namespace

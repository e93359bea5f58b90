// The folder-watch thread on real folders: what it hands to its handler, when, and how it
// stops.
#include "ExportTestFolder.h"
#include "config/UserMessages.h"
#include "export/FolderMonitorUnit.h"

#include <gtest/gtest.h>

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
    TWaitThread thread(folder.Watched());
    thread.OnFileAdded = [&](const std::string& name) { handled.Add(name); };
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
    TWaitThread thread(folder.Watched());
    thread.OnFileAdded = [&](const std::string& name) {
        handled.Add("enter " + name);
        if (name == "first")
            released.wait_for(10s);
        handled.Add("leave " + name);
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
    TWaitThread thread(folder.Watched());
    std::string path = folder.Watched() + "/slow.bin";
    thread.OnFileAdded = [&](const std::string& name) {
        handled.Add(name + " " + std::to_string(folder.SizeOf(name)));
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
    TWaitThread thread(folder.Watched());
    StartWatching(thread);
    thread.StopWatching();
    EXPECT_TRUE(WaitUntil([&] { return thread.Finished(); }, 2s));
    thread.WaitFor();
}

TEST_F(WaitThreadTest, StopDuringAHandlerCallLetsItFinishAndHandsOutNothingMore) {
    std::promise<void> gate;
    auto released = gate.get_future().share();
    TWaitThread thread(folder.Watched());
    thread.OnFileAdded = [&](const std::string& name) {
        handled.Add(name);
        released.wait_for(10s);
        handled.Add("done " + name);
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

TEST_F(WaitThreadTest, MissingFolderShowsTheSystemTextAndEndsTheOwnersWait) {
    MessageCapture messages;
    TWaitThread thread(folder.Watched() + "/missing");
    thread.OnFileAdded = [&](const std::string& name) { handled.Add(name); };
    thread.Start();
    EXPECT_TRUE(WaitUntil([&] { return thread.Finished(); }, 2s));
    EXPECT_FALSE(thread.Watching());
    EXPECT_EQ(messages.shown.All(), (std::vector<std::string>{"No such file or directory"}));
}

TEST_F(WaitThreadTest, FailureEscapingTheHandlerIsShownAndTheWatchGoesOn) {
    MessageCapture messages;
    TWaitThread thread(folder.Watched());
    thread.OnFileAdded = [&](const std::string& name) {
        if (name == "bad")
            throw std::runtime_error("handler failed");
        handled.Add(name);
    };
    StartWatching(thread);
    folder.Write("bad", "x");
    folder.Write("good", "y");
    ASSERT_TRUE(handled.WaitForCount(1, 5s));
    EXPECT_EQ(handled.All(), (std::vector<std::string>{"good"}));
    EXPECT_EQ(messages.shown.All(), (std::vector<std::string>{"handler failed"}));
}

} // namespace

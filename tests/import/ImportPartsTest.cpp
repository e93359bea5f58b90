// The pieces the import cycle leans on, each as a table: when a listed file counts as
// stable, when a failed one is tried again, moves within and across file systems, the poll
// interval, appends to the register.
#include "ImportTestSupport.h"

#include "base/IdException.h"
#include "import/DownloadedFilesRegister.h"
#include "import/ImportCycleState.h"
#include "import/ImportRetries.h"
#include "import/MonitorFTPUnit.h"
#include "platform/FileSystem.h"
#include "remote/RemoteSession.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

using namespace importtest;

namespace {

struct Listed {
    bool sizeKnown, timeKnown;
    int64_t size;
    double time;
};

TEST(StableFileTracker, FetchesOnlyWhatTwoListingsInARowAgreeOn) {
    struct Row {
        const char* what;
        std::vector<Listed> listings; // the file in consecutive listings ({} = absent)
        std::vector<bool> unchanged;  // the answer in each listing it appears in
    };
    const Listed a{true, true, 100, 45000.5}, grown{true, true, 200, 45000.5},
        touched{true, true, 100, 45000.6}, none{false, false, 0, 0}, sizeOnly{true, false, 100, 0},
        absent{false, false, -1, -1};
    const Row rows[] = {
        {"new waits one listing", {a, a, a}, {false, true, true}},
        {"growing never settles", {a, grown, a, a}, {false, false, false, true}},
        {"a new time counts as a change", {a, touched, touched}, {false, false, true}},
        {"neither size nor time: at once", {none, none}, {true, true}},
        {"size alone is enough", {sizeOnly, sizeOnly}, {false, true}},
        {"gone for a listing starts over", {a, absent, a, a}, {false, false, true}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TStableFileTracker tracker;
        std::vector<bool> answers;
        for (const Listed& listed : row.listings) {
            if (listed.size >= 0) {
                const tavrin::remote::TRemoteEntry item{
                    "f.dat",     tavrin::remote::TRemoteKind::File,
                    listed.size, listed.sizeKnown,
                    listed.time, listed.timeKnown};
                answers.push_back(tracker.SeenUnchanged(item));
            }
            tracker.EndListing();
        }
        EXPECT_EQ(answers, row.unchanged);
    }
}

TEST(FetchRetries, NextCycleThenGrowingPausesThenEveryHalfHour) {
    using std::chrono::minutes;
    using std::chrono::seconds;
    TFetchRetries retries;
    TFetchRetries::Clock::time_point now{};
    retries.SetSchedule({}, [&now] { return now; }); // the shipped pauses, our clock
    const tavrin::remote::TRemoteEntry item{
        "refused.bin", tavrin::remote::TRemoteKind::File, 10, true, 0, true};
    const std::chrono::milliseconds expected[] = {seconds(0),  seconds(30), minutes(2),
                                                  minutes(10), minutes(30), minutes(30)};
    for (std::chrono::milliseconds pause : expected) {
        ASSERT_TRUE(retries.Due(item));
        EXPECT_EQ(retries.Failed(item), pause);
        if (pause.count() > 0) {
            now += pause - std::chrono::milliseconds(1);
            EXPECT_FALSE(retries.Due(item));
        }
        now += std::chrono::milliseconds(1);
        retries.EndListing();
    }
    // Not listed once: forgotten, so it starts over when it comes back.
    retries.EndListing();
    EXPECT_EQ(retries.Tracked(), 0u);
    EXPECT_EQ(NextTryText(seconds(0)), "at the next check");
    EXPECT_EQ(NextTryText(minutes(30)), "in 30 min");
    EXPECT_EQ(NextTryText(seconds(90)), "in 90 s");
}

TEST(MoveFileNoReplace, WithinAndAcrossFileSystemsNeverReplacingNorLosing) {
    Scratch here;
    char pattern[] = "/dev/shm/tavrin-move-XXXXXX"; // a tmpfs: another file system than /tmp
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string there = pattern;
    struct Row {
        const char* what;
        std::string to;
        bool targetExists, sourceExists;
        int error;
    };
    const Row rows[] = {
        {"same file system", here.local + "/m", false, true, 0},
        {"across file systems", there + "/m", false, true, 0},
        {"target exists, same", here.local + "/m", true, true, EEXIST},
        {"target exists, across", there + "/m", true, true, EEXIST},
        {"no source", there + "/m", false, false, ENOENT},
        {"no target folder", there + "/missing/m", false, true, ENOENT},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string from = here.temp + "/m";
        ::unlink(from.c_str());
        ::unlink(row.to.c_str());
        if (row.sourceExists) {
            WriteFile(from, Payload(200000, 3));
            ::chmod(from.c_str(), 0640);
        }
        if (row.targetExists)
            WriteFile(row.to, "kept");
        int error = -1;
        EXPECT_EQ(tavrin::fs::MoveFileNoReplace(from, row.to, error), row.error == 0);
        EXPECT_EQ(error, row.error);
        if (row.error == 0) {
            EXPECT_TRUE(ReadFile(row.to) == Payload(200000, 3));
            EXPECT_FALSE(Exists(from));
            struct stat st {};
            ::stat(row.to.c_str(), &st);
            EXPECT_EQ(st.st_mode & 0777, 0640u);
        } else {
            EXPECT_EQ(Exists(from), row.sourceExists);
            if (row.targetExists) {
                EXPECT_EQ(ReadFile(row.to), "kept");
            }
        }
    }
    // No hidden copies left behind in the target folder.
    EXPECT_EQ(std::system(("test -z \"$(ls -A " + there + " | grep '^\\.')\"").c_str()), 0);
    EXPECT_EQ(std::system(("rm -rf " + there).c_str()), 0);
}

TEST(TFTPChecker, PollIntervalIsCappedAndPartialNamesAreHidden) {
    struct Row {
        bool keepAlive;
        int32_t seconds;
        int ms;
    };
    for (const Row& row : {Row{true, 600, 5000}, Row{false, 7, 7000}, Row{false, 0, 0},
                           Row{false, -5, 0}, Row{false, 2147483, 2147483000},
                           Row{false, 2147484, INT_MAX}, Row{false, INT32_MAX, INT_MAX}}) {
        RConfiguration config;
        config.KeepAlive = row.keepAlive;
        config.CheckInterval = row.seconds;
        EXPECT_EQ(TFTPChecker::PollIntervalMs(config), row.ms) << row.seconds;
    }
    // Hidden, beside the final name, and never longer than a file name may be.
    const std::string n249(249, 'n'), n250(250, 'n'), n255(255, 'n'), m255 = n255.substr(1) + "m";
    struct PartRow {
        std::string name, part; // part empty: hashed
    };
    for (const PartRow& row : {PartRow{"a.txt", ".a.txt.part"}, PartRow{n249, "." + n249 + ".part"},
                               PartRow{n250, ""}, PartRow{n255, ""}, PartRow{m255, ""}}) {
        const std::string path = TFTPChecker::PartialPath("/in", row.name);
        ASSERT_EQ(path.rfind("/in/.", 0), 0u) << path;
        const std::string part = path.substr(4);
        EXPECT_LE(part.size(), 255u);
        if (!row.part.empty())
            EXPECT_EQ(part, row.part);
        else
            EXPECT_EQ(part.size(), 1u + 16u + 5u) << part;
    }
    EXPECT_NE(TFTPChecker::PartialPath("/in", n255), TFTPChecker::PartialPath("/in", m255));
    EXPECT_EQ(TFTPChecker::PartialPath("/in", n255), TFTPChecker::PartialPath("/in", n255));
}

TEST(DownloadedFilesRegister, AppendsLineByLineAndMendsAMissingLineEnd) {
    Scratch scratch;
    const std::string& path = scratch.registerPath;
    TDownloadedFilesRegister::AppendToFile(path, "first"); // made when absent
    EXPECT_EQ(ReadFile(path), "first\r\n");
    WriteFile(path, "edited by hand"); // no line end after the last name
    TDownloadedFilesRegister::AppendToFile(path, "next");
    TDownloadedFilesRegister::AppendToFile(path, "Third one");
    EXPECT_EQ(ReadFile(path), "edited by hand\r\nnext\r\nThird one\r\n");
    TDownloadedFilesRegister loaded;
    loaded.LoadIfPresent(path);
    EXPECT_TRUE(loaded.Contains("next"));
    EXPECT_EQ(loaded.Count(), 3u);
    EXPECT_THROW(TDownloadedFilesRegister::AppendToFile(scratch.root + "/none/x", "a"),
                 EIdException);
}

} // namespace

// A job's activity as the window shows it, from a sequence of progress reports and failure
// lines: rate and time left of the file under way, the last file, today's count across local
// midnight, and failing until a file gets through.
#include "jobs/ActivityTracker.h"

#include <gtest/gtest.h>

#include <ctime>
#include <optional>
#include <vector>

using namespace std::chrono_literals;
using tavrin::jobs::TActivityTracker;

namespace {

using TSteady = TActivityTracker::TSteady;
using TWall = TActivityTracker::TWall;

// Local noon of a day, so that adding hours crosses local midnight where the row says.
TWall LocalTime(int day, int hour) {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&t));
}

// A progress report, or (file empty) a failure line with `error`.
struct Step {
    Step(std::string file_, uint64_t done_, std::optional<uint64_t> total_, TTransferPhase phase_,
         std::chrono::milliseconds at_, int day_ = 9, int hour_ = 12, std::string error_ = {})
        : file(std::move(file_)), done(done_), total(total_), phase(phase_), at(at_), day(day_),
          hour(hour_), error(std::move(error_)) {}
    std::string file;
    uint64_t done;
    std::optional<uint64_t> total;
    TTransferPhase phase;
    std::chrono::milliseconds at;
    int day, hour;
    std::string error;
};

TEST(ActivityTracker, FollowsTheReportsOfAJob) {
    struct Expect {
        bool current;
        double rate;
        std::optional<int64_t> secondsLeft;
        uint64_t lastSize;
        int filesToday;
        bool failing;
        std::string lastError;
    };
    struct Row {
        const char* what;
        std::vector<Step> steps;
        Expect after;
    } rows[] = {
        {"rate from the first report, time left from the rest",
         {{"a", 0, 1000, TTransferPhase::Moving, 0ms},
          {"a", 400, 1000, TTransferPhase::Moving, 2000ms}},
         {true, 200, 3, 0, 0, false, ""}},
        {"unknown total: a rate but no time left",
         {{"a", 100, {}, TTransferPhase::Moving, 0ms},
          {"a", 600, {}, TTransferPhase::Moving, 1000ms}},
         {true, 500, {}, 0, 0, false, ""}},
        {"another file starts its own rate",
         {{"a", 0, 10, TTransferPhase::Moving, 0ms},
          {"a", 5, 10, TTransferPhase::Moving, 1000ms},
          {"b", 0, 10, TTransferPhase::Moving, 1500ms}},
         {true, 0, {}, 0, 0, false, ""}},
        {"a finished file is the last transfer and counts",
         {{"a", 0, 70, TTransferPhase::Moving, 0ms},
          {"a", 70, 70, TTransferPhase::Done, 100ms},
          {"b", 5, {}, TTransferPhase::Done, 200ms}},
         {false, 0, {}, 5, 2, false, ""}},
        {"a failure line makes the job failing, a good file ends it",
         {{"", 0, {}, TTransferPhase::Moving, 0ms, 9, 12, "Cannot connect"},
          {"a", 3, 3, TTransferPhase::Done, 10ms}},
         {false, 0, {}, 3, 1, false, "Cannot connect"}},
        {"a failed file leaves the job failing",
         {{"a", 1, 3, TTransferPhase::Moving, 0ms}, {"a", 1, 3, TTransferPhase::Failed, 10ms}},
         {false, 0, {}, 0, 0, true, ""}},
        {"the count starts again after local midnight",
         {{"a", 1, 1, TTransferPhase::Done, 0ms, 9, 23},
          {"b", 1, 1, TTransferPhase::Done, 0ms, 9, 23},
          {"c", 2, 2, TTransferPhase::Done, 0ms, 10, 1}},
         {false, 0, {}, 2, 1, false, ""}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TActivityTracker tracker;
        const TSteady start{};
        for (const Step& step : row.steps) {
            if (step.file.empty()) {
                tracker.Failure(step.error);
                continue;
            }
            TTransferProgress p{step.file, false, step.done, step.total, step.phase};
            tracker.Progress(p, start + step.at, LocalTime(step.day, step.hour));
        }
        const tavrin::jobs::TJobActivity& a = tracker.Activity();
        EXPECT_EQ(a.current.has_value(), row.after.current);
        EXPECT_DOUBLE_EQ(a.bytesPerSecond, row.after.rate);
        EXPECT_EQ(a.timeLeft ? std::optional<int64_t>(a.timeLeft->count()) : std::nullopt,
                  row.after.secondsLeft);
        EXPECT_EQ(a.lastTransferSize, row.after.lastSize);
        EXPECT_EQ(a.filesToday, row.after.filesToday);
        EXPECT_EQ(a.failing, row.after.failing);
        EXPECT_EQ(a.lastError, row.after.lastError);
    }
}

// Events of an import: F a failure line, x a failed file, d a file done, c a cycle that went
// through, b a cycle broken off.
TEST(ActivityTracker, AnImportCycleThatGoesThroughEndsTheFailing) {
    const std::pair<const char*, bool> rows[] = {
        {"Fb", true},   {"Fbc", false}, {"Fbb", true},  {"xc", true},
        {"xcc", false}, {"c", false},   {"FbFc", true}, {"FbFcc", false},
        {"xdc", false}, {"Fd", false},  {"cF", true},   {"Fcb", true},
    };
    for (const auto& [events, failing] : rows) {
        TActivityTracker tracker;
        for (const char* e = events; *e; ++e) {
            TTransferProgress file{"a", false, 1, 1, TTransferPhase::Done};
            switch (*e) {
            case 'F':
                tracker.Failure("Connection refused");
                break;
            case 'x':
                file.phase = TTransferPhase::Failed;
                [[fallthrough]];
            case 'd':
                tracker.Progress(file, TSteady{}, LocalTime(9, 12));
                break;
            case 'c':
                tracker.CycleEnded(true);
                break;
            case 'b':
                tracker.CycleEnded(false);
                break;
            }
        }
        EXPECT_EQ(tracker.Activity().failing, failing) << events;
    }
}

} // namespace

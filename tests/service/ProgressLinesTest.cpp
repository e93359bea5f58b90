// A transfer that goes on for more than ten seconds gets one line every ten seconds; short
// ones, and the start of a new file, get none.
#include "service/ProgressLines.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

using namespace std::chrono_literals;
using tavrin::service::TProgressLines;

namespace {

TEST(ProgressLines, OneLineEveryTenSecondsOfAFile) {
    struct Report {
        std::chrono::milliseconds at;
        const char* job;
        const char* file; // nullptr: nothing under way
        uint64_t done;
        std::optional<uint64_t> total;
        double rate;
        std::optional<std::string> line;
    };
    const std::vector<Report> reports = {
        {0ms, "A", "big.iso", 0, 50'000'000, 0, std::nullopt},
        {9'900ms, "A", "big.iso", 10'000'000, 50'000'000, 1'010'000, std::nullopt},
        {10'000ms, "A", "big.iso", 12'345'678, 50'000'000, 1'234'567,
         "big.iso: 12.3 MB of 50.0 MB, 1.2 MB/s"},
        {10'000ms, "B", "x", 1, std::nullopt, 1, std::nullopt},
        {15'000ms, "A", "big.iso", 20'000'000, 50'000'000, 1'300'000, std::nullopt},
        {20'100ms, "A", "big.iso", 25'000'000, 50'000'000, 1'240'000,
         "big.iso: 25.0 MB of 50.0 MB, 1.2 MB/s"},
        {20'100ms, "B", "x", 900, std::nullopt, 90, "x: 900 bytes, 90 bytes/s"},
        {21'000ms, "B", "x", 999, std::nullopt, 95, std::nullopt},
        {22'000ms, "A", nullptr, 0, std::nullopt, 0, std::nullopt},
        // The same name again is a new transfer: ten seconds from its start.
        {25'000ms, "A", "big.iso", 1, 50'000'000, 1, std::nullopt},
        {34'000ms, "A", "big.iso", 2, 50'000'000, 1, std::nullopt},
        {35'000ms, "A", "next", 2, 50'000'000, 1, std::nullopt},
        {45'000ms, "A", "next", 2'000'000'000, 5'000'000'000, 1,
         "next: 2.0 GB of 5.0 GB, 1 bytes/s"},
    };
    TProgressLines lines;
    const TProgressLines::TClock::time_point start{};
    for (const Report& r : reports) {
        SCOPED_TRACE(r.at.count());
        tavrin::jobs::TJobActivity activity;
        if (r.file)
            activity.current = TTransferProgress{r.file, false, r.done, r.total};
        activity.bytesPerSecond = r.rate;
        EXPECT_EQ(lines.Seen(r.job, activity, start + r.at), r.line);
    }
}

} // namespace

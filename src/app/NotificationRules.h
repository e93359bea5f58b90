#pragma once
// When the desktop is told about a job: once it has failed 3 times in a row and once more when
// it works again; when an export file is given up (not tried again, or failed 3 times in a
// row), or an import file failed 3 cycles in a row. Never more than one notice per job in 5
// minutes: a user away from the desk comes back to a few notices, not to hundreds. Plain
// logic; the caller gives the time.
#include "jobs/Job.h"

#include <chrono>
#include <map>
#include <optional>
#include <string>

namespace tavrin::app {

struct TNotice {
    std::string title;
    std::string body;

    bool operator==(const TNotice&) const = default;
};

class TNotificationRules {
public:
    using TClock = std::chrono::steady_clock;
    static constexpr int kFailuresInRow = 3;
    static constexpr std::chrono::minutes kQuietTime{5};

    // A job's outcome. `upload`: the job is an export; `retried`: its failed files are tried
    // again (RetryFailed). The notice to show now, if any.
    std::optional<TNotice> Outcome(const std::string& job, bool upload, bool retried,
                                   jobs::TJobOutcome outcome, const std::string& file,
                                   const std::string& text, TClock::time_point now);

private:
    struct TJobRecord {
        int failuresInRow = 0;
        bool toldFailing = false;
        // Failures in a row of each file not yet moved.
        std::map<std::string, int> fileFailures;
        std::optional<TClock::time_point> lastNotice;
    };

    std::map<std::string, TJobRecord> jobs_;
};

} // namespace tavrin::app

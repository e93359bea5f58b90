#pragma once
// Keeps a job's TJobActivity from what its monitor reports: progress of each file, and the
// failure lines. Plain logic on the job's own thread; the clock readings come from the caller.
#include "jobs/JobActivity.h"

#include <chrono>
#include <string>

namespace tavrin::jobs {

class TActivityTracker {
public:
    using TSteady = std::chrono::steady_clock::time_point;
    using TWall = std::chrono::system_clock::time_point;

    const TJobActivity& Activity() const { return activity_; }

    // A report of the file under way. A finished file becomes the last transfer and counts
    // for its local day; a failed one leaves the job failing until a later file gets through.
    void Progress(const TTransferProgress& progress, TSteady now, TWall wall);
    // A failure line of the job (its text without the job's prefix).
    void Failure(const std::string& text);
    // An import cycle ended. One that went through with no failure in it ends the failing:
    // the server answers again, even when there was nothing to fetch.
    void CycleEnded(bool completed);
    // The job started afresh, or stopped: no transfer is under way.
    void Started();
    void Stopped();
    // The count of today's files starts again at local midnight, also without a transfer.
    void NewDayCheck(TWall wall);

private:
    TJobActivity activity_;
    // Where the rate of the current file is measured from.
    TSteady firstReportAt_{};
    uint64_t firstReportDone_ = 0;
    // The local day the count belongs to (year * 10000 + month * 100 + day).
    int countedDay_ = 0;
    // A failure was told since the last cycle ended.
    bool failureInCycle_ = false;
};

} // namespace tavrin::jobs

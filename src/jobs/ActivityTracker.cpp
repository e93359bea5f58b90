#include "jobs/ActivityTracker.h"

#include <ctime>

namespace tavrin::jobs {
namespace {

int LocalDay(std::chrono::system_clock::time_point wall) {
    const std::time_t t = std::chrono::system_clock::to_time_t(wall);
    std::tm local{};
    localtime_r(&t, &local);
    return (local.tm_year + 1900) * 10000 + (local.tm_mon + 1) * 100 + local.tm_mday;
}

} // namespace

void TActivityTracker::NewDayCheck(TWall wall) {
    const int day = LocalDay(wall);
    if (day != countedDay_) {
        countedDay_ = day;
        activity_.filesToday = 0;
    }
}

void TActivityTracker::Progress(const TTransferProgress& progress, TSteady now, TWall wall) {
    NewDayCheck(wall);
    const bool sameFile = activity_.current && activity_.current->file == progress.file &&
                          activity_.current->upload == progress.upload &&
                          progress.done >= firstReportDone_;
    if (progress.phase != TTransferPhase::Moving) {
        activity_.current.reset();
        activity_.bytesPerSecond = 0;
        activity_.timeLeft.reset();
        if (progress.phase == TTransferPhase::Done) {
            activity_.lastTransferAt = wall;
            activity_.lastTransferSize = progress.total.value_or(progress.done);
            ++activity_.filesToday;
            activity_.failing = false;
        } else {
            activity_.failing = true;
            failureInCycle_ = true;
        }
        return;
    }
    if (!sameFile) {
        // A new file, or the same one begun again: its rate starts from here.
        firstReportAt_ = now;
        firstReportDone_ = progress.done;
        activity_.bytesPerSecond = 0;
        activity_.timeLeft.reset();
    } else {
        const double seconds = std::chrono::duration<double>(now - firstReportAt_).count();
        if (seconds > 0) {
            activity_.bytesPerSecond =
                static_cast<double>(progress.done - firstReportDone_) / seconds;
        }
        activity_.timeLeft.reset();
        if (activity_.bytesPerSecond > 0 && progress.total && *progress.total >= progress.done) {
            const double left =
                static_cast<double>(*progress.total - progress.done) / activity_.bytesPerSecond;
            activity_.timeLeft = std::chrono::seconds(static_cast<int64_t>(left + 0.5));
        }
    }
    activity_.current = progress;
}

void TActivityTracker::Failure(const std::string& text) {
    activity_.failing = true;
    activity_.lastError = text;
    failureInCycle_ = true;
}

void TActivityTracker::CycleEnded(bool completed) {
    if (completed && !failureInCycle_)
        activity_.failing = false;
    failureInCycle_ = false;
}

void TActivityTracker::Started() {
    activity_.current.reset();
    activity_.bytesPerSecond = 0;
    activity_.timeLeft.reset();
    activity_.failing = false;
}

void TActivityTracker::Stopped() {
    activity_.current.reset();
    activity_.bytesPerSecond = 0;
    activity_.timeLeft.reset();
}

} // namespace tavrin::jobs

#include "app/NotificationRules.h"

namespace tavrin::app {
namespace {

std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

} // namespace

std::optional<TNotice> TNotificationRules::Outcome(const std::string& job, bool upload,
                                                   bool retried, jobs::TJobOutcome outcome,
                                                   const std::string& file, const std::string& text,
                                                   TClock::time_point now) {
    TJobRecord& record = jobs_[job];
    if (outcome == jobs::TJobOutcome::FileDone) {
        record.failuresInRow = 0;
        record.fileFailures.erase(file);
    } else {
        ++record.failuresInRow;
        if (outcome == jobs::TJobOutcome::FileFailed)
            ++record.fileFailures[file];
    }
    std::optional<TNotice> notice;
    bool tellsFailing = false;
    bool tellsRecovery = false;
    if (outcome == jobs::TJobOutcome::FileDone) {
        // Only a failure the user was told of needs its end told.
        if (record.toldFailing) {
            notice = TNotice{job + " works again", file + " moved."};
            tellsRecovery = true;
        }
    } else if (record.failuresInRow >= kFailuresInRow && !record.toldFailing) {
        // Told once the quiet time allows, not only at exactly the third failure.
        notice = TNotice{job + " is failing", "Failed " + std::to_string(record.failuresInRow) +
                                                  " times in a row: " + FirstLine(text)};
        tellsFailing = true;
    } else if (outcome == jobs::TJobOutcome::FileFailed) {
        const int failures = record.fileFailures[file];
        if (upload && !retried)
            notice = TNotice{job + ": " + file + " not sent",
                             "It is not tried again: " + FirstLine(text)};
        else if (failures == kFailuresInRow)
            notice = TNotice{job + ": " + file + (upload ? " not sent" : " not received"),
                             "Failed " + std::to_string(failures) +
                                 " times in a row: " + FirstLine(text)};
    }
    if (!notice)
        return std::nullopt;
    if (record.lastNotice && now - *record.lastNotice < kQuietTime)
        return std::nullopt;
    record.lastNotice = now;
    if (tellsFailing)
        record.toldFailing = true;
    if (tellsRecovery)
        record.toldFailing = false;
    return notice;
}

} // namespace tavrin::app

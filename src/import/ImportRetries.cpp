#include "import/ImportRetries.h"

#include "remote/RemoteSession.h"

#include <algorithm>

void TFetchRetries::SetSchedule(std::vector<std::chrono::milliseconds> delays, TNow now) {
    if (!delays.empty())
        delays_ = std::move(delays);
    if (now)
        now_ = std::move(now);
}

void TFetchRetries::NoteShape(const tavrin::remote::TRemoteEntry& entry, TFailure& failure) {
    failure.sizeKnown = entry.sizeKnown;
    failure.timeKnown = entry.modifiedKnown;
    failure.size = failure.sizeKnown ? entry.size : 0;
    failure.time = failure.timeKnown ? static_cast<double>(entry.modified) : 0.0;
}

bool TFetchRetries::SameShape(const tavrin::remote::TRemoteEntry& entry, const TFailure& failure) {
    TFailure now;
    NoteShape(entry, now);
    return now.sizeKnown == failure.sizeKnown && now.timeKnown == failure.timeKnown &&
           now.size == failure.size && now.time == failure.time;
}

bool TFetchRetries::Due(const tavrin::remote::TRemoteEntry& entry) {
    listed_.insert(entry.name);
    auto found = failed_.find(entry.name);
    if (found == failed_.end())
        return true;
    if (!SameShape(entry, found->second)) {
        // Replaced or grown on the server: whatever made it fail may be gone.
        failed_.erase(found);
        return true;
    }
    return now_() >= found->second.due;
}

std::chrono::milliseconds TFetchRetries::Failed(const tavrin::remote::TRemoteEntry& entry) {
    TFailure& failure = failed_[entry.name];
    ++failure.count;
    NoteShape(entry, failure);
    const std::chrono::milliseconds pause =
        failure.count == 1 ? std::chrono::milliseconds(0)
                           : delays_[std::min<size_t>(failure.count - 2, delays_.size() - 1)];
    failure.due = now_() + pause;
    return pause;
}

void TFetchRetries::Succeeded(const std::string& name) {
    failed_.erase(name);
}

void TFetchRetries::EndListing() {
    for (auto it = failed_.begin(); it != failed_.end();)
        it = listed_.count(it->first) ? std::next(it) : failed_.erase(it);
    listed_.clear();
}

std::string NextTryText(std::chrono::milliseconds pause) {
    const int64_t ms = pause.count();
    if (ms <= 0)
        return "at the next check";
    if (ms % 60000 == 0)
        return "in " + std::to_string(ms / 60000) + " min";
    if (ms % 1000 == 0)
        return "in " + std::to_string(ms / 1000) + " s";
    return "in " + std::to_string(ms) + " ms";
}

#include "import/ImportRetries.h"

#include "ftp/listing/IdFTPListItem.h"

#include <algorithm>

void TFetchRetries::SetSchedule(std::vector<std::chrono::milliseconds> delays, TNow now) {
    if (!delays.empty())
        delays_ = std::move(delays);
    if (now)
        now_ = std::move(now);
}

void TFetchRetries::NoteShape(const TIdFTPListItem& entry, TFailure& failure) {
    failure.sizeKnown = entry.ByteSizeKnown();
    failure.timeKnown = entry.ModifiedKnown();
    failure.size = failure.sizeKnown ? entry.ByteSize() : 0;
    failure.time = failure.timeKnown ? static_cast<double>(entry.Modified()) : 0.0;
}

bool TFetchRetries::SameShape(const TIdFTPListItem& entry, const TFailure& failure) {
    TFailure now;
    NoteShape(entry, now);
    return now.sizeKnown == failure.sizeKnown && now.timeKnown == failure.timeKnown &&
           now.size == failure.size && now.time == failure.time;
}

bool TFetchRetries::Due(const TIdFTPListItem& entry) {
    listed_.insert(entry.Name());
    auto found = failed_.find(entry.Name());
    if (found == failed_.end())
        return true;
    if (!SameShape(entry, found->second)) {
        // Replaced or grown on the server: whatever made it fail may be gone.
        failed_.erase(found);
        return true;
    }
    return now_() >= found->second.due;
}

std::chrono::milliseconds TFetchRetries::Failed(const TIdFTPListItem& entry) {
    TFailure& failure = failed_[entry.Name()];
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

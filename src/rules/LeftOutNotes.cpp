#include "rules/LeftOutNotes.h"

namespace tavrin::rules {

bool TLeftOutNotes::FirstTime(const std::string& path, const std::string& reason) {
    listed_.insert(path);
    auto [at, added] = reasons_.try_emplace(path, reason);
    if (added)
        return true;
    if (at->second == reason)
        return false;
    at->second = reason;
    return true;
}

void TLeftOutNotes::Taken(const std::string& path) {
    reasons_.erase(path);
}

void TLeftOutNotes::EndListing() {
    std::erase_if(reasons_, [this](const auto& entry) { return !listed_.contains(entry.first); });
    listed_.clear();
}

} // namespace tavrin::rules

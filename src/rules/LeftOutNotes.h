#pragma once
// Says once that a listed file is left out, and again only when the rule that leaves it out
// changes or the file was gone from a listing in between: a monitor polling every few seconds
// must not repeat the same line at every cycle.
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace tavrin::rules {

class TLeftOutNotes {
public:
    // True when this file, left out for `reason`, should be named now.
    bool FirstTime(const std::string& path, const std::string& reason);
    // The file is taken in this listing: a later leaving-out is news again.
    void Taken(const std::string& path);
    // The end of a whole listing: files it did not show are forgotten.
    void EndListing();
    size_t Remembered() const { return reasons_.size(); }

private:
    std::unordered_map<std::string, std::string> reasons_;
    std::unordered_set<std::string> listed_;
};

} // namespace tavrin::rules

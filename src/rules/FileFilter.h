#pragma once
// Which files a job takes: a file is taken when its name (or its path below the job's folder)
// matches some Include pattern (no Include: every name) and no Exclude pattern, and its size
// and age keep within MinSize, MaxSize and MinAge. Sizes are whole numbers of bytes with an
// optional k, M or G (1024, 1024², 1024³; "B" or "iB" may follow); ages are seconds since the
// file was last modified.
#include "rules/PatternList.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::rules {

// The settings as the file holds them; empty texts set no bound.
struct TFilterSettings {
    std::string Include;
    std::string Exclude;
    bool IgnoreCase = false;
    std::string MinSize;
    std::string MaxSize;
    std::string MinAge;
};

// What is known of one file. A listing that tells no size or time leaves those bounds
// unchecked: the file is not held back for what nobody can know.
struct TFileFacts {
    std::string_view path;
    std::optional<int64_t> size;
    std::optional<int64_t> ageSeconds;
};

// "10k" as 10240; none for text that is not a size (empty text included).
std::optional<int64_t> ParseByteSize(std::string_view text);
// A whole, non-negative number of seconds; none otherwise.
std::optional<int64_t> ParseSeconds(std::string_view text);

class TFileFilter {
public:
    // Takes every file.
    TFileFilter() = default;
    // Every value that cannot be used adds a text to `problems`, naming the key and the value.
    TFileFilter(const TFilterSettings& settings, std::vector<std::string>& problems);

    // Empty when the file is taken; otherwise the rule that left it out, as
    // "excluded by *.tmp" or "smaller than MinSize 1k".
    std::string WhyLeftOut(const TFileFacts& file) const;
    // Seconds a file must have gone unmodified; 0 for none.
    int64_t MinAgeSeconds() const { return minAge_; }

private:
    TPatternList include_, exclude_;
    std::string includeText_;
    std::optional<int64_t> minSize_, maxSize_;
    std::string minSizeText_, maxSizeText_, minAgeText_;
    int64_t minAge_ = 0;
};

// The problems of a direction's filter settings, for the start checks.
std::vector<std::string> FilterProblems(const TFilterSettings& settings);

} // namespace tavrin::rules

#include "rules/FileFilter.h"

#include <cctype>
#include <limits>

namespace tavrin::rules {
namespace {

std::string_view TrimmedView(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

bool StartsDigits(std::string_view text) {
    return !text.empty() && std::isdigit(static_cast<unsigned char>(text.front()));
}

// The leading decimal digits of `text` as a number, removed from it; none on overflow.
std::optional<int64_t> TakeNumber(std::string_view& text) {
    int64_t value = 0;
    while (StartsDigits(text)) {
        const int digit = text.front() - '0';
        if (value > (std::numeric_limits<int64_t>::max() - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
        text.remove_prefix(1);
    }
    return value;
}

int ShiftOf(char suffix) {
    switch (suffix) {
    case 'k':
    case 'K':
        return 10;
    case 'm':
    case 'M':
        return 20;
    case 'g':
    case 'G':
        return 30;
    default:
        return -1;
    }
}

std::string Quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

} // namespace

std::optional<int64_t> ParseByteSize(std::string_view text) {
    text = TrimmedView(text);
    if (!StartsDigits(text))
        return std::nullopt;
    std::optional<int64_t> value = TakeNumber(text);
    text = TrimmedView(text);
    int shift = 0;
    if (!text.empty() && ShiftOf(text.front()) >= 0) {
        shift = ShiftOf(text.front());
        text.remove_prefix(1);
        if (text == "iB")
            text = {};
    }
    if (text == "B" || text == "b")
        text = {};
    if (!value || !text.empty() || *value > (std::numeric_limits<int64_t>::max() >> shift))
        return std::nullopt;
    return *value << shift;
}

std::optional<int64_t> ParseSeconds(std::string_view text) {
    text = TrimmedView(text);
    if (!StartsDigits(text))
        return std::nullopt;
    std::optional<int64_t> value = TakeNumber(text);
    if (!value || !text.empty())
        return std::nullopt;
    return value;
}

TFileFilter::TFileFilter(const TFilterSettings& settings, std::vector<std::string>& problems)
    : include_(settings.Include, settings.IgnoreCase, "Include", problems),
      exclude_(settings.Exclude, settings.IgnoreCase, "Exclude", problems),
      includeText_(TrimmedView(settings.Include)), minSizeText_(TrimmedView(settings.MinSize)),
      maxSizeText_(TrimmedView(settings.MaxSize)), minAgeText_(TrimmedView(settings.MinAge)) {
    auto size = [&problems](const char* key, const std::string& text) -> std::optional<int64_t> {
        if (text.empty())
            return std::nullopt;
        std::optional<int64_t> bytes = ParseByteSize(text);
        if (!bytes)
            problems.push_back(std::string(key) + " " + Quoted(text) +
                               " is not a size: a whole number of bytes, or of k, M or G "
                               "(1024-based)");
        return bytes;
    };
    minSize_ = size("MinSize", minSizeText_);
    maxSize_ = size("MaxSize", maxSizeText_);
    if (minSize_ && maxSize_ && *maxSize_ < *minSize_)
        problems.push_back("MaxSize " + maxSizeText_ + " is smaller than MinSize " + minSizeText_ +
                           ": no file could be taken");
    if (!minAgeText_.empty()) {
        if (std::optional<int64_t> seconds = ParseSeconds(minAgeText_))
            minAge_ = *seconds;
        else
            problems.push_back("MinAge " + Quoted(minAgeText_) +
                               " is not a whole number of seconds");
    }
}

std::string TFileFilter::WhyLeftOut(const TFileFacts& file) const {
    if (!include_.Empty() && !include_.FirstMatch(file.path))
        return "not matched by Include " + includeText_;
    if (const TNamePattern* pattern = exclude_.FirstMatch(file.path))
        return "excluded by " + pattern->Text();
    if (file.size && minSize_ && *file.size < *minSize_)
        return "smaller than MinSize " + minSizeText_;
    if (file.size && maxSize_ && *file.size > *maxSize_)
        return "larger than MaxSize " + maxSizeText_;
    if (file.ageSeconds && minAge_ > 0 && *file.ageSeconds < minAge_)
        return "younger than MinAge " + minAgeText_;
    return {};
}

std::vector<std::string> FilterProblems(const TFilterSettings& settings) {
    std::vector<std::string> problems;
    TFileFilter filter(settings, problems);
    return problems;
}

} // namespace tavrin::rules

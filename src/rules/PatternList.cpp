#include "rules/PatternList.h"

#include <algorithm>

namespace tavrin::rules {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Blanks at either end go, except one kept by a "\" before it.
std::string Trimmed(std::string_view text) {
    size_t start = 0;
    while (start < text.size() && IsBlank(text[start]))
        ++start;
    size_t end = text.size();
    while (end > start && IsBlank(text[end - 1])) {
        size_t slashes = 0;
        while (end - 1 - slashes > start && text[end - 2 - slashes] == '\\')
            ++slashes;
        if (slashes % 2 == 1)
            break;
        --end;
    }
    return std::string(text.substr(start, end - start));
}

} // namespace

std::vector<std::string> SplitPatternList(std::string_view list) {
    std::vector<std::string> texts;
    size_t from = 0;
    size_t at = 0;
    for (;;) {
        if (at < list.size() && list[at] != ';') {
            at += list[at] == '\\' ? 2 : 1; // an escaped character is part of the pattern
            continue;
        }
        const size_t end = std::min(at, list.size());
        if (std::string text = Trimmed(list.substr(from, end - from)); !text.empty())
            texts.push_back(std::move(text));
        if (at >= list.size())
            return texts;
        from = ++at;
    }
}

TPatternList::TPatternList(std::string_view list, bool ignoreCase, const std::string& keyName,
                           std::vector<std::string>& problems) {
    for (const std::string& text : SplitPatternList(list)) {
        std::string error;
        TNamePattern pattern = TNamePattern::Parse(text, ignoreCase, error);
        if (error.empty())
            patterns_.push_back(std::move(pattern));
        else
            problems.push_back(keyName + " pattern \"" + text + "\" " + error);
    }
}

const TNamePattern* TPatternList::FirstMatch(std::string_view name) const {
    for (const TNamePattern& pattern : patterns_)
        if (pattern.Matches(name))
            return &pattern;
    return nullptr;
}

} // namespace tavrin::rules

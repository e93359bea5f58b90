#pragma once
// A list of name patterns as a setting holds it: separated by ";", blanks around each one
// dropped, empty ones ignored. "\;" is a ";" of a pattern.
#include "rules/NamePattern.h"

#include <string>
#include <string_view>
#include <vector>

namespace tavrin::rules {

// The pattern texts of a list, as written (escapes kept).
std::vector<std::string> SplitPatternList(std::string_view list);

class TPatternList {
public:
    TPatternList() = default;
    // Every malformed pattern adds one text to `problems`: `keyName` pattern "text" and what
    // is wrong with it. Good patterns of the list still work.
    TPatternList(std::string_view list, bool ignoreCase, const std::string& keyName,
                 std::vector<std::string>& problems);

    bool Empty() const { return patterns_.empty(); }
    // The first pattern that matches `name`, or nullptr.
    const TNamePattern* FirstMatch(std::string_view name) const;

private:
    std::vector<TNamePattern> patterns_;
};

} // namespace tavrin::rules

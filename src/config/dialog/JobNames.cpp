#include "config/dialog/JobNames.h"

#include "base/StrUtils.h"

#include <algorithm>

namespace tavrin {
namespace {

constexpr size_t kLongestName = 64;

bool AllowedInName(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ' ||
           c == '-' || c == '_' || c == '.';
}

} // namespace

bool SameJobName(const std::string& a, const std::string& b) {
    return SameTextAscii(a, b);
}

std::string NewJobNameProblem(const std::string& name, const std::vector<std::string>& taken) {
    if (name.empty() || name.size() > kLongestName || name.front() == ' ' || name.back() == ' ' ||
        !std::all_of(name.begin(), name.end(), AllowedInName))
        return "A job name is 1 to 64 letters, digits, spaces, '-', '_' or '.', and does not "
               "start or end with a space.";
    for (const std::string& other : taken)
        if (SameJobName(name, other))
            return "There is already a job named \"" + other + "\".";
    return {};
}

} // namespace tavrin

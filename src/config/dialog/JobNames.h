#pragma once
// Names of transfer jobs as the settings dialog accepts them: the settings file's rule (1 to
// 64 letters, digits, spaces, "-", "_" or ".", no space at either end), and unique across
// both directions whatever the case.
#include <string>
#include <vector>

namespace tavrin {

bool SameJobName(const std::string& a, const std::string& b);

// Empty when `name` may be given to a job next to the names in `taken`; otherwise why not.
std::string NewJobNameProblem(const std::string& name, const std::vector<std::string>& taken);

} // namespace tavrin

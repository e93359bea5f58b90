#include "config/dialog/JobNames.h"

#include "base/StrUtils.h"
#include "config/JobSections.h"

#include <cctype>

namespace tavrin {

bool SameJobName(const std::string& a, const std::string& b) {
    return SameTextAscii(a, b);
}

std::string NewJobNameProblem(const std::string& name, const std::vector<std::string>& taken) {
    // The settings file's own rule, said as a sentence for the box.
    std::string problem = JobNameProblem(name);
    if (problem.empty())
        for (const std::string& other : taken)
            if (SameJobName(name, other))
                problem = "there is already a job named \"" + other + "\"";
    if (!problem.empty()) {
        problem[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(problem[0])));
        problem += ".";
    }
    return problem;
}

} // namespace tavrin

#pragma once
// A hook's command line, split into words the way a shell would split them, but with nothing
// expanded: no variables, no globs, no pipes or ";". Users who want those write `sh -c '...'`.
#include <optional>
#include <string>
#include <vector>

namespace tavrin::jobs {

struct THookWords {
    std::vector<std::string> words;
    // Set when the line cannot be split (an unterminated quote, a trailing backslash).
    std::optional<std::string> problem;
};

// Blanks (space, tab, line break) separate words. '...' keeps everything up to the next ';
// "..." keeps everything, a backslash there escaping only \ " $ ` and a line break; outside
// quotes a backslash keeps the next character as it is.
THookWords SplitHookCommand(const std::string& line);

} // namespace tavrin::jobs

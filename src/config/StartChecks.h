#pragma once
// What keeps a monitor from doing any work at all, found before it is started: both the
// window and the service refuse to start such a monitor and say what is missing, instead of
// showing it as active while every cycle fails.
#include "config/CommonTypesUnit.h"

#include <string>
#include <vector>

namespace tavrin {

// Empty when the import monitor can start; otherwise every reason why not, in the order of
// the settings page: an empty Host, a Port that is no number or out of range, an import (or
// staging) folder that is not set or does not exist, a TLS certificate or key that cannot be
// read, a filter key that cannot be read (a pattern with an unbalanced "[", a size that is no
// size).
std::vector<std::string> ImportStartProblems(const RConfiguration& config);
// The same for the export monitor: Host, Port, the watched folder, the folder sent files move
// to (when they move), the TLS files, the filter.
std::vector<std::string> ExportStartProblems(const RConfiguration& config);

// The problems as one text: joined by `separator`, or empty when there are none.
std::string JoinedProblems(const std::vector<std::string>& problems, const std::string& separator);

} // namespace tavrin

#pragma once
// What keeps a monitor from doing any work at all, found before it is started. The window
// lets such a monitor show as active and reports the fault on every cycle; a service must
// not look healthy while it moves nothing, so it refuses to start instead.
#include "config/CommonTypesUnit.h"

#include <string>

namespace tavrin::service {

// Empty when the import monitor can start; otherwise why not: a Port that is no number or
// out of range, a missing import (or staging) folder, a TLS certificate or key that cannot
// be read.
std::string ImportStartProblem(const RConfiguration& config);
// The same for the export monitor: Port, the watched folder, the TLS files.
std::string ExportStartProblem(const RConfiguration& config);

} // namespace tavrin::service

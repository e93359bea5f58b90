#pragma once
// A direction's filter keys as the file filter takes them.
#include "config/CommonTypesUnit.h"
#include "rules/FileFilter.h"

namespace tavrin {

rules::TFilterSettings FilterSettingsOf(const RConfiguration& config);

} // namespace tavrin

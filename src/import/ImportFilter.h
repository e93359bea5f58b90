#pragma once
// The import's filter, made from its settings.
#include "config/CommonTypesUnit.h"
#include "rules/FileFilter.h"

// Raises EIdException naming every filter value that cannot be read.
tavrin::rules::TFileFilter ImportFilterOf(const RConfiguration& config);

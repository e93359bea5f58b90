#pragma once
// The dialog's way to the job sections of the settings file: the jobs beyond "Import" and
// "Export", and removing and renaming their sections.
#include "config/CommonTypesUnit.h"
#include "config/SettingsKeys.h"

#include <string>
#include <vector>

namespace tavrin {

struct TStoredJob {
    std::string Name;
    TDirection Direction;
    std::string Section;
    RConfiguration Record;
    bool Enabled = true;
};

// The named jobs in file order; sections with bad or duplicate names are left out.
std::vector<TStoredJob> ReadNamedJobs(const std::string& path);
void SaveJobRecord(TDirection direction, const std::string& section, const RConfiguration& record,
                   const std::string& path);
// Whether the service runs a named job (its Enabled key).
void SaveJobEnabledFlag(const std::string& section, bool enabled, const std::string& path);
void RemoveJobFromFile(const std::string& section, const std::string& path);
void RenameJobInFile(const std::string& from, const std::string& to, const std::string& path);

} // namespace tavrin

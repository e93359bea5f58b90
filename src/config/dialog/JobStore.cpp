#include "config/dialog/JobStore.h"

#include "base/StrUtils.h"
#include "config/JobSections.h"
#include "config/SettingsFile.h"

namespace tavrin {

std::vector<TStoredJob> ReadNamedJobs(const std::string& path) {
    std::vector<std::string> skipped; // the window's log names them
    std::vector<TStoredJob> jobs;
    for (const TJobSection& job : ReadJobSections(path, skipped)) {
        if (job.section == SectionName(job.direction))
            continue; // "Import" and "Export" have their pages already
        jobs.push_back({job.name, job.direction, job.section,
                        LoadRecord(job.direction, job.section, path), job.enabled});
    }
    return jobs;
}

void SaveJobRecord(TDirection direction, const std::string& section, const RConfiguration& record,
                   const std::string& path) {
    SaveRecord(direction, section, record, path);
}

void SaveJobEnabledFlag(const std::string& section, bool enabled, const std::string& path) {
    SaveJobEnabled(section, enabled, path);
}

void RemoveJobFromFile(const std::string& section, const std::string& path) {
    RemoveJobSection(path, section);
}

void RenameJobInFile(const std::string& from, const std::string& to, const std::string& path) {
    // The file's names ignore case: a job whose name only changed case keeps its section.
    if (!SameTextAscii(from, to))
        RenameJobSection(path, from, to);
}

} // namespace tavrin

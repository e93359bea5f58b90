#pragma once
// The jobs a settings file defines. "[Import]" and "[Export]" are the jobs "Import" and
// "Export", exactly as they always were (the import's PassiveMode/BinaryMode live in
// "[Export]"). Any further job is a section "[Import:NAME]" or "[Export:NAME]" with the keys of
// its direction, its own PassiveMode/BinaryMode, and Enabled (default 1).
#include "config/SettingsFile.h"

#include <optional>
#include <string>
#include <vector>

namespace tavrin {

struct TJobSection {
    std::string name; // "Import", "Export" or NAME
    TDirection direction = TDirection::Import;
    std::string section; // "Import", "Export", "Import:NAME" or "Export:NAME"
    bool enabled = true;

    bool operator==(const TJobSection&) const = default;
};

// The longest job name.
constexpr size_t kMaxJobNameLength = 64;

// Why `name` cannot name a further job (empty: it can): 1 to 64 letters, digits, spaces, "-",
// "_" and ".", neither beginning nor ending with a space, and not "Import" or "Export" in any
// case (those are the two jobs of the plain sections).
std::string JobNameProblem(const std::string& name);

// "Import"/"Export" for the jobs of those names in their own direction, else "Import:NAME" or
// "Export:NAME".
std::string JobSectionName(TDirection direction, const std::string& name);

// The jobs of the file in the order of their sections; a missing file has none. A job section
// whose name is bad, or taken already by an earlier job of either direction (case ignored), is
// left out and `skipped` gets one line naming it; the other sections are not affected.
std::vector<TJobSection> ReadJobSections(const std::string& path,
                                         std::vector<std::string>& skipped);

// Writes Enabled of a named job section ("1"/"0"). Raises ESettingsWriteError.
void SaveJobEnabled(const std::string& section, bool enabled, const std::string& path);

// Removes the section and its keys. Raises ESettingsWriteError when the file cannot be written.
void RemoveJobSection(const std::string& path, const std::string& section);
// Renames the section, keys untouched. Raises ESettingsWriteError when the file cannot be
// written, `from` is missing or `to` is taken.
void RenameJobSection(const std::string& path, const std::string& from, const std::string& to);

// The register of downloaded names of the import job `jobName`: RegisterFilePath() for
// "Import", "LocalFileList-NAME.txt" in the same folder for any other.
std::string RegisterFilePathFor(const std::string& jobName);

} // namespace tavrin

#include "config/JobSections.h"

#include "base/StrUtils.h"
#include "config/ConfigPaths.h"
#include "platform/IniFile.h"

#include <optional>
#include <string_view>

namespace tavrin {
namespace {

bool NameCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ' ||
           c == '-' || c == '_' || c == '.';
}

// The direction and name of a job section, or nothing for sections that hold no job
// ("General", anything else a user keeps there). "Import:" with a bad name still is a job
// section: it is reported, not passed over.
struct ParsedSection {
    TDirection direction;
    std::string name;
    bool plain; // "[Import]" or "[Export]"
};

std::optional<ParsedSection> ParseSection(std::string_view section) {
    for (TDirection direction : {TDirection::Import, TDirection::Export}) {
        const std::string& plain = SectionName(direction);
        if (SameTextAscii(section, plain))
            return ParsedSection{direction, plain, true};
        if (section.size() > plain.size() && section[plain.size()] == ':' &&
            SameTextAscii(section.substr(0, plain.size()), plain))
            return ParsedSection{direction, std::string(section.substr(plain.size() + 1)), false};
    }
    return std::nullopt;
}

} // namespace

std::string JobNameProblem(const std::string& name) {
    if (name.empty())
        return "a job needs a name";
    if (name.size() > kMaxJobNameLength)
        return "a job name has at most 64 characters";
    for (char c : name)
        if (!NameCharacter(c))
            return "a job name has only letters, digits, spaces, \"-\", \"_\" and \".\"";
    if (name.front() == ' ' || name.back() == ' ')
        return "a job name does not begin or end with a space";
    if (SameTextAscii(name, "Import") || SameTextAscii(name, "Export"))
        return "\"" + name + "\" is the name of the [Import] or [Export] job";
    return {};
}

std::string JobSectionName(TDirection direction, const std::string& name) {
    if (name == SectionName(direction))
        return name;
    return SectionName(direction) + ":" + name;
}

std::vector<TJobSection> ReadJobSections(const std::string& path,
                                         std::vector<std::string>& skipped) {
    std::vector<TJobSection> jobs;
    const TIniFile ini(path);
    for (const std::string& section : ini.ReadSections()) {
        std::optional<ParsedSection> parsed = ParseSection(section);
        if (!parsed)
            continue;
        std::string problem = parsed->plain ? std::string() : JobNameProblem(parsed->name);
        if (problem.empty())
            for (const TJobSection& earlier : jobs)
                if (SameTextAscii(earlier.name, parsed->name))
                    problem = "another job is named \"" + earlier.name + "\" already";
        if (!problem.empty()) {
            skipped.push_back("Job [" + section + "] skipped: " + problem);
            continue;
        }
        TJobSection job{parsed->name, parsed->direction,
                        JobSectionName(parsed->direction, parsed->name), true};
        if (!parsed->plain) {
            auto enabled = TryStrToInt(ini.ReadString(job.section, "Enabled", "1"));
            job.enabled = enabled.value_or(1) != 0;
        }
        jobs.push_back(std::move(job));
    }
    return jobs;
}

void SaveJobEnabled(const std::string& section, bool enabled, const std::string& path) {
    TIniFile ini(path);
    if (!ini.WriteString(section, "Enabled", enabled ? "1" : "0"))
        throw ESettingsWriteError("Unable to write to " + path);
}

void RemoveJobSection(const std::string& path, const std::string& section) {
    TIniFile ini(path);
    if (!ini.EraseSection(section))
        throw ESettingsWriteError("Unable to write to " + path);
}

void RenameJobSection(const std::string& path, const std::string& from, const std::string& to) {
    TIniFile ini(path);
    if (!ini.RenameSection(from, to))
        throw ESettingsWriteError("Unable to rename [" + from + "] to [" + to + "] in " + path);
}

std::string RegisterFilePathFor(const std::string& jobName) {
    if (jobName == "Import")
        return RegisterFilePath();
    return RegisterFolder() + "/LocalFileList-" + jobName + ".txt";
}

} // namespace tavrin

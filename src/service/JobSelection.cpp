#include "service/JobSelection.h"

#include "base/StrUtils.h"
#include "config/StartChecks.h"

namespace tavrin::service {
namespace {

// The jobs of a file; "Import" and "Export" when it defines none.
std::vector<TJobSection> JobsOrStandard(const std::string& configPath,
                                        std::vector<std::string>& skipped) {
    std::vector<TJobSection> sections = ReadJobSections(configPath, skipped);
    if (sections.empty())
        sections = {{"Import", TDirection::Import, "Import", true},
                    {"Export", TDirection::Export, "Export", true}};
    return sections;
}

std::string ServerOf(const RConfiguration& c) {
    std::string folder = c.RemoteFolder;
    if (folder.empty() || folder.front() != '/')
        folder.insert(0, "/");
    return c.Username + "@" + c.Host + ":" + c.Port + folder;
}

} // namespace

TJobChoice ChooseJobs(const std::string& configPath, const std::vector<std::string>& names) {
    TJobChoice choice;
    if (names.empty()) {
        for (const TJobSection& section : JobsOrStandard(configPath, choice.problems))
            if (section.enabled)
                choice.jobs.push_back(jobs::DefinitionOf(section));
        return choice;
    }
    std::vector<TJobSection> sections = ReadJobSections(configPath, choice.problems);
    for (const std::string& name : names) {
        const TJobSection* found = nullptr;
        for (const TJobSection& section : sections)
            if (SameTextAscii(section.name, name))
                found = &section;
        bool taken = false;
        for (const jobs::TJobDefinition& already : choice.jobs)
            taken = taken || SameTextAscii(already.name, name);
        if (taken)
            continue;
        if (found)
            choice.jobs.push_back(jobs::DefinitionOf(*found));
        else if (SameTextAscii(name, "Import"))
            choice.jobs.emplace_back("Import", jobs::TJobKind::Import);
        else if (SameTextAscii(name, "Export"))
            choice.jobs.emplace_back("Export", jobs::TJobKind::Export);
        else {
            choice.problems.push_back("no job named \"" + name + "\" in " + configPath);
            ++choice.fatalProblems;
        }
    }
    return choice;
}

std::string PasswordSource(const RConfiguration& c) {
    if (SameTextAscii(c.Protocol, "SFTP")) {
        if (c.SSHAgent)
            return "SSH agent";
        if (!c.SSHKey.empty())
            return "key file " + c.SSHKey;
    }
    return c.Password.empty() ? "none" : "settings file";
}

size_t ListJobs(const std::string& configPath, std::ostream& out) {
    std::vector<std::string> skipped;
    const std::vector<TJobSection> sections = ReadJobSections(configPath, skipped);
    for (const std::string& line : skipped)
        out << line << "\n";
    for (const TJobSection& job : sections) {
        const RConfiguration c = LoadRecord(job.direction, job.section, configPath);
        const bool import = job.direction == TDirection::Import;
        out << job.name << ": " << (import ? "import" : "export") << ", server " << ServerOf(c)
            << ", local folder " << (c.LocalFolder.empty() ? "(none)" : c.LocalFolder);
        if (c.FirstToTemp && !c.TempFolder.empty())
            out << ", " << (import ? "download folder " : "remote temp folder ") << c.TempFolder;
        if (!import && c.MoveDelete && !c.MoveToFolder.empty())
            out << ", move to " << c.MoveToFolder;
        out << ", password: " << PasswordSource(c);
        if (!job.enabled)
            out << " (disabled)";
        out << "\n";
    }
    return sections.size();
}

size_t CheckJobs(const std::string& configPath, std::ostream& out) {
    std::vector<std::string> skipped;
    const std::vector<TJobSection> sections = JobsOrStandard(configPath, skipped);
    size_t count = skipped.size();
    for (const std::string& line : skipped)
        out << line << "\n";
    for (const TJobSection& job : sections) {
        const RConfiguration c = LoadRecord(job.direction, job.section, configPath);
        const std::vector<std::string> problems =
            job.direction == TDirection::Import ? ImportStartProblems(c) : ExportStartProblems(c);
        for (const std::string& problem : problems)
            out << job.name << ": " << problem << "\n";
        count += problems.size();
    }
    return count;
}

} // namespace tavrin::service

#include "service/JobSelection.h"

#include "base/StrUtils.h"
#include "config/StartChecks.h"
#include "secrets/SecretSources.h"

#include <unistd.h>

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
    const bool rooted = !c.RemoteFolder.empty() && c.RemoteFolder.front() == '/';
    return c.Username + "@" + c.Host + ":" + c.Port + (rooted ? "" : "/") + c.RemoteFolder;
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

std::string PasswordSource(const std::string& jobName, const RConfiguration& c) {
    std::string source;
    const std::string credentials = SecretSourcesFromEnvironment(nullptr).CredentialsDirectory;
    if (!credentials.empty() &&
        ::access((credentials + "/" + jobName + ".password").c_str(), F_OK) == 0)
        source = "systemd credential";
    else if (!c.PasswordFile.empty())
        source = "password file " + c.PasswordFile;
    else if (KeepsSecretsInKeyring(c))
        source = "desktop keyring";
    else
        source = c.Password.empty() ? "none" : "settings file";
    // An SFTP login tries the agent's keys, then the key file, then the password.
    std::string before;
    if (SameTextAscii(c.Protocol, "SFTP")) {
        if (c.SSHAgent)
            before += "SSH agent, then ";
        if (!c.SSHKey.empty())
            before += "key file " + c.SSHKey + ", then ";
    }
    return before + source;
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
        out << ", password: " << PasswordSource(job.name, c);
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
        std::vector<std::string> problems =
            job.direction == TDirection::Import ? ImportStartProblems(c) : ExportStartProblems(c);
        // A password file others may read, or passwords only the desktop keyring has, keep
        // the job from starting as surely as a missing folder does.
        RConfiguration secrets = c;
        for (std::string& problem :
             ResolveSecrets(job.name, secrets, SecretSourcesFromEnvironment(nullptr)).Problems)
            problems.push_back(std::move(problem));
        for (const std::string& problem : problems)
            out << job.name << ": " << problem << "\n";
        count += problems.size();
    }
    return count;
}

} // namespace tavrin::service

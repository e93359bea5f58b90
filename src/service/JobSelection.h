#pragma once
// Which jobs the service runs, and what --list and --check print about the jobs of a
// settings file.
#include "config/JobSections.h"
#include "jobs/Job.h"

#include <ostream>
#include <string>
#include <vector>

namespace tavrin::service {

struct TJobChoice {
    std::vector<jobs::TJobDefinition> jobs;
    // A section skipped for its name, or a job asked for by name that the file does not have.
    std::vector<std::string> problems;
    // The problems that stop a start (names asked for that are missing); the others are
    // warnings.
    size_t fatalProblems = 0;
};

// `names` empty: every enabled job of the file; a file without any job gives the jobs
// "Import" and "Export", whose start then names what is missing. Otherwise the jobs of those
// names (case ignored), "Import" and "Export" also without their section.
TJobChoice ChooseJobs(const std::string& configPath, const std::vector<std::string>& names);

// Where a job's password comes from, never the password itself.
std::string PasswordSource(const std::string& jobName, const RConfiguration& config);

// One line per job of the file: name, direction, server, folders, password source, and
// "(disabled)". Returns the number of jobs.
size_t ListJobs(const std::string& configPath, std::ostream& out);

// Every problem of every job of the file (or of "Import" and "Export" when it has none), one
// line each, "NAME: problem"; returns how many there were.
size_t CheckJobs(const std::string& configPath, std::ostream& out);

} // namespace tavrin::service

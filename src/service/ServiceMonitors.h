#pragma once
// The service's presentation of the job set: which jobs to run, their start failures as one
// text for standard error, and a stop at the program's end. What starting, restarting and
// stopping do is the job set's.
#include "jobs/JobSet.h"
#include "service/ProgressLines.h"

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace tavrin::service {

// A chosen monitor cannot start; what() says which one and why.
class EMonitorStartError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TServiceMonitors {
public:
    // `configPath`: the settings file every start and restart reads. `names`: the jobs to
    // run; empty: every enabled job of the file (see ChooseJobs).
    TServiceMonitors(std::vector<std::string> names, std::string configPath);
    // Stops what still runs, as StopNow does.
    ~TServiceMonitors();
    TServiceMonitors(const TServiceMonitors&) = delete;
    TServiceMonitors& operator=(const TServiceMonitors&) = delete;

    // Reads the log switches and starts the chosen jobs from the settings file as it is now.
    // On failure nothing is left running and EMonitorStartError says why.
    void Start();
    // The settings file was changed: log switches read again, jobs no longer in the file (or
    // no longer enabled) stopped, running jobs whose settings changed restarted, new and
    // stopped ones started, one after the other. A job that cannot start goes to `failed`
    // (with the reason) and stays stopped; the others go on.
    void Restart(std::function<void(const EMonitorStartError& failure)> failed);
    // The program ends: the last job first; cycles in progress have their connections cut,
    // registers are saved.
    void StopNow();

private:
    void StartJob(jobs::TJob& job);
    void Follow(jobs::TJob& job);
    std::vector<jobs::TJobDefinition> Chosen(std::vector<std::string>& fatal);

    std::vector<std::string> names_;
    std::string configPath_;
    TProgressLines progressLines_;
    std::unique_ptr<jobs::TJobSet> jobs_;
};

} // namespace tavrin::service

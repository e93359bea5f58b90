#pragma once
// The service's presentation of the job set: which jobs to run, their start failures as one
// text for standard error, and a stop at the program's end. What starting, restarting and
// stopping do is the job set's.
#include "jobs/JobSet.h"

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace tavrin::service {

// A chosen monitor cannot start; what() says which one and why.
class EMonitorStartError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TServiceMonitors {
public:
    // `configPath`: the settings file every start and restart reads.
    TServiceMonitors(bool runImport, bool runExport, std::string configPath);
    // Stops what still runs, as StopNow does.
    ~TServiceMonitors();
    TServiceMonitors(const TServiceMonitors&) = delete;
    TServiceMonitors& operator=(const TServiceMonitors&) = delete;

    // Reads the log switches and starts the chosen monitors from the settings file as it is
    // now. On failure nothing is left running and EMonitorStartError says why.
    void Start();
    // The settings file was changed: log switches read again, then each running monitor
    // stopped and started again, import first, one after the other. A monitor that cannot
    // start again goes to `failed` (with the reason); the others go on.
    void Restart(std::function<void(const EMonitorStartError& failure)> failed);
    // The program ends: export first, then import; cycles in progress have their connections
    // cut, registers are saved.
    void StopNow();

private:
    void StartJob(jobs::TJob& job);

    bool runImport_;
    bool runExport_;
    std::string configPath_;
    std::unique_ptr<jobs::TJobSet> jobs_;
};

} // namespace tavrin::service

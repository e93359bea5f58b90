#include "service/ServiceMonitors.h"

#include "config/SettingsFile.h"
#include "config/StartChecks.h"
#include "service/StdoutLog.h"

#include <cctype>
#include <exception>

namespace tavrin::service {
namespace {

EMonitorStartError StartError(const jobs::TJob& job, const std::string& why) {
    std::string monitor = job.Name();
    for (char& c : monitor)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return EMonitorStartError("cannot start the " + monitor + " monitor: " + why);
}

// What a failed start raised, as the text after "cannot start the ... monitor: ".
std::string Why(std::exception_ptr failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const jobs::EJobRefused& refused) {
        return JoinedProblems(refused.Problems(), "; ");
    } catch (const std::exception& other) {
        return other.what();
    } catch (...) {
        return "unexpected failure";
    }
}

} // namespace

TServiceMonitors::TServiceMonitors(bool runImport, bool runExport, std::string configPath)
    : runImport_(runImport), runExport_(runExport), configPath_(std::move(configPath)),
      jobs_(std::make_unique<jobs::TJobSet>(jobs::StandardJobs(), configPath_, StdoutLogEvent())) {
    for (const std::unique_ptr<jobs::TJob>& job : jobs_->Jobs())
        job->OnErrorBox = [](const jobs::TJob& from, const std::string& text) {
            WriteErrorBoxLine(text, from.Name());
        };
}

TServiceMonitors::~TServiceMonitors() {
    StopNow();
}

void TServiceMonitors::Start() {
    LoadLogSwitches(configPath_);
    try {
        for (const std::unique_ptr<jobs::TJob>& job : jobs_->Jobs())
            if (job->Kind() == jobs::TJobKind::Import ? runImport_ : runExport_)
                StartJob(*job);
    } catch (...) {
        StopNow();
        throw;
    }
}

void TServiceMonitors::StartJob(jobs::TJob& job) {
    try {
        jobs_->Start(job);
    } catch (...) {
        throw StartError(job, Why(std::current_exception()));
    }
    // The folder was there a moment ago but cannot be watched (no permission, no watches
    // left): the monitor would look alive and upload nothing.
    if (job.Kind() == jobs::TJobKind::Export && !job.Watching()) {
        job.StopNow();
        throw StartError(job, "folder " + job.Config().LocalFolder + " cannot be watched");
    }
}

void TServiceMonitors::Restart(std::function<void(const EMonitorStartError& failure)> failed) {
    LoadLogSwitches(configPath_);
    jobs_->RestartRunning([failed](jobs::TJob& job, std::exception_ptr failure) {
        if (failed)
            failed(StartError(job, Why(failure)));
    });
}

void TServiceMonitors::StopNow() {
    jobs_->StopAllNow();
}

} // namespace tavrin::service

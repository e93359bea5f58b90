#include "service/ServiceMonitors.h"

#include "config/SettingsFile.h"
#include "config/StartChecks.h"
#include "service/JobSelection.h"
#include "service/StdoutLog.h"

#include <cctype>
#include <exception>

namespace tavrin::service {
namespace {

EMonitorStartError StartError(const jobs::TJob& job, const std::string& why) {
    if (job.Name() != "Import" && job.Name() != "Export")
        return EMonitorStartError("cannot start job " + job.Name() + ": " + why);
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

TServiceMonitors::TServiceMonitors(std::vector<std::string> names, std::string configPath)
    : names_(std::move(names)), configPath_(std::move(configPath)),
      jobs_(std::make_unique<jobs::TJobSet>(std::vector<jobs::TJobDefinition>{}, configPath_,
                                            StdoutLogEvent())) {
    QObject::connect(jobs_.get(), &jobs::TJobSet::JobActivityChanged, jobs_.get(),
                     [this](jobs::TJob* job) {
                         if (auto line = progressLines_.Seen(job->Name(), job->Activity(),
                                                             TProgressLines::TClock::now()))
                             WriteLogLine(job->LogPrefix() + *line, clHotLight);
                     });
}

void TServiceMonitors::Follow(jobs::TJob& job) {
    job.OnErrorBox = [](const jobs::TJob& from, const std::string& text) {
        WriteErrorBoxLine(text, from.Name());
    };
}

std::vector<jobs::TJobDefinition> TServiceMonitors::Chosen(std::vector<std::string>& fatal) {
    TJobChoice choice = ChooseJobs(configPath_, names_);
    // The skipped sections come first, the missing names last.
    for (size_t i = 0; i < choice.problems.size(); ++i) {
        if (i + choice.fatalProblems >= choice.problems.size())
            fatal.push_back(choice.problems[i]);
        else
            WriteLogLine(choice.problems[i], clRed);
    }
    return std::move(choice.jobs);
}

TServiceMonitors::~TServiceMonitors() {
    StopNow();
}

void TServiceMonitors::Start() {
    LoadLogSwitches(configPath_);
    std::vector<std::string> fatal;
    std::vector<jobs::TJobDefinition> chosen = Chosen(fatal);
    if (!fatal.empty())
        throw EMonitorStartError(JoinedProblems(fatal, "; "));
    try {
        for (jobs::TJobDefinition& definition : chosen) {
            jobs::TJob& job = jobs_->Add(std::move(definition));
            Follow(job);
            StartJob(job);
        }
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
    std::vector<std::string> fatal;
    std::vector<jobs::TJobDefinition> chosen = Chosen(fatal);
    for (const std::string& problem : fatal)
        WriteLogLine(problem, clRed);
    jobs_->Reconcile(std::move(chosen), true,
                     [failed](jobs::TJob& job, std::exception_ptr failure) {
                         if (failed)
                             failed(StartError(job, Why(failure)));
                     });
    for (const std::unique_ptr<jobs::TJob>& job : jobs_->Jobs())
        Follow(*job);
}

void TServiceMonitors::StopNow() {
    jobs_->StopAllNow();
}

} // namespace tavrin::service

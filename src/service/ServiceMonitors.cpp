#include "service/ServiceMonitors.h"

#include "config/SettingsFile.h"
#include "config/StartChecks.h"
#include "config/UserMessages.h"
#include "secrets/SecretSources.h"
#include "service/StdoutLog.h"

#include <algorithm>
#include <exception>
#include <iterator>
#include <memory>
#include <mutex>

namespace tavrin::service {
namespace {

// While a monitor starts, its error boxes are collected instead of logged: if the start
// fails they are the reason, which belongs on standard error.
class TStartMessages {
public:
    TStartMessages() {
        // The sink may still be in use on the export watch thread after we are gone, so
        // what it writes into is shared with it.
        SetErrorMessageSink([state = state_](const std::string& text) {
            std::lock_guard lock(state->mutex);
            state->texts.push_back(text);
        });
    }
    ~TStartMessages() { InstallErrorLineSink(); }
    TStartMessages(const TStartMessages&) = delete;
    TStartMessages& operator=(const TStartMessages&) = delete;

    std::string Joined() const {
        std::string joined;
        for (const std::string& text : Texts())
            joined += (joined.empty() ? "" : "; ") + text;
        return joined;
    }
    // A start that went well still shows what it said, as the window would have.
    void LogAll(const char* direction) const {
        for (const std::string& text : Texts())
            WriteLogLine(text, clRed, direction);
    }

private:
    struct TState {
        std::mutex mutex;
        std::vector<std::string> texts;
    };
    std::vector<std::string> Texts() const {
        std::lock_guard lock(state_->mutex);
        return state_->texts;
    }
    std::shared_ptr<TState> state_ = std::make_shared<TState>();
};

[[noreturn]] void FailStart(const char* monitor, const std::string& why) {
    throw EMonitorStartError(std::string("cannot start the ") + monitor + " monitor: " + why);
}

// The job's passwords from systemd credentials or its PasswordFile; the service has no
// desktop keyring to ask. Its problems join the settings' own.
std::vector<std::string> ResolvePasswords(const char* job, RConfiguration& config) {
    const tavrin::TSecretResolution secrets =
        tavrin::ResolveSecrets(job, config, tavrin::SecretSourcesFromEnvironment(nullptr));
    for (const std::string& note : secrets.Notes)
        WriteLogLine(note, clRed, job);
    return secrets.Problems;
}

} // namespace

TServiceMonitors::TServiceMonitors(bool runImport, bool runExport)
    : runImport_(runImport), runExport_(runExport) {}

TServiceMonitors::~TServiceMonitors() {
    StopAllNow();
    // A poller still finishing its cycle outlives us; it must not call back into us.
    for (const QMetaObject::Connection& watch : watches_)
        QObject::disconnect(watch);
}

void TServiceMonitors::Start() {
    LoadLogSwitches();
    try {
        if (runImport_)
            StartImport();
        if (runExport_)
            StartExport();
    } catch (...) {
        StopAllNow();
        throw;
    }
}

void TServiceMonitors::Restart() {
    LoadLogSwitches();
    try {
        if (ImportMonitor) {
            StopImport();
            StartImport();
        }
        if (ExportMonitor) {
            StopExport();
            StartExport();
        }
    } catch (...) {
        StopAllNow();
        throw;
    }
}

void TServiceMonitors::Stop(std::function<void()> stopped) {
    stopped_ = std::move(stopped);
    // The program ends: no import cycle may keep it waiting on a server that went quiet.
    if (ImportMonitor)
        ImportMonitor->Checker().CutConnections();
    for (const QPointer<QObject>& poller : finishingPollers_)
        if (poller)
            static_cast<TFTPChecker*>(poller.data())->CutConnections();
    StopAllNow();
    ReportStoppedWhenDone();
}

void TServiceMonitors::StopAllNow() {
    StopExport();
    StopImport();
}

void TServiceMonitors::StartImport() {
    RConfiguration config = LoadImportConfiguration();
    auto problems = tavrin::ImportStartProblems(config);
    std::ranges::move(ResolvePasswords("Import", config), std::back_inserter(problems));
    if (!problems.empty())
        FailStart("import", tavrin::JoinedProblems(problems, "; "));
    TStartMessages messages;
    try {
        ImportMonitor = std::make_unique<TMonitorFTP>(config, StdoutLogEvent());
    } catch (const std::exception& failure) {
        FailStart("import", failure.what());
    }
    messages.LogAll("Import");
}

void TServiceMonitors::StartExport() {
    RConfiguration config = LoadExportConfiguration();
    auto problems = tavrin::ExportStartProblems(config);
    std::ranges::move(ResolvePasswords("Export", config), std::back_inserter(problems));
    if (!problems.empty())
        FailStart("export", tavrin::JoinedProblems(problems, "; "));
    TStartMessages messages;
    try {
        ExportMonitor = std::make_unique<TFolderMonitor>(config, StdoutLogEvent());
    } catch (const std::exception& failure) {
        FailStart("export", failure.what());
    }
    if (!ExportMonitor->Watching()) {
        // The folder was there a moment ago but cannot be watched (no permission, no watches
        // left): the monitor would look alive and upload nothing.
        ExportMonitor.reset();
        const std::string why = messages.Joined();
        FailStart("export", "folder " + config.LocalFolder + " cannot be watched" +
                                (why.empty() ? "" : ": " + why));
    }
    messages.LogAll("Export");
}

// As the window's close: no stop request first, so a cycle in progress is let finish.
void TServiceMonitors::StopImport() {
    if (!ImportMonitor)
        return;
    QPointer<QObject> poller(&ImportMonitor->Checker());
    ImportMonitor.reset();
    if (!poller)
        return; // it was idle and is gone already
    finishingPollers_.push_back(poller);
    watches_.push_back(QObject::connect(poller.data(), &QObject::destroyed,
                                        [this](QObject* gone) { ForgetPoller(gone); }));
}

void TServiceMonitors::StopExport() {
    ExportMonitor.reset(); // waits for the upload in progress
}

void TServiceMonitors::ForgetPoller(QObject* gone) {
    std::erase_if(finishingPollers_,
                  [gone](const QPointer<QObject>& p) { return p.isNull() || p.data() == gone; });
    ReportStoppedWhenDone();
}

void TServiceMonitors::ReportStoppedWhenDone() {
    if (!stopped_ || !finishingPollers_.empty() || ImportMonitor || ExportMonitor)
        return;
    std::function<void()> stopped = std::move(stopped_);
    stopped_ = nullptr;
    stopped();
}

} // namespace tavrin::service

#pragma once
// The service's counterpart of the window's monitor commands: start the chosen monitors,
// restart the running ones after the settings changed (import first), and stop both as
// closing the window does (export first, then import, registers saved).
#include "export/FolderMonitorUnit.h"
#include "import/MonitorFTPUnit.h"

#include <QObject>
#include <QPointer>

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
    TServiceMonitors(bool runImport, bool runExport);
    // Stops what still runs, without waiting for a busy import cycle.
    ~TServiceMonitors();
    TServiceMonitors(const TServiceMonitors&) = delete;
    TServiceMonitors& operator=(const TServiceMonitors&) = delete;

    // Reads the log switches and starts the chosen monitors from the settings file as it is
    // now. On failure nothing is left running and EMonitorStartError says why.
    void Start();
    // The settings file was changed: log switches read again, then each running monitor
    // stopped and started again, import first. Raises as Start does, with nothing left
    // running.
    void Restart();
    // Export first, then import; an import cycle in progress has its connections cut, so it
    // ends at once. `stopped` is called once no import poller is left and the register is
    // saved.
    void Stop(std::function<void()> stopped);

    bool ImportRunning() const { return ImportMonitor != nullptr; }
    bool ExportRunning() const { return ExportMonitor != nullptr; }

private:
    void StartImport();
    void StartExport();
    void StopImport();
    void StopExport();
    void StopAllNow();
    void ForgetPoller(QObject* gone);
    void ReportStoppedWhenDone();

    bool runImport_;
    bool runExport_;
    std::unique_ptr<TFolderMonitor> ExportMonitor;
    std::unique_ptr<TMonitorFTP> ImportMonitor;
    // Pollers whose monitor went while they were in the middle of a cycle: each finishes
    // that cycle, saves its register and deletes itself.
    std::vector<QPointer<QObject>> finishingPollers_;
    std::vector<QMetaObject::Connection> watches_;
    std::function<void()> stopped_;
};

} // namespace tavrin::service

#pragma once
// The window's icon in the desktop's tray: its image tells how the jobs are at a glance, its
// tooltip has a line per job, and its menu shows the window, starts or stops every job and
// ends the program. With `[General] CloseToTray=1` closing the window only hides it and the
// jobs go on; where the desktop has no tray, closing stops everything as it always did.
#include "jobs/JobSet.h"

#include <QIcon>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace tavrin::app {

// The whole program's state, the worst one winning: a job failing, then one moving a file,
// then one running, else all stopped.
enum class TTrayState { Stopped, Running, Transferring, Failing };

// What the tray needs to know of one job.
struct TJobGlance {
    std::string name;
    jobs::TJobState state = jobs::TJobState::Stopped;
    bool failing = false;     // its last cycle or file failed
    std::string transferring; // the file under way, if any
    std::string lastError;

    bool operator==(const TJobGlance&) const = default;
};

TJobGlance GlanceOf(const jobs::TJob& job);
TTrayState TrayStateOf(const std::vector<TJobGlance>& jobs);
// One line per job: "Import: running", "Export: sending a.txt", "Feed: failing: <why>", ...
QString TrayToolTip(const std::vector<TJobGlance>& jobs);
// A coloured disc: grey, green, blue or red.
QIcon TrayImage(TTrayState state);

// A "[General]" switch of the settings file ("1"/"0"; anything else gives `fallback`).
bool GeneralSwitch(const std::string& key, bool fallback);

class TTrayIcon : public QObject {
    Q_OBJECT
public:
    TTrayIcon(jobs::TJobSet& jobs, QObject* parent = nullptr);
    ~TTrayIcon() override;

    // Whether the desktop shows tray icons; tests may say so for it.
    bool Available() const { return available_; }
    void SetAvailable(bool available);
    // Whether closing the window should only hide it: a tray to come back from, and the
    // user asked for it.
    bool CloseHides() const;

    TTrayState State() const { return state_; }
    QString ToolTip() const { return toolTip_; }
    QMenu* Menu() const { return menu_; }
    QAction* ShowAction = nullptr;
    QAction* StartAllAction = nullptr;
    QAction* StopAllAction = nullptr;
    QAction* QuitAction = nullptr;

    // The tray's own bubble, where the desktop has no notification service; false when no
    // tray shows the icon.
    bool ShowMessage(const QString& title, const QString& text);

    // Reads the jobs again (their states and activity changed).
    void Refresh();
    // The program ends: the icon goes, and the jobs' last changes are not followed.
    void Detach();

signals:
    // The icon was clicked: show the window.
    void Activated();

private:
    jobs::TJobSet& jobs_;
    bool available_ = false;
    TTrayState state_ = TTrayState::Stopped;
    bool imageShown_ = false;
    QString toolTip_;
    QMenu* menu_ = nullptr;
    QSystemTrayIcon* icon_ = nullptr;
};

} // namespace tavrin::app

#pragma once
// Tells the desktop when a job needs the user (see NotificationRules.h): through the
// freedesktop notification service on the session bus, or the tray's bubble where that
// service is missing. `[General] Notify=0` keeps it quiet.
#include "app/NotificationRules.h"
#include "jobs/JobSet.h"

#include <QDBusConnection>
#include <QObject>

#include <functional>
#include <optional>

namespace tavrin::app {

class TTrayIcon;

class TNotifier : public QObject {
    Q_OBJECT
public:
    // `bus`: where the notification service is looked for; none: the session bus, reached
    // only when there is something to tell. `tray` may be nullptr.
    TNotifier(jobs::TJobSet& jobs, TTrayIcon* tray, std::optional<QDBusConnection> bus = {},
              QObject* parent = nullptr);

    // The clock the quiet time is measured with (tests move it on).
    std::function<TNotificationRules::TClock::time_point()> Now = [] {
        return TNotificationRules::TClock::now();
    };

    // Hands `notice` to the service, or to the tray when the service cannot take it.
    void Send(const TNotice& notice);

signals:
    // A notice went to the tray's bubble because the service could not take it.
    void ShownInTray(const QString& title);

private:
    void Outcome(jobs::TJob& job, jobs::TJobOutcome outcome, const std::string& file,
                 const std::string& text);
    void ToTray(const TNotice& notice);

    TTrayIcon* tray_;
    std::optional<QDBusConnection> bus_;
    TNotificationRules rules_;
};

} // namespace tavrin::app

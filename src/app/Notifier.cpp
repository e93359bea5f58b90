#include "app/Notifier.h"

#include "app/TrayIcon.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>

namespace tavrin::app {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
// A notice stays until the desktop's own rule takes it away.
constexpr int kServerDecidesTimeout = -1;

} // namespace

TNotifier::TNotifier(jobs::TJobSet& jobs, TTrayIcon* tray, std::optional<QDBusConnection> bus,
                     QObject* parent)
    : QObject(parent), tray_(tray), bus_(std::move(bus)) {
    connect(&jobs, &jobs::TJobSet::JobOutcome, this,
            [this](jobs::TJob* job, jobs::TJobOutcome outcome, const std::string& file,
                   const std::string& text) { Outcome(*job, outcome, file, text); });
}

void TNotifier::Outcome(jobs::TJob& job, jobs::TJobOutcome outcome, const std::string& file,
                        const std::string& text) {
    // Counted also while notices are off, so that turning them on tells the truth.
    const std::optional<TNotice> notice =
        rules_.Outcome(job.Name(), job.Kind() == jobs::TJobKind::Export, job.Config().RetryFailed,
                       outcome, file, text, Now());
    if (notice && GeneralSwitch("Notify", true))
        Send(*notice);
}

void TNotifier::Send(const TNotice& notice) {
    if (!bus_)
        bus_ = QDBusConnection::sessionBus();
    if (!bus_->isConnected()) {
        ToTray(notice);
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    call << QStringLiteral("Tavrin") << 0u << QStringLiteral("dialog-warning")
         << QString::fromStdString(notice.title) << QString::fromStdString(notice.body)
         << QStringList() << QVariantMap() << kServerDecidesTimeout;
    // Never waited for: a service that hangs must not hold the window.
    auto* watcher = new QDBusPendingCallWatcher(bus_->asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, notice](QDBusPendingCallWatcher* done) {
                done->deleteLater();
                if (done->isError())
                    ToTray(notice);
            });
}

void TNotifier::ToTray(const TNotice& notice) {
    if (tray_ && tray_->ShowMessage(QString::fromStdString(notice.title),
                                    QString::fromStdString(notice.body)))
        emit ShownInTray(QString::fromStdString(notice.title));
}

} // namespace tavrin::app

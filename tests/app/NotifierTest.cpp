// Notifications: when a job or a file needs the user, at most one per job in 5 minutes, and
// the calls that reach a real notification service on a private session bus.
#include "app/Notifier.h"
#include "app/TrayIcon.h"
#include "config/ConfigPaths.h"
#include "servers/SecretServiceBus.h"

#include <QDBusConnection>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

using namespace std::chrono_literals;
using tavrin::app::TNotice;
using tavrin::app::TNotificationRules;
using tavrin::jobs::TJobOutcome;

namespace {

TEST(NotificationRules, TellFailuresInARowGivenUpFilesAndRecoveryAtMostOncePerFiveMinutes) {
    constexpr auto kDone = TJobOutcome::FileDone;
    constexpr auto kFile = TJobOutcome::FileFailed;
    constexpr auto kJob = TJobOutcome::JobFailed;
    struct Step {
        const char* job;
        bool upload, retried;
        TJobOutcome outcome;
        const char* file;
        int minute;
        const char* title; // the notice's; empty: none
    };
    const std::vector<std::vector<Step>> sequences = {
        // Cycles failing: told at the third, not again while it fails, and when it recovers.
        {{"I", false, false, kJob, "", 0, ""},
         {"I", false, false, kJob, "", 0, ""},
         {"I", false, false, kJob, "", 1, "I is failing"},
         {"I", false, false, kJob, "", 2, ""},
         {"I", false, false, kJob, "", 9, ""},
         {"I", false, false, kDone, "a", 10, "I works again"},
         {"I", false, false, kDone, "b", 20, ""}},
        // An export that does not retry gives a file up at once; the quiet time holds back
        // what comes next, the failing notice comes once it is over, and so does the recovery.
        {{"E", true, false, kFile, "x", 0, "E: x not sent"},
         {"E", true, false, kFile, "y", 1, ""},
         {"E", true, false, kFile, "z", 2, ""},
         {"E", true, false, kFile, "w", 6, "E is failing"},
         {"E", true, false, kDone, "w", 7, ""},
         {"E", true, false, kDone, "v", 12, "E works again"}},
        // A file failing 3 cycles in a row while others get through: the file, not the job.
        {{"I2", false, false, kFile, "f", 0, ""},
         {"I2", false, false, kDone, "g", 0, ""},
         {"I2", false, false, kFile, "f", 0, ""},
         {"I2", false, false, kDone, "g", 0, ""},
         {"I2", false, false, kFile, "f", 0, "I2: f not received"},
         {"I2", false, false, kDone, "f", 30, ""},
         {"I2", false, false, kFile, "f", 31, ""}},
        // An export that retries gives up nothing at its first failures.
        {{"E2", true, true, kFile, "f", 0, ""},
         {"E2", true, true, kDone, "g", 0, ""},
         {"E2", true, true, kFile, "f", 0, ""},
         {"E2", true, true, kDone, "g", 0, ""},
         {"E2", true, true, kFile, "f", 0, "E2: f not sent"}},
        // Each job has its own quiet time.
        {{"A", true, false, kFile, "1", 0, "A: 1 not sent"},
         {"B", true, false, kFile, "1", 0, "B: 1 not sent"},
         {"A", true, false, kFile, "2", 4, ""},
         {"A", true, false, kFile, "3", 5, "A is failing"}},
    };
    for (const std::vector<Step>& sequence : sequences) {
        TNotificationRules rules;
        const auto start = TNotificationRules::TClock::now();
        for (size_t i = 0; i < sequence.size(); ++i) {
            const Step& step = sequence[i];
            SCOPED_TRACE(std::string(step.job) + " step " + std::to_string(i));
            const std::optional<TNotice> notice =
                rules.Outcome(step.job, step.upload, step.retried, step.outcome, step.file,
                              step.outcome == kDone ? "" : "Refused.\nsecond line",
                              start + std::chrono::minutes(step.minute));
            EXPECT_EQ(notice ? notice->title : "", step.title);
            // A notice says why in one line.
            if (notice && step.outcome != kDone) {
                EXPECT_TRUE(notice->body.ends_with(": Refused.")) << notice->body;
            }
        }
    }
}

// The desktop's notification service as the test sees it: every Notify call, in order.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList calls;
public slots:
    uint Notify(const QString& app, uint replaces, const QString& icon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints,
                int timeout) {
        (void)replaces, (void)icon, (void)actions, (void)hints, (void)timeout;
        calls << app + "|" + summary + "|" + body;
        return static_cast<uint>(calls.size());
    }
};

TEST(Notifier, CallsTheSessionsNotificationServiceWithinTheQuietTimeAndFallsBackToTheTray) {
    testsrv::SecretServiceBus bus(false);
    const QString address = QString::fromStdString(bus.Address());
    // Named connections stay until they are let go; the bus goes with this test.
    struct TLetGo {
        ~TLetGo() {
            for (const char* name : {"tavrin-fake-notifications", "tavrin-notifier"})
                QDBusConnection::disconnectFromBus(name);
        }
    } letGo;
    QDBusConnection service = QDBusConnection::connectToBus(address, "tavrin-fake-notifications");
    QDBusConnection client = QDBusConnection::connectToBus(address, "tavrin-notifier");
    ASSERT_TRUE(service.isConnected() && client.isConnected());
    FakeNotifications fake;
    ASSERT_TRUE(service.registerObject("/org/freedesktop/Notifications", &fake,
                                       QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service.registerService("org.freedesktop.Notifications"));

    tavrin::jobs::TJobSet jobs({{"E", tavrin::jobs::TJobKind::Export}}, {}, {});
    tavrin::jobs::TJob* job = jobs.Jobs().front().get();
    tavrin::app::TTrayIcon tray(jobs);
    tray.SetAvailable(true);
    tavrin::app::TNotifier notifier(jobs, &tray, client);
    auto now = TNotificationRules::TClock::now();
    notifier.Now = [&now] { return now; };
    auto general = [](const char* text) {
        std::ofstream(tavrin::ConfigFilePath()) << "[General]\n" << text << "\n";
    };

    general("Notify=0");
    emit jobs.JobOutcome(job, TJobOutcome::FileFailed, "quiet", "Refused.");
    now += 10min;
    general("");
    emit jobs.JobOutcome(job, TJobOutcome::FileFailed, "a", "Refused.");
    emit jobs.JobOutcome(job, TJobOutcome::FileFailed, "b", "Refused.");
    now += 6min;
    emit jobs.JobOutcome(job, TJobOutcome::FileFailed, "c", "Gone.");
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake.calls.size() >= 2; }, 10000));
    // Calls on one connection arrive in order: one held back would have come by now.
    EXPECT_EQ(fake.calls, QStringList({"Tavrin|E: a not sent|It is not tried again: Refused.",
                                       "Tavrin|E is failing|Failed 4 times in a row: Gone."}));

    // Without the service the tray's bubble tells it.
    ASSERT_TRUE(service.unregisterService("org.freedesktop.Notifications"));
    QSignalSpy inTray(&notifier, &tavrin::app::TNotifier::ShownInTray);
    notifier.Send({"E works again", "c moved."});
    ASSERT_TRUE(inTray.wait(10000));
    EXPECT_EQ(inTray.front().front().toString(), "E works again");
    EXPECT_EQ(fake.calls.size(), 2);
    std::remove(tavrin::ConfigFilePath().c_str());
}

} // namespace

#include "NotifierTest.moc"

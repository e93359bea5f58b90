#include "secrets/keyring/DesktopKeyring.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QEventLoop>
#include <QTimer>
#include <qt6keychain/keychain.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace tavrin {
namespace {

// The bus names a keyring answers on.
const char* const kKeyringNames[] = {"org.freedesktop.secrets", "org.kde.kwalletd6",
                                     "org.kde.kwalletd5"};

// Names on the session bus, running or startable on demand, asked with a bounded wait.
QStringList BusNames(QDBusConnection& bus, const char* method, int limitMs) {
    QDBusMessage ask = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QString::fromLatin1(method));
    const QDBusMessage answer = bus.call(ask, QDBus::Block, limitMs);
    if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty())
        return {};
    return answer.arguments().first().toStringList();
}

// What a finished job left: whether it finished at all within the limit, and how.
struct TJobEnd {
    bool finished = false;
    QKeychain::Error error = QKeychain::OtherError;
    QString errorText;
    QByteArray data;
};

// Runs the job in a local event loop for at most `limit`. A job that does not finish in time
// is left to delete itself whenever it does; nothing of ours is touched by it then.
TJobEnd Run(QKeychain::Job* job, std::chrono::milliseconds limit) {
    auto end = std::make_shared<TJobEnd>();
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(job, &QKeychain::Job::finished, &loop, [end, &loop](QKeychain::Job* done) {
        end->finished = true;
        end->error = done->error();
        end->errorText = done->errorString();
        if (auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(done))
            end->data = read->binaryData();
        loop.quit();
    });
    job->setAutoDelete(true);
    job->setInsecureFallback(false); // never a plain-text file behind the user's back
    timer.start(limit);
    job->start();
    if (!end->finished)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    return *end;
}

std::string NoAnswer(std::chrono::milliseconds limit) {
    return "the keyring did not answer within " + std::to_string(limit.count() / 1000) + " s";
}

} // namespace

bool TDesktopKeyring::Available() {
    // TAVRIN_KEYRING=none keeps the program off the keyring (and the session bus) altogether.
    if (const char* choice = std::getenv("TAVRIN_KEYRING");
        choice && std::strcmp(choice, "none") == 0)
        return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    const int limitMs = static_cast<int>(limit_.count());
    QStringList names = BusNames(bus, "ListNames", limitMs);
    names += BusNames(bus, "ListActivatableNames", limitMs);
    for (const char* name : kKeyringNames)
        if (names.contains(QString::fromLatin1(name)))
            return true;
    return false;
}

TKeyringAnswer TDesktopKeyring::Read(const std::string& key) {
    TKeyringAnswer answer;
    if (!Available()) {
        answer.error = "no keyring on the session bus";
        return answer;
    }
    auto* job = new QKeychain::ReadPasswordJob(QString::fromLatin1(kKeyringService));
    job->setKey(QString::fromStdString(key));
    const TJobEnd end = Run(job, limit_);
    if (!end.finished)
        answer.error = NoAnswer(limit_);
    else if (end.error == QKeychain::NoError) {
        answer.status = TKeyringStatus::Found;
        answer.value = end.data.toStdString();
    } else if (end.error == QKeychain::EntryNotFound)
        answer.status = TKeyringStatus::NotFound;
    else
        answer.error = end.errorText.toStdString();
    return answer;
}

bool TDesktopKeyring::Write(const std::string& key, const std::string& value, std::string& error) {
    if (!Available()) {
        error = "no keyring on the session bus";
        return false;
    }
    QKeychain::Job* job = nullptr;
    if (value.empty()) {
        job = new QKeychain::DeletePasswordJob(QString::fromLatin1(kKeyringService));
    } else {
        auto* write = new QKeychain::WritePasswordJob(QString::fromLatin1(kKeyringService));
        write->setBinaryData(QByteArray::fromStdString(value));
        job = write;
    }
    job->setKey(QString::fromStdString(key));
    const TJobEnd end = Run(job, limit_);
    if (!end.finished) {
        error = NoAnswer(limit_);
        return false;
    }
    // Removing what is not there leaves the keyring as wanted.
    if (end.error == QKeychain::NoError || (value.empty() && end.error == QKeychain::EntryNotFound))
        return true;
    error = end.errorText.toStdString();
    return false;
}

} // namespace tavrin

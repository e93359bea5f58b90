#pragma once
// SIGTERM, SIGINT and SIGHUP as ordinary events of the event loop. The handler itself only
// writes the signal's number into a pipe (all a signal handler may safely do); a socket
// notifier reads it on the main thread and calls OnSignal there, where Qt may be used.
#include <QObject>

#include <deque>
#include <functional>

class QSocketNotifier;

namespace tavrin::service {

class TSignalBridge : public QObject {
public:
    // Installs the handlers; one bridge per process.
    TSignalBridge();
    // Puts the default handlers back and closes the pipe.
    ~TSignalBridge() override;
    TSignalBridge(const TSignalBridge&) = delete;
    TSignalBridge& operator=(const TSignalBridge&) = delete;

    std::function<void(int signalNumber)> OnSignal;

private:
    void ReadPipe();

    QSocketNotifier* notifier_ = nullptr;
    // A signal that arrives while OnSignal deals with another (a stop waits for the jobs'
    // workers) waits here until that one is dealt with.
    std::deque<int> pending_;
    bool dispatching_ = false;
};

} // namespace tavrin::service

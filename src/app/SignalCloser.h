#pragma once
// SIGTERM, SIGINT and SIGHUP close the window the way Exit does, so the monitors stop and
// the register is saved. A signal handler may not touch Qt: it only writes one byte to a
// pipe, and a socket notifier on the window's thread turns that byte into a close.
#include <QObject>

#include <csignal>

class QSocketNotifier;
class QWidget;

class TSignalCloser : public QObject {
    Q_OBJECT
public:
    // Installs the handlers (one closer at a time); the destructor puts the old ones back.
    explicit TSignalCloser(QWidget* window);
    ~TSignalCloser() override;
    TSignalCloser(const TSignalCloser&) = delete;
    TSignalCloser& operator=(const TSignalCloser&) = delete;

    // The last signal that arrived, 0 before any.
    int LastSignal() const { return lastSignal_; }

private:
    void SignalArrived();

    QWidget* window_;
    QSocketNotifier* notifier_ = nullptr;
    int lastSignal_ = 0;
    struct sigaction previous_[3] = {};
};

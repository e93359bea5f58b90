#include "service/SignalBridge.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace tavrin::service {
namespace {

int gPipe[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

void OnSignalArrived(int signalNumber) {
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(signalNumber);
    // A full pipe means a pile of unread signals already waits; losing this one changes
    // nothing.
    [[maybe_unused]] ssize_t written = ::write(gPipe[1], &number, 1);
    errno = savedErrno;
}

} // namespace

TSignalBridge::TSignalBridge() {
    if (::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("cannot create the signal pipe");
    notifier_ = new QSocketNotifier(gPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TSignalBridge::ReadPipe);

    struct sigaction action {};
    action.sa_handler = OnSignalArrived;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : kSignals)
        ::sigaction(signalNumber, &action, nullptr);
}

TSignalBridge::~TSignalBridge() {
    for (int signalNumber : kSignals)
        std::signal(signalNumber, SIG_DFL);
    delete notifier_;
    ::close(gPipe[0]);
    ::close(gPipe[1]);
    gPipe[0] = gPipe[1] = -1;
}

void TSignalBridge::ReadPipe() {
    unsigned char number = 0;
    while (::read(gPipe[0], &number, 1) == 1)
        pending_.push_back(number);
    if (dispatching_)
        return;
    dispatching_ = true;
    while (!pending_.empty()) {
        const int signalNumber = pending_.front();
        pending_.pop_front();
        if (OnSignal)
            OnSignal(signalNumber);
    }
    dispatching_ = false;
}

} // namespace tavrin::service

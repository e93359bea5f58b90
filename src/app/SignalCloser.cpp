#include "app/SignalCloser.h"

#include <QSocketNotifier>
#include <QWidget>

#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace {

constexpr int kSignals[3] = {SIGTERM, SIGINT, SIGHUP};
int gPipe[2] = {-1, -1};

extern "C" void WriteSignalToPipe(int signal) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    // A full pipe already holds a close request; losing this byte loses nothing.
    [[maybe_unused]] ssize_t written = ::write(gPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

TSignalCloser::TSignalCloser(QWidget* window) : window_(window) {
    if (gPipe[0] >= 0)
        throw std::logic_error("A signal closer is already in place");
    if (::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("Unable to create the signal pipe");
    notifier_ = new QSocketNotifier(gPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { SignalArrived(); });
    for (int i = 0; i < 3; ++i) {
        struct sigaction action {};
        action.sa_handler = WriteSignalToPipe;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(kSignals[i], &action, &previous_[i]);
    }
}

TSignalCloser::~TSignalCloser() {
    for (int i = 0; i < 3; ++i)
        sigaction(kSignals[i], &previous_[i], nullptr);
    delete notifier_;
    ::close(gPipe[0]);
    ::close(gPipe[1]);
    gPipe[0] = gPipe[1] = -1;
}

void TSignalCloser::SignalArrived() {
    unsigned char byte = 0;
    while (::read(gPipe[0], &byte, 1) == 1)
        lastSignal_ = byte;
    window_->close();
}

#include "ftp/IdConnectThread.h"

#include "ftp/IdAntiFreezeBase.h"
#include "ftp/IdExceptions.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace tavrin::ftp {
namespace {

// What the connect thread leaves for its caller.
struct ConnectAttempt {
    std::mutex mutex;
    std::condition_variable finishedChanged;
    bool finished = false;
    int errorCode = 0;
    std::string errorMessage;
    std::atomic<bool> stop{false};
};

class TIdConnectThread {
public:
    TIdConnectThread(int socket, const net::SocketAddress& peer, ConnectAttempt& attempt)
        : thread_([socket, peer, &attempt] { Run(socket, peer, attempt); }) {}
    ~TIdConnectThread() {
        if (thread_.joinable())
            thread_.join();
    }
    void Join() { thread_.join(); }

private:
    static void Run(int socket, net::SocketAddress peer, ConnectAttempt& attempt) {
        int code = 0;
        std::string message;
        try {
            net::ConnectSocket(socket, peer, attempt.stop);
        } catch (const EIdSocketError& error) {
            code = error.LastError();
        } catch (const std::exception& error) {
            message = error.what();
        }
        std::lock_guard<std::mutex> lock(attempt.mutex);
        attempt.errorCode = code;
        attempt.errorMessage = message;
        attempt.finished = true;
        attempt.finishedChanged.notify_all();
    }
    std::thread thread_;
};

} // namespace

void ConnectWithLimit(int socket, const net::SocketAddress& peer, int limitMs) {
    ConnectAttempt attempt;
    TIdConnectThread thread(socket, peer, attempt);
    int slice = 125;
    if (TIdAntiFreezeBase::InForce())
        slice = std::min(slice, std::max(1, TIdAntiFreezeBase::Instance()->IdleTimeOut));
    int remaining = limitMs;
    for (;;) {
        const int wait = std::min(slice, remaining);
        {
            std::unique_lock<std::mutex> lock(attempt.mutex);
            attempt.finishedChanged.wait_for(lock, std::chrono::milliseconds(wait),
                                             [&attempt] { return attempt.finished; });
            if (attempt.finished)
                break;
        }
        remaining -= wait;
        TIdAntiFreezeBase::KeepResponsive(true, false);
        if (remaining <= 0)
            break;
    }
    bool finished;
    {
        std::lock_guard<std::mutex> lock(attempt.mutex);
        finished = attempt.finished;
    }
    if (!finished) {
        attempt.stop = true;
        thread.Join();
        throw EIdConnectTimeout();
    }
    thread.Join();
    if (attempt.errorCode != 0)
        net::RaiseSocketError(attempt.errorCode);
    if (!attempt.errorMessage.empty())
        throw EIdConnectException(attempt.errorMessage);
}

} // namespace tavrin::ftp

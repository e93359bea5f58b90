#pragma once
// Logged-in sessions an export keeps between files: a file takes one that is waiting (or
// none, and logs in), and hands it back once done. A session that waits longer than the idle
// limit says goodbye and goes, on a thread of its own, so no one has to come back for it.
#include "remote/RemoteSession.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class TKeptSessions {
public:
    using Clock = std::chrono::steady_clock;

    explicit TKeptSessions(std::chrono::milliseconds idleLimit);
    // Ends every waiting session without a goodbye: the owner stops, and a server that stopped
    // answering must not hold it.
    ~TKeptSessions();
    TKeptSessions(const TKeptSessions&) = delete;
    TKeptSessions& operator=(const TKeptSessions&) = delete;

    // The session that waited least, or none.
    std::unique_ptr<tavrin::remote::TRemoteSession> Take();
    // Keeps `session` for the next file.
    void Give(std::unique_ptr<tavrin::remote::TRemoteSession> session);
    size_t Waiting() const;
    // Ends every waiting session without a goodbye and keeps none from now on.
    void EndAll();

private:
    struct Kept {
        std::unique_ptr<tavrin::remote::TRemoteSession> session;
        Clock::time_point since;
    };
    void CloseIdle();

    const std::chrono::milliseconds idleLimit_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Kept> kept_; // oldest first
    bool ending_ = false;
    std::thread closer_;
};

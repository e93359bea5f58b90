#include "export/KeptSessions.h"

#include <exception>

namespace {

// A goodbye to a server that no longer answers is not waited for long.
constexpr int kGoodbyeReplyMs = 2000;

void SayGoodbye(tavrin::remote::TRemoteSession& session) {
    try {
        session.SetReplyTimeout(kGoodbyeReplyMs);
        session.Close(true);
    } catch (const std::exception&) {
        // Gone already, which is what the goodbye was for.
    }
}

} // namespace

TKeptSessions::TKeptSessions(std::chrono::milliseconds idleLimit) : idleLimit_(idleLimit) {}

TKeptSessions::~TKeptSessions() {
    EndAll();
}

void TKeptSessions::EndAll() {
    std::vector<Kept> left;
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
        left.swap(kept_);
    }
    changed_.notify_all();
    if (closer_.joinable())
        closer_.join();
    for (Kept& kept : left) {
        try {
            kept.session->Close(false);
        } catch (const std::exception&) {
        }
    }
}

std::unique_ptr<tavrin::remote::TRemoteSession> TKeptSessions::Take() {
    std::lock_guard lock(mutex_);
    if (kept_.empty())
        return nullptr;
    auto session = std::move(kept_.back().session);
    kept_.pop_back();
    return session;
}

void TKeptSessions::Give(std::unique_ptr<tavrin::remote::TRemoteSession> session) {
    {
        std::lock_guard lock(mutex_);
        if (ending_) {
            session->Close(false);
            return;
        }
        kept_.push_back({std::move(session), Clock::now()});
        if (!closer_.joinable())
            closer_ = std::thread([this] { CloseIdle(); });
    }
    changed_.notify_all();
}

size_t TKeptSessions::Waiting() const {
    std::lock_guard lock(mutex_);
    return kept_.size();
}

void TKeptSessions::CloseIdle() {
    std::unique_lock lock(mutex_);
    while (!ending_) {
        if (kept_.empty()) {
            changed_.wait(lock);
            continue;
        }
        const Clock::time_point due = kept_.front().since + idleLimit_;
        if (Clock::now() < due) {
            changed_.wait_until(lock, due);
            continue;
        }
        auto idle = std::move(kept_.front().session);
        kept_.erase(kept_.begin());
        lock.unlock();
        SayGoodbye(*idle);
        idle.reset();
        lock.lock();
    }
}

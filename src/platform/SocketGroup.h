#pragma once
// Lets one thread cut every connection another thread has open, at once. The export monitor
// needs this to stop promptly while its watch thread is blocked on a server that stopped
// reading: shutdown(2) wakes the blocked poll or send, and is safe across threads where a
// close would not be (the descriptor number could be reused under the other thread's feet).
#include <mutex>
#include <set>

namespace tavrin::net {

class TSocketGroup {
public:
    TSocketGroup() = default;
    ~TSocketGroup();
    TSocketGroup(const TSocketGroup&) = delete;
    TSocketGroup& operator=(const TSocketGroup&) = delete;

    // Any thread: shuts down every open socket of the group; sockets that join it later are
    // shut down as they join. For good: a group is cut once.
    void ShutDown();
    bool IsShutDown() const;

private:
    friend class TSocketGroupScope;
    friend void JoinCurrentSocketGroup(int fd);
    friend void CloseGroupedSocket(int fd);
    mutable std::mutex mutex_;
    std::set<int> sockets_;
    bool shutDown_ = false;
};

// While one exists, the sockets this thread makes (or accepts) belong to `group`.
class TSocketGroupScope {
public:
    explicit TSocketGroupScope(TSocketGroup& group);
    ~TSocketGroupScope();
    TSocketGroupScope(const TSocketGroupScope&) = delete;
    TSocketGroupScope& operator=(const TSocketGroupScope&) = delete;

private:
    TSocketGroup* previous_;
};

// Used by the socket layer: a new socket joins the calling thread's group, if any; a socket
// leaves its group and is closed in one step, so a shutdown never reaches a reused number.
void JoinCurrentSocketGroup(int fd);
void CloseGroupedSocket(int fd);

} // namespace tavrin::net

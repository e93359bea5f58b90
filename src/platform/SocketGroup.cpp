#include "platform/SocketGroup.h"

#include <map>
#include <sys/socket.h>
#include <unistd.h>

namespace tavrin::net {
namespace {

thread_local TSocketGroup* currentGroup = nullptr;

// Which group each grouped descriptor belongs to; closes of ungrouped sockets only look here.
std::mutex& RegistryMutex() {
    static std::mutex mutex;
    return mutex;
}
std::map<int, TSocketGroup*>& Registry() {
    static std::map<int, TSocketGroup*> registry;
    return registry;
}

} // namespace

TSocketGroup::~TSocketGroup() {
    std::lock_guard registryLock(RegistryMutex());
    std::lock_guard lock(mutex_);
    for (int fd : sockets_)
        Registry().erase(fd);
}

void TSocketGroup::ShutDown() {
    std::lock_guard lock(mutex_);
    shutDown_ = true;
    for (int fd : sockets_)
        ::shutdown(fd, SHUT_RDWR);
}

bool TSocketGroup::IsShutDown() const {
    std::lock_guard lock(mutex_);
    return shutDown_;
}

TSocketGroupScope::TSocketGroupScope(TSocketGroup& group) : previous_(currentGroup) {
    currentGroup = &group;
}

TSocketGroupScope::~TSocketGroupScope() {
    currentGroup = previous_;
}

void JoinCurrentSocketGroup(int fd) {
    TSocketGroup* group = currentGroup;
    if (group == nullptr || fd < 0)
        return;
    std::lock_guard registryLock(RegistryMutex());
    std::lock_guard lock(group->mutex_);
    group->sockets_.insert(fd);
    Registry()[fd] = group;
    if (group->shutDown_)
        ::shutdown(fd, SHUT_RDWR);
}

void CloseGroupedSocket(int fd) {
    std::lock_guard registryLock(RegistryMutex());
    auto found = Registry().find(fd);
    if (found != Registry().end()) {
        std::lock_guard lock(found->second->mutex_);
        found->second->sockets_.erase(fd);
        Registry().erase(found);
        ::close(fd);
        return;
    }
    ::close(fd);
}

} // namespace tavrin::net

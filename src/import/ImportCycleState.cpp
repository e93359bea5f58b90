#include "import/ImportCycleState.h"

#include "config/UserMessages.h"
#include "remote/RemoteSession.h"

#include <QTimer>

#include <map>

bool TStableFileTracker::SeenUnchanged(const tavrin::remote::TRemoteEntry& entry) {
    TSeen now{entry.sizeKnown, entry.modifiedKnown, entry.sizeKnown ? entry.size : 0,
              entry.modifiedKnown ? static_cast<double>(entry.modified) : 0.0};
    current_[entry.name] = now;
    if (!now.sizeKnown && !now.timeKnown)
        return true;
    auto before = previous_.find(entry.name);
    return before != previous_.end() && before->second == now;
}

void TStableFileTracker::EndListing() {
    previous_.swap(current_);
    current_.clear();
}

std::shared_ptr<TSharedRegister> AcquireRegister(const std::string& path) {
    // Only the window's thread runs import pollers; no lock.
    static std::map<std::string, std::weak_ptr<TSharedRegister>> live;
    for (auto it = live.begin(); it != live.end();)
        it = it->second.expired() ? live.erase(it) : std::next(it);
    if (auto found = live.find(path); found != live.end())
        return found->second.lock();
    auto shared = std::make_shared<TSharedRegister>();
    shared->path = path;
    shared->names.LoadIfPresent(path);
    live[path] = shared;
    return shared;
}

namespace tavrin::importbox {
namespace {
bool gOpen = false;
int gRunningCycles = 0;

void ShowWhenNoCycleRuns(const std::string& text) {
    // A modal box started from inside a cycle's socket wait would keep that cycle below it
    // until someone clicks; wait until every cycle has unwound.
    if (gRunningCycles > 0) {
        QTimer::singleShot(50, [text] { ShowWhenNoCycleRuns(text); });
        return;
    }
    ShowErrorMessage(text);
    gOpen = false;
}
} // namespace

bool Show(const std::string& text) {
    if (gOpen)
        return false;
    gOpen = true;
    QTimer::singleShot(0, [text] { ShowWhenNoCycleRuns(text); });
    return true;
}

bool Open() {
    return gOpen;
}

TCycleScope::TCycleScope() {
    ++gRunningCycles;
}

TCycleScope::~TCycleScope() {
    --gRunningCycles;
}

} // namespace tavrin::importbox

#pragma once
// What the import pollers keep between and beside their cycles: the size and time each
// unfetched file showed in the last listing, the register that pollers of one register file
// share, and the one error box they may have open.
#include "import/DownloadedFilesRegister.h"

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace tavrin::remote {
struct TRemoteEntry;
}

// A file still being written on the server changes size or time from one listing to the
// next; it is fetched only once two listings in a row agree.
class TStableFileTracker {
public:
    // Notes the entry for this listing; true when the previous listing showed it with the
    // same size and time, or when the listing tells neither (nothing to wait for then).
    bool SeenUnchanged(const tavrin::remote::TRemoteEntry& entry);
    // This listing becomes the previous one; names not seen in it are forgotten.
    void EndListing();
    size_t Tracked() const { return previous_.size(); }

private:
    struct TSeen {
        bool sizeKnown, timeKnown;
        int64_t size;
        double time;
        bool operator==(const TSeen&) const = default;
    };
    std::unordered_map<std::string, TSeen> previous_, current_;
};

// After a restart during a busy cycle the old poller finishes its cycle while the new one
// starts: both work on one list, so neither fetches what the other has, and the last full
// save holds every name. `fetching` keeps two pollers off the same file at the same time.
struct TSharedRegister {
    std::string path;
    TDownloadedFilesRegister names;
    std::unordered_set<std::string> fetching;
};
// The live register of that file, or a new one loaded from it (raises as LoadIfPresent).
std::shared_ptr<TSharedRegister> AcquireRegister(const std::string& path);

// The import's error box never holds a cycle: it opens later, once no import cycle is on the
// stack, and while it is open further failures go to the log only.
namespace tavrin::importbox {
// False when a box is already open or waiting to open (then nothing is shown).
bool Show(const std::string& text);
bool Open();
// Held by every running cycle and keep-alive tick.
class TCycleScope {
public:
    TCycleScope();
    ~TCycleScope();
    TCycleScope(const TCycleScope&) = delete;
    TCycleScope& operator=(const TCycleScope&) = delete;
};
} // namespace tavrin::importbox

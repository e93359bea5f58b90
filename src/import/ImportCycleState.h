#pragma once
// What the import poller keeps between and beside its cycles: the size and time each
// unfetched file showed in the last listing, its register, and its job's error box.
#include "import/DownloadedFilesRegister.h"

#include <atomic>
#include <cstdint>
#include <functional>
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

// The poller's register: the names in memory, the file they are saved to, and the names
// being fetched right now.
struct TSharedRegister {
    explicit TSharedRegister(const std::string& registerPath)
        : path(registerPath), appender(registerPath) {}
    std::string path;
    TDownloadedFilesRegister names;
    std::unordered_set<std::string> fetching;
    // Each fetched name goes to the file through here, so parallel fetches share flushes.
    TRegisterAppender appender;
};
// A register loaded from `path` when that file exists (raises as LoadIfPresent).
std::shared_ptr<TSharedRegister> AcquireRegister(const std::string& path);

namespace tavrin {

// A job's error box: one at a time. The box opens on the application's main thread, never
// inside a cycle; while it is open further failures of the same job go to the log only.
// `show` presents the text (and returns once the box is closed); empty means the program's
// error-message sink.
class TErrorBox : public std::enable_shared_from_this<TErrorBox> {
public:
    using TShow = std::function<void(const std::string& text)>;
    explicit TErrorBox(TShow show = {}) : show_(std::move(show)) {}
    // Any thread. False when a box of this job is already open or waiting to open.
    bool Show(const std::string& text);
    bool Open() const { return open_; }

private:
    TShow show_;
    std::atomic<bool> open_{false};
};

} // namespace tavrin

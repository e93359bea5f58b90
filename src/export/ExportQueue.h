#pragma once
// The files waiting to be sent: each one goes out once it has stayed unchanged for the settle
// time, and a failed one, when retries are on, again after growing pauses.
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

struct TExportPolicy {
    // How long a file must stay unchanged (no write, same size and time) before it is sent;
    // zero sends it as soon as it is complete.
    std::chrono::milliseconds settle{1000};
    bool retryFailed = false;
    // Pauses before the first, second, ... retry; the last one repeats.
    std::vector<std::chrono::milliseconds> retryDelays{
        std::chrono::seconds(30), std::chrono::minutes(2), std::chrono::minutes(10),
        std::chrono::minutes(30)};
    // Files already in the folder at the start are sent first, oldest first.
    bool exportExisting = false;
    // Sent before everything else, whatever exportExisting says: the files an earlier run was
    // uploading when it ended.
    std::vector<std::string> sendFirst;
    // A file waits until it has gone this long without being modified. Every arriving file is
    // brand new, so this holds it back instead of leaving it out.
    std::chrono::seconds minAge{0};
    // Levels of subfolders whose files are sent too, named by their path relative to the
    // folder ("sub/a.txt"); 0: the folder's own files only.
    int maxDepth = 0;
};

// One file handed out: its name relative to the folder and how many tries came before this
// one.
struct TExportJob {
    std::string name;
    int retry = 0;
};

enum class TExportOutcome {
    Done,     // on the server, whole
    Failed,   // not sent; may be retried
    Changed,  // it changed while it was sent: it waits to settle and goes again
    Vanished, // no longer there
    LeftOut,  // the job's filter does not take it
    Stopped   // the monitor stopped in the middle
};

class TExportQueue {
public:
    using Clock = std::chrono::steady_clock;

    TExportQueue(std::string folder, TExportPolicy policy);

    void Arrived(const std::string& name, Clock::time_point now);
    void Touched(const std::string& name, Clock::time_point now);
    void Gone(const std::string& name);
    // The watched folder itself went: none of its files can be sent any more.
    void Clear() { entries_.clear(); }
    // Queues the files in the folder now, oldest first, ahead of everything else.
    void AddExisting(Clock::time_point now);

    // The file to send now, if one is due; it leaves the queue. Among due files the one
    // that arrived first goes first. A name in `busy` (its earlier version is still being
    // sent) waits until that upload is over.
    std::optional<TExportJob> TakeDue(Clock::time_point now,
                                      const std::set<std::string>& busy = {});
    // Milliseconds until the next file not in `busy` may be due; -1 when none waits.
    int MsUntilNextDue(Clock::time_point now, const std::set<std::string>& busy = {}) const;
    // What became of a job TakeDue handed out.
    void Finished(const TExportJob& job, TExportOutcome outcome, Clock::time_point now);

    size_t Size() const { return entries_.size(); }

private:
    struct Snapshot {
        bool valid = false;
        int64_t size = 0;
        int64_t mtimeNs = 0;
        bool operator==(const Snapshot&) const = default;
    };
    struct Entry {
        uint64_t order = 0;
        Clock::time_point changed; // last change seen, or when a retry is due
        Snapshot snapshot;
        int retry = 0;
        bool retryWait = false;
    };

    Snapshot Stat(const std::string& name) const;
    Clock::time_point DueAt(const Entry& entry) const;
    // How long the file still has to wait to be minAge old; zero when it is.
    Clock::duration AgeWait(const Snapshot& file) const;
    void Settle(const std::string& name, Clock::time_point now, int retry);

    std::string folder_;
    TExportPolicy policy_;
    std::map<std::string, Entry> entries_;
    uint64_t nextOrder_ = 0;
};

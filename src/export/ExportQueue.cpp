#include "export/ExportQueue.h"

#include "platform/DirectoryWatch.h"

#include <algorithm>
#include <sys/stat.h>

TExportQueue::TExportQueue(std::string folder, TExportPolicy policy)
    : folder_(std::move(folder)), policy_(std::move(policy)) {
    if (policy_.retryDelays.empty())
        policy_.retryDelays.push_back(std::chrono::minutes(30));
}

TExportQueue::Snapshot TExportQueue::Stat(const std::string& name) const {
    struct stat info {};
    if (::stat((folder_ + "/" + name).c_str(), &info) != 0)
        return {};
    return {true, static_cast<int64_t>(info.st_size),
            static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

void TExportQueue::Settle(const std::string& name, Clock::time_point now, int retry) {
    auto [at, added] = entries_.try_emplace(name);
    Entry& entry = at->second;
    if (added)
        entry.order = nextOrder_++;
    entry.changed = now;
    entry.retry = retry;
    entry.retryWait = false;
    // Taken at every change, so a due file only needs one more look to prove it still.
    entry.snapshot = policy_.settle.count() > 0 ? Stat(name) : Snapshot{};
}

void TExportQueue::Arrived(const std::string& name, Clock::time_point now) {
    Settle(name, now, 0);
}

void TExportQueue::Touched(const std::string& name, Clock::time_point now) {
    // Only waiting files care; a rewrite of a file that was sent is no new file.
    if (entries_.count(name) != 0)
        Settle(name, now, 0);
}

void TExportQueue::Gone(const std::string& name) {
    entries_.erase(name);
}

void TExportQueue::AddExisting(Clock::time_point now) {
    struct Found {
        std::string name;
        int64_t mtimeNs;
    };
    std::vector<Found> found;
    for (const std::string& name : tavrin::TDirectoryWatch::ListFiles(folder_, policy_.maxDepth))
        found.push_back({name, Stat(name).mtimeNs});
    std::stable_sort(found.begin(), found.end(),
                     [](const Found& a, const Found& b) { return a.mtimeNs < b.mtimeNs; });
    for (const Found& file : found)
        Settle(file.name, now, 0);
}

TExportQueue::Clock::duration TExportQueue::AgeWait(const Snapshot& file) const {
    if (policy_.minAge.count() <= 0 || !file.valid)
        return Clock::duration::zero();
    const auto modified = std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::nanoseconds(file.mtimeNs)));
    const auto age = std::chrono::system_clock::now() - modified;
    if (age >= policy_.minAge)
        return Clock::duration::zero();
    return std::chrono::duration_cast<Clock::duration>(policy_.minAge - age);
}

TExportQueue::Clock::time_point TExportQueue::DueAt(const Entry& entry) const {
    return entry.retryWait ? entry.changed : entry.changed + policy_.settle;
}

std::optional<TExportJob> TExportQueue::TakeDue(Clock::time_point now,
                                                const std::set<std::string>& busy) {
    for (;;) {
        auto best = entries_.end();
        for (auto it = entries_.begin(); it != entries_.end(); ++it)
            if (DueAt(it->second) <= now && busy.count(it->first) == 0 &&
                (best == entries_.end() || it->second.order < best->second.order))
                best = it;
        if (best == entries_.end())
            return std::nullopt;
        Entry& entry = best->second;
        if (!entry.retryWait && policy_.settle.count() > 0) {
            // Quiet for the settle time by the events; size and time must agree too, since
            // not every writer makes events (a file written through a mapping, say).
            Snapshot current = Stat(best->first);
            if (current.valid && !(current == entry.snapshot)) {
                entry.snapshot = current;
                entry.changed = now;
                continue;
            }
        }
        if (const auto wait = AgeWait(Stat(best->first)); wait > Clock::duration::zero()) {
            // Held, not left out: due the moment it is old enough, or settling anew should
            // it change before.
            entry.changed = now + wait;
            entry.retryWait = true;
            continue;
        }
        TExportJob job{best->first, entry.retry};
        entries_.erase(best);
        return job;
    }
}

int TExportQueue::MsUntilNextDue(Clock::time_point now, const std::set<std::string>& busy) const {
    Clock::time_point next = Clock::time_point::max();
    for (const auto& [name, entry] : entries_)
        if (busy.count(name) == 0)
            next = std::min(next, DueAt(entry));
    if (next == Clock::time_point::max())
        return -1;
    if (next <= now)
        return 0;
    // Rounded up, so a wait never wakes just before the moment and spins.
    auto left = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
    return static_cast<int>(std::min<long long>(left, 24LL * 3600 * 1000));
}

void TExportQueue::Finished(const TExportJob& job, TExportOutcome outcome, Clock::time_point now) {
    if (outcome == TExportOutcome::Changed) {
        // Renamed away during its upload: the new name arrived on its own.
        if (Stat(job.name).valid)
            Settle(job.name, now, job.retry);
        return;
    }
    if (outcome != TExportOutcome::Failed || !policy_.retryFailed || !Stat(job.name).valid)
        return;
    // A new version that arrived during the upload goes on its own settle time.
    if (entries_.count(job.name) != 0)
        return;
    const auto& delays = policy_.retryDelays;
    auto delay = delays[std::min<size_t>(static_cast<size_t>(job.retry), delays.size() - 1)];
    Entry& entry = entries_[job.name];
    entry.order = nextOrder_++;
    entry.retry = job.retry + 1;
    entry.retryWait = true;
    entry.changed = now + delay;
}

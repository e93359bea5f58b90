#pragma once
// The user's own commands, run after a job moved a file (OnTransferCommand) and when it fails
// (OnFailureCommand). They run as processes of their own, never through a shell and never on
// a transfer's thread: a slow or stuck hook holds up nothing but other hooks.
#include "config/CommonTypesUnit.h"
#include "config/LogEvent.h"
#include "config/TransferProgress.h"

#include <QObject>

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tavrin::jobs {

// What a hook is told through its environment.
struct THookEvent {
    std::string job;
    bool upload = false;          // TAVRIN_DIRECTION: export or import
    std::string file;             // TAVRIN_FILE: the local path (empty: the job itself failed)
    std::string remote;           // TAVRIN_REMOTE: the remote path
    std::optional<uint64_t> size; // TAVRIN_SIZE (empty when not known)
    bool failed = false;          // TAVRIN_STATUS: failed or done
    std::string message;          // TAVRIN_MESSAGE: the failure's line

    bool operator==(const THookEvent&) const = default;
};

// The TAVRIN_* variables for `event`, added to the program's own environment.
std::vector<std::pair<std::string, std::string>> HookEnvironment(const THookEvent& event);

// The event of a file a job moved or failed to move. A moved export file is named where it
// now is (the move-to folder when it was moved there); `message` is the job's last failure
// line for a failed file.
THookEvent FileHookEvent(const std::string& job, const RConfiguration& config,
                         const TTransferProgress& progress, const std::string& message);

// Runs hooks for every job of one program, a few at a time; the rest wait their turn. Lives
// on the thread that owns the jobs (its event loop sees the processes end).
class THookRunner : public QObject {
    Q_OBJECT
public:
    struct TLimits {
        // A hook still running after this is killed, with everything it started.
        std::chrono::milliseconds bound{std::chrono::seconds(60)};
        size_t running = 4;
        // More hooks than this waiting (a hook far slower than the transfers): the newest is
        // not run, and the log says so.
        size_t waiting = 200;
    };

    explicit THookRunner(QObject* parent = nullptr);
    explicit THookRunner(TLimits limits, QObject* parent = nullptr);
    // Hooks still running are killed; waiting ones are not run.
    ~THookRunner() override;

    // Runs `command` with the event's environment, now or once a place is free. Its failures
    // go to `log` as red lines beginning with `prefix`.
    void Run(const std::string& command, const THookEvent& event, TLogEvent log,
             std::string prefix);

    size_t Running() const { return running_.size(); }
    size_t Waiting() const { return waiting_.size(); }

private:
    struct TRun;
    void StartWaiting();
    void Launch(std::unique_ptr<TRun> run);
    void Ended(TRun* run, const std::string& failure);
    std::string BoundText() const;

    TLimits limits_;
    std::deque<std::unique_ptr<TRun>> waiting_;
    std::vector<std::unique_ptr<TRun>> running_;
};

} // namespace tavrin::jobs

#pragma once
// How far a file's transfer has got: a monitor reports it from its worker thread while the
// bytes move, at most ten times a second, and once more when the file's steps have ended.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

enum class TTransferPhase {
    Moving, // bytes are being sent or received
    Done,   // every step of the file succeeded (size check, rename, local move)
    Failed  // the file's transfer or one of its steps failed; it stays for a later try
};

struct TTransferProgress {
    // The file's name as the job's log lines name it.
    std::string file;
    bool upload = false;
    uint64_t done = 0;
    // The whole size when known: the listing's size for a download, the local file's for an
    // upload.
    std::optional<uint64_t> total;
    TTransferPhase phase = TTransferPhase::Moving;

    bool operator==(const TTransferProgress&) const = default;
};

// Called on the monitor's worker thread; the receiver hands the report to its own thread.
using TProgressEvent = std::function<void(const TTransferProgress&)>;

#pragma once
// What the window shows of a job while it runs: the transfer under way and how fast it goes,
// the last file moved, how many moved today, and whether the job is failing. The job keeps it
// on its owner's thread from its monitor's progress reports and its failure/success lines.
#include "config/TransferProgress.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace tavrin::jobs {

struct TJobActivity {
    std::optional<TTransferProgress> current; // the transfer under way, if any
    double bytesPerSecond = 0;                // of the current transfer
    std::optional<std::chrono::seconds> timeLeft;
    std::optional<std::chrono::system_clock::time_point> lastTransferAt;
    uint64_t lastTransferSize = 0;
    int filesToday = 0;    // local day
    bool failing = false;  // the last cycle/upload failed
    std::string lastError; // text of the last failure line

    bool operator==(const TJobActivity&) const = default;
};

} // namespace tavrin::jobs

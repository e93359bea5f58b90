#pragma once
// How the job table words a job: its server, its state, sizes, rates and times.
#include "config/CommonTypesUnit.h"
#include "jobs/Job.h"
#include "jobs/JobActivity.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace tavrin::app {

// "user@host:port/folder"; without a user "host:port/folder"; without a host nothing (the
// job is not set up yet). An empty port is the protocol's own (21, or 22 for SFTP).
std::string ServerText(const RConfiguration& config);

enum class TJobLook { Stopped, Running, Transferring, Failing };
// A transfer under way shows before a failure (it is the newer news), a failure before
// plain running. A job that is stopping already shows stopped, as its status panel does.
TJobLook LookOf(tavrin::jobs::TJobState state, const tavrin::jobs::TJobActivity& activity);
const char* LookText(TJobLook look);

// "0 B", "999 B", "1.0 KB", "12.3 MB", "1.50 GB": 1024-based, three digits at most.
std::string SizeText(uint64_t bytes);
// "1.2 MB/s"; nothing while no rate is known.
std::string RateText(double bytesPerSecond);
// "0:07", "12:30", "1:02:03".
std::string DurationText(std::chrono::seconds left);
// The local time of day for today, else the local date and time ("2026-12-08 17:30").
std::string MomentText(std::chrono::system_clock::time_point when,
                       std::chrono::system_clock::time_point now);
// 0 to 100, or nothing while the whole size is unknown (or 0).
std::optional<int> PercentDone(const TTransferProgress& progress);

} // namespace tavrin::app

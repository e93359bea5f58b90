#pragma once
// The four process-wide log switches. Written on the window's thread, read by both monitors
// (the export monitor from its watch thread) at the moment each line is considered.
#include <atomic>

extern std::atomic<bool> LogMonitor;
extern std::atomic<bool> LogFileTransfer;
extern std::atomic<bool> LogSSL;
extern std::atomic<bool> LogVerbose;

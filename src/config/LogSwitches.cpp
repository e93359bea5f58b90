#include "config/LogSwitches.h"

// True from program start until the "General" section is first read.
std::atomic<bool> LogMonitor{true};
std::atomic<bool> LogFileTransfer{true};
std::atomic<bool> LogSSL{true};
std::atomic<bool> LogVerbose{true};

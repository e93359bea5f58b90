#pragma once
// The scene of the many-jobs bench: a scratch tree with one server folder and one local
// folder per job, the settings file with the jobs, files dropped into every job at once and
// the moments they arrive, and what /proc says of a process.
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace jobsbench {

struct TScene {
    // Makes root/server/{in,out}-NN, root/local/{in,out}-NN and root/state.
    TScene(std::string root, int imports, int exports);
    std::string root, server, local, state, config;
    int imports, exports;
    // Writes the settings file: the imports poll every 5 s with KeepAlive, the exports watch
    // their folders; `stableFiles` is the imports' WaitForStableFiles.
    void WriteSettings(uint16_t port, const std::string& user, const std::string& password,
                       bool stableFiles) const;
};

// Drops `tag`.dat into every export's local folder and onto every import's server folder at
// once, then waits (calling `turn` between looks, bounded by `limit`) for each to arrive at
// the other end. The seconds each took; a file that never came counts as the limit.
struct TArrivals {
    std::vector<double> seconds;
    int arrived = 0;
};
TArrivals DropAndWait(const TScene& scene, const std::string& tag,
                      const std::function<void(std::chrono::milliseconds)>& turn,
                      std::chrono::seconds limit);

// CPU time (user + system) and memory of a process from /proc.
struct TProcessFigures {
    double cpuSeconds = 0;
    long rssKiB = 0;
    long peakRssKiB = 0;
};
TProcessFigures ReadProcess(int pid);

} // namespace jobsbench

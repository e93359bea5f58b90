#pragma once
// Small helpers the benchmark programs share: payload files, order statistics, and running
// a program to its end with its time and peak memory. Header only; this folder has no
// CMakeLists.txt, so it makes no program of its own.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace bench {

// `size` bytes of xorshift noise: nothing compresses it, and the same size gives the same
// bytes every run.
inline void WriteRandomFile(const std::string& path, uint64_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<uint64_t> block(1 << 17); // 1 MiB
    uint64_t x = 0x9e3779b97f4a7c15ull;
    for (uint64_t written = 0; written < size;) {
        for (uint64_t& word : block) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            word = x;
        }
        const uint64_t n = std::min<uint64_t>(size - written, block.size() * sizeof(uint64_t));
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
        written += n;
    }
}

// The value below which `share` (0..1) of the values lie, by nearest rank; 0 when empty.
inline double Percentile(std::vector<double> values, double share) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const double rank = std::ceil(share * static_cast<double>(values.size()));
    const size_t index = rank < 1 ? 0 : static_cast<size_t>(rank) - 1;
    return values[std::min(index, values.size() - 1)];
}

inline double Median(const std::vector<double>& values) {
    return Percentile(values, 0.5);
}

// Removes a scratch folder when the bench leaves its scope, also by an exception.
class ScratchFolder {
public:
    explicit ScratchFolder(std::string path) : path_(std::move(path)) {}
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

private:
    std::string path_;
};

// How many regular files a folder holds (not below it).
inline size_t FilesIn(const std::string& folder) {
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        count += entry.is_regular_file();
    return count;
}

struct RunResult {
    bool ok = false;
    double seconds = 0;
    long peakKiB = 0; // the child's maximum resident set size
};

// Runs a program (full path in argv[0]) to its end with its standard output thrown away and
// nothing on its standard input, so a program that would prompt fails instead of waiting.
inline RunResult Run(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    RunResult result;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return result;
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) != pid)
        return result;
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    result.peakKiB = usage.ru_maxrss;
    return result;
}

} // namespace bench

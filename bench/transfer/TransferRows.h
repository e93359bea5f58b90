#pragma once
// One row of the transfer table: our program beside its peer, alternating rounds.
#include "common/BenchUtil.h"

#include <cstdio>
#include <string>
#include <vector>

namespace bench {

struct TransferFigures {
    std::vector<double> ours, peer; // MB/s per round
    long oursPeakKiB = 0;
    int failures = 0;

    void Add(bool isOurs, double megabytes, const RunResult& run) {
        (isOurs ? ours : peer).push_back(megabytes / run.seconds);
        if (isOurs)
            oursPeakKiB = std::max(oursPeakKiB, run.peakKiB);
    }
};

// "TLS download     tavrin-ftp  412.0 MB/s   curl  430.1 MB/s   ratio 0.96 (goal >= 0.95)
//  peak 9.8 MB"
inline void PrintRow(const std::string& what, const TransferFigures& f, const char* ours,
                     const char* peer, double goalRatio, double goalPeakMB = 0) {
    const double t = Median(f.ours), c = Median(f.peer);
    std::printf("%-16s %-11s %8.1f MB/s   %-5s %8.1f MB/s   ratio %.2f (goal >= %.2f)   "
                "peak %.1f MB",
                what.c_str(), ours, t, peer, c, c > 0 ? t / c : 0.0, goalRatio,
                f.oursPeakKiB / 1024.0);
    if (goalPeakMB > 0)
        std::printf(" (goal <= %.0f MB)", goalPeakMB);
    std::printf("%s\n", f.failures ? "   (some runs failed)" : "");
    std::fflush(stdout);
}

// The SFTP rows against OpenSSH's sftp on one sshd of 127.0.0.1. `client`: "tool"
// (tavrin-ftp --sftp), "layer" (our SFTP layer alone) or "auto" (the tool when it speaks SFTP).
void BenchSftp(int rounds, size_t mib, const std::string& client);

} // namespace bench

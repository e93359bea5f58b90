#pragma once
// A long transfer should not look like a hang in the journal: once a file has been moving for
// ten seconds, one line every ten seconds says how far it got.
#include "jobs/JobActivity.h"

#include <chrono>
#include <map>
#include <optional>
#include <string>

namespace tavrin::service {

// "12.3 MB" and the like: bytes, then kB, MB, GB in steps of 1000.
std::string ByteCount(double bytes);

class TProgressLines {
public:
    using TClock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kEvery{10};

    // The job's activity changed at `now`; the text of the line that is due then, if any
    // ("report.pdf: 12.3 MB of 50.0 MB, 4.1 MB/s").
    std::optional<std::string> Seen(const std::string& job, const jobs::TJobActivity& activity,
                                    TClock::time_point now);

private:
    struct TFollowed {
        std::string file;
        TClock::time_point lastLine; // or when the file began
    };
    std::map<std::string, TFollowed> followed_;
};

} // namespace tavrin::service

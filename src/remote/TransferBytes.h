#pragma once
// The byte counts a running download or upload reports: always once as it begins (0 bytes),
// then at most once per interval while bytes move, and once more when it has ended well. The
// transfer loops call Moved() per buffer; all it costs between reports is a clock read.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

namespace tavrin::remote {

// done: bytes of the file moved so far (a resumed download counts what was there before);
// total: the whole size, when the session knows it.
using TTransferBytes = std::function<void(uint64_t done, std::optional<uint64_t> total)>;

class TByteReports {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kEvery{100}; // ten a second

    TByteReports(const TTransferBytes& sink, std::optional<uint64_t> total, uint64_t done = 0)
        : sink_(sink), total_(total), done_(done) {}

    // The first report; later calls to Start() or Moved() know the total if it came late.
    void Start(std::optional<uint64_t> total = std::nullopt) {
        if (total)
            total_ = total;
        if (!sink_)
            return;
        last_ = Clock::now();
        sink_(done_, total_);
    }
    void Add(uint64_t bytes) { At(done_ + bytes); }
    void At(uint64_t done) {
        done_ = done;
        if (!sink_)
            return;
        const Clock::time_point now = Clock::now();
        if (now - last_ < kEvery)
            return;
        last_ = now;
        sink_(done_, total_);
    }
    // The last report, once every byte has moved.
    void Finish() {
        if (sink_)
            sink_(done_, total_);
    }
    uint64_t Done() const { return done_; }

private:
    const TTransferBytes& sink_;
    std::optional<uint64_t> total_;
    uint64_t done_;
    Clock::time_point last_{};
};

} // namespace tavrin::remote

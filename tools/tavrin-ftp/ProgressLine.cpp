#include "ProgressLine.h"

#include <cstdio>

namespace tavrin::tool {

namespace {
constexpr auto kRedrawEvery = std::chrono::milliseconds(200);

std::string Megabytes(int64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}
} // namespace

TProgressLine::TProgressLine(std::string label, int64_t total)
    : label_(std::move(label)), total_(total), start_(Clock::now()), lastDraw_(start_) {}

void TProgressLine::Advance(int64_t bytes) {
    done_ += bytes;
    if (Clock::now() - lastDraw_ >= kRedrawEvery)
        Draw();
}

void TProgressLine::Finish() {
    Draw();
    std::fputc('\n', stderr);
}

std::string TProgressLine::Text() const {
    std::string text = label_ + "  " + Megabytes(done_);
    if (total_ >= 0) {
        text += " of " + Megabytes(total_);
        if (total_ > 0)
            text += "  " + std::to_string(done_ * 100 / total_) + "%";
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    if (seconds > 0.05)
        text += "  " + Megabytes(static_cast<int64_t>(static_cast<double>(done_) / seconds)) + "/s";
    return text;
}

void TProgressLine::Draw() {
    lastDraw_ = Clock::now();
    // "\x1b[K" clears what a longer earlier line left at its end.
    std::fprintf(stderr, "\r%s\x1b[K", Text().c_str());
    std::fflush(stderr);
}

size_t TCountingStream::Read(char* buffer, size_t size) {
    const size_t count = inner_.Read(buffer, size);
    line_.Advance(static_cast<int64_t>(count));
    return count;
}

void TCountingStream::Write(const char* data, size_t size) {
    inner_.Write(data, size);
    line_.Advance(static_cast<int64_t>(size));
}

} // namespace tavrin::tool

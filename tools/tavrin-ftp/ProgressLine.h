#pragma once
// A progress line for one transfer on standard error ("\r" redraws it in place), and a stream
// that reports to it every byte that passes.
#include "ftp/IdStream.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace tavrin::tool {

class TProgressLine {
public:
    // total < 0: unknown (no percentage).
    TProgressLine(std::string label, int64_t total);
    void Advance(int64_t bytes);
    // The last state, and the line is left for the next output.
    void Finish();
    // "big.iso  12.5 MB of 50.0 MB  25%  3.1 MB/s"
    std::string Text() const;

private:
    void Draw();

    using Clock = std::chrono::steady_clock;
    std::string label_;
    int64_t total_, done_ = 0;
    Clock::time_point start_, lastDraw_;
};

class TCountingStream : public TIdStream {
public:
    TCountingStream(TIdStream& inner, TProgressLine& line) : inner_(inner), line_(line) {}
    size_t Read(char* buffer, size_t size) override;
    void Write(const char* data, size_t size) override;
    int64_t Position() const override { return inner_.Position(); }
    void SetPosition(int64_t position) override { inner_.SetPosition(position); }
    int64_t Size() const override { return inner_.Size(); }

private:
    TIdStream& inner_;
    TProgressLine& line_;
};

} // namespace tavrin::tool

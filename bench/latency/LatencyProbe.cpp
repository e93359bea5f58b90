#include "LatencyProbe.h"

#include "common/BenchUtil.h"

#include <algorithm>

TLatencyProbe::TLatencyProbe(QObject* parent) : QObject(parent) {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(kIntervalMs);
    connect(&timer_, &QTimer::timeout, this, [this] { Fired(); });
}

void TLatencyProbe::Start() {
    samples_.clear();
    samples_.reserve(1 << 20);
    measuredNs_ = 0;
    clock_.start();
    lastNs_ = clock_.nsecsElapsed();
    timer_.start();
}

void TLatencyProbe::Stop() {
    timer_.stop();
    measuredNs_ = clock_.nsecsElapsed();
}

void TLatencyProbe::Fired() {
    const qint64 now = clock_.nsecsElapsed();
    const double gapMs = static_cast<double>(now - lastNs_) / 1e6;
    lastNs_ = now;
    samples_.push_back(std::max(0.0, gapMs - kIntervalMs));
}

double TLatencyProbe::FiringPercentile(double share) const {
    return bench::Percentile(samples_, share);
}

double TLatencyProbe::WaitPercentile(double share) const {
    // Time spent at each wait, in 0.1 ms bins: a gap of G ms puts 0.1 ms into every bin
    // from 0 up to G.
    constexpr double kBin = 0.1;
    std::vector<double> spent;
    double total = 0;
    for (double late : samples_) {
        const double gap = late + kIntervalMs;
        const size_t bins = static_cast<size_t>(gap / kBin) + 1;
        if (spent.size() < bins)
            spent.resize(bins, 0);
        for (size_t bin = 0; bin < bins; ++bin)
            spent[bin] += std::min(kBin, gap - static_cast<double>(bin) * kBin);
        total += gap;
    }
    double sum = 0;
    for (size_t bin = 0; bin < spent.size(); ++bin) {
        sum += spent[bin];
        if (sum >= share * total)
            return static_cast<double>(bin + 1) * kBin;
    }
    return static_cast<double>(spent.size()) * kBin;
}

double TLatencyProbe::Max() const {
    return samples_.empty() ? 0 : *std::max_element(samples_.begin(), samples_.end());
}

double TLatencyProbe::BlockedShare(double thresholdMs) const {
    double blockedMs = 0;
    for (double late : samples_)
        if (late > thresholdMs)
            blockedMs += late + kIntervalMs;
    return measuredNs_ > 0 ? blockedMs / (static_cast<double>(measuredNs_) / 1e6) : 0;
}

#pragma once
// How late a 1 ms repeating timer fires on the thread that owns the probe: each firing's
// gap to the one before, less the interval.
//
// Per firing, a loop that is held for 250 ms four times a second and free in between still
// shows a tiny p99: the free stretches fire a thousand times a second, the held ones once.
// So the percentiles that matter are weighed by time: the wait of an event (a click, a
// repaint) that arrives at a random moment, which in a gap of G ms is spread evenly over
// 0..G. Both are given; the per-firing figures are what the timer itself saw.
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <vector>

class TLatencyProbe : public QObject {
public:
    explicit TLatencyProbe(QObject* parent = nullptr);

    void Start();
    void Stop();

    // Lateness of each firing in milliseconds (never negative).
    const std::vector<double>& Samples() const { return samples_; }
    double FiringPercentile(double share) const;
    // The wait, in milliseconds, that `share` of the measured moments stay within.
    double WaitPercentile(double share) const;
    double Max() const;
    // The share of the measured time spent in gaps longer than `thresholdMs`.
    double BlockedShare(double thresholdMs) const;
    double MeasuredSeconds() const { return measuredNs_ / 1e9; }

private:
    void Fired();

    static constexpr int kIntervalMs = 1;
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 lastNs_ = 0;
    qint64 measuredNs_ = 0;
    std::vector<double> samples_;
};

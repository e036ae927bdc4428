// TProgress: one line of progress on a terminal ("12.0 of 100.0 MB, 12%,
// 3.4 MB/s"), redrawn in place at most every Interval seconds and finished
// with a line feed. The clock and the output are given, so that a test
// drives both.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace ts {

class TProgress {
public:
    using TClock = std::function<double()>;  // seconds, from any start
    using TWrite = std::function<void(std::string_view)>;

    static constexpr double Interval = 0.25;
    // Inputs up to this many bytes end too soon to need a progress line.
    static constexpr int64_t Threshold = int64_t{4} << 20;
    // Whether a run over total bytes shows progress, on a terminal only.
    static bool Wanted(int64_t total, bool terminal) { return terminal && total > Threshold; }

    TProgress(int64_t total, TWrite write, TClock clock = SteadySeconds);
    // Bytes done so far; draws when Interval has passed since the last draw
    // (or since the start), so calling it often costs a clock read only.
    void Update(int64_t done);
    // The last state and a line feed, when anything was drawn.
    void Finish();

    // The line's text after the carriage return, e.g.
    // "12.0 of 100.0 MB, 12%, 3.4 MB/s"; MB are 10^6 bytes.
    static std::string Text(int64_t done, int64_t total, double seconds);
    static double SteadySeconds();

private:
    void Draw(double now);

    int64_t total_;
    TWrite write_;
    TClock clock_;
    double start_;
    double lastDraw_;
    int64_t done_ = 0;
    size_t width_ = 0;  // of the line drawn last, to blank what a shorter one leaves
    bool drawn_ = false;
};

}  // namespace ts

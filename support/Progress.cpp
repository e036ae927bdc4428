#include "support/Progress.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace ts {

TProgress::TProgress(int64_t total, TWrite write, TClock clock)
    : total_(total), write_(std::move(write)), clock_(std::move(clock)) {
    start_ = lastDraw_ = clock_();
}

double TProgress::SteadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::string TProgress::Text(int64_t done, int64_t total, double seconds) {
    const double mb = static_cast<double>(done) / 1e6;
    const int percent = total > 0 ? static_cast<int>(std::min<int64_t>(done, total) * 100 / total) : 100;
    char buf[96];
    if (seconds > 0)
        std::snprintf(buf, sizeof buf, "%.1f of %.1f MB, %d%%, %.1f MB/s", mb, static_cast<double>(total) / 1e6,
                      percent, mb / seconds);
    else
        std::snprintf(buf, sizeof buf, "%.1f of %.1f MB, %d%%", mb, static_cast<double>(total) / 1e6, percent);
    return buf;
}

void TProgress::Draw(double now) {
    std::string line = Text(done_, total_, now - start_);
    const size_t width = line.size();
    if (width < width_) line.append(width_ - width, ' ');
    width_ = width;
    write_("\r" + line);
    lastDraw_ = now;
    drawn_ = true;
}

void TProgress::Update(int64_t done) {
    done_ = done;
    const double now = clock_();
    if (now - lastDraw_ >= Interval) Draw(now);
}

void TProgress::Finish() {
    if (!drawn_) return;
    done_ = std::max(done_, total_);
    Draw(clock_());
    write_("\n");
    drawn_ = false;
}

}  // namespace ts

#include "progress.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace qlrender {

ProgressBar::ProgressBar(bool on, int64_t totalFrames, double rate)
    : enabled(on), total(std::max<int64_t>(totalFrames, 1)), sampleRate(rate), start(Clock::now()),
      lastDrawn(start) {}

void ProgressBar::update(int64_t done) {
    if (!enabled) return;
    const auto now = Clock::now();
    // Quick renders show nothing; longer ones redraw ten times a second.
    if (now - start < std::chrono::seconds(1)) return;
    if (shown && now - lastDrawn < std::chrono::milliseconds(100)) return;
    lastDrawn = now;
    shown = true;
    const double fraction = std::min(1.0, static_cast<double>(done) / static_cast<double>(total));
    constexpr int kWidth = 40;
    const int filled = static_cast<int>(fraction * kWidth);
    const std::string bar = std::string(filled, '#') + std::string(kWidth - filled, '-');
    std::fprintf(stderr, "\r[%s] %3d%%  %.1f s of audio", bar.c_str(),
                 static_cast<int>(fraction * 100.0), static_cast<double>(done) / sampleRate);
    std::fflush(stderr);
}

void ProgressBar::finish() {
    if (!shown) return;
    std::fprintf(stderr, "\r%*s\r", 72, "");
    std::fflush(stderr);
    shown = false;
}

} // namespace qlrender

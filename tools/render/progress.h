// A progress bar on stderr for renders that take more than a second, only on a terminal.
#pragma once

#include <chrono>
#include <cstdint>

namespace qlrender {

class ProgressBar {
  public:
    ProgressBar(bool enabled, int64_t totalFrames, double sampleRate);
    ~ProgressBar() { finish(); }
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void update(int64_t doneFrames);
    // Clears the bar's line, so what follows starts on a clean line.
    void finish();

  private:
    using Clock = std::chrono::steady_clock;
    bool enabled;
    bool shown = false;
    int64_t total;
    double sampleRate;
    Clock::time_point start;
    Clock::time_point lastDrawn;
};

} // namespace qlrender

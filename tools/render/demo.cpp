#include "demo.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace qlrender {

namespace {

constexpr double kPi = 3.14159265358979323846;

enum class Hit { Low, Noise, High };

struct Note {
    int sixteenth; // from the start of the demo
    Hit hit;
    double gain;
};

// Two bars: sparse enough that echoes at 3/16 and 6/16 fall into the gaps.
constexpr Note kPattern[] = {
    {0, Hit::Low, 0.5},   {8, Hit::Noise, 0.35},  {16, Hit::Low, 0.5},
    {22, Hit::High, 0.3}, {24, Hit::Noise, 0.35}, {30, Hit::High, 0.25},
};
constexpr int kSixteenths = 32;

// A small deterministic noise source, so every demo render is the same.
struct Noise {
    uint32_t state = 0x12345678u;
    double next() {
        state = state * 1664525u + 1013904223u;
        return static_cast<double>(state >> 8) / 8388608.0 - 1.0;
    }
};

void addHit(std::vector<float>& out, int64_t at, Hit hit, double gain, int sampleRate,
            Noise& noise) {
    const double length = hit == Hit::Low ? 0.25 : 0.12; // seconds
    const double decay = hit == Hit::Low ? 0.06 : hit == Hit::Noise ? 0.03 : 0.015;
    const int64_t frames = static_cast<int64_t>(length * sampleRate);
    const double attack = 0.001 * sampleRate;
    double smoothed = 0.0;
    for (int64_t i = 0; i < frames && at + i < static_cast<int64_t>(out.size()); ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        double v = 0.0;
        switch (hit) {
        case Hit::Low: // a pitched body falling from 180 Hz towards 90 Hz
            v = std::sin(2.0 * kPi * (90.0 * t + 90.0 * 0.03 * (1.0 - std::exp(-t / 0.03))));
            break;
        case Hit::Noise: // a snare-like burst, slightly darkened
            smoothed += 0.6 * (noise.next() - smoothed);
            v = smoothed * 1.4;
            break;
        case Hit::High: // a woodblock-like click
            v = 0.7 * std::sin(2.0 * kPi * 1800.0 * t) + 0.3 * std::sin(2.0 * kPi * 2700.0 * t);
            break;
        }
        const double envelope = std::min(1.0, i / attack) * std::exp(-t / decay);
        out[static_cast<size_t>(at + i)] += static_cast<float>(gain * envelope * v);
    }
}

} // namespace

std::vector<float> synthesiseDemo(int sampleRate, double tempo) {
    const double framesPerSixteenth = 60.0 / tempo / 4.0 * sampleRate;
    std::vector<float> out(static_cast<size_t>(std::ceil(kSixteenths * framesPerSixteenth)), 0.0f);
    Noise noise;
    for (const Note& note : kPattern)
        addHit(out, std::llrint(note.sixteenth * framesPerSixteenth), note.hit, note.gain,
               sampleRate, noise);
    return out;
}

} // namespace qlrender

#include "effect/presets.h"

#include "effect/paramtable.h"

#include <cstdio>

namespace ql {

float defaultParameterValue(int index) {
    return paramInfo(index).defaultValue;
}

namespace {

// The twelve delay patterns each family of presets runs through, in slot order.
struct Pattern {
    const char* kind; // "PingPong", "Stereo" or "Mono"
    int left, right;  // delay times in sixteenths
};

constexpr Pattern kPatterns[12] = {
    {"PingPong", 6, 6}, {"PingPong", 8, 8}, {"PingPong", 4, 4}, {"Stereo", 3, 5},
    {"Stereo", 5, 3},   {"Mono", 2, 2},     {"Mono", 3, 3},     {"Mono", 4, 4},
    {"Mono", 5, 5},     {"Mono", 6, 6},     {"Mono", 7, 7},     {"Mono", 8, 8},
};

} // namespace

std::unique_ptr<APluginProgram> makeFactoryPreset(int slot) {
    if (slot < 0 || slot >= kNumFactoryPresets) return nullptr;
    const Pattern& p = kPatterns[slot % 12];
    const int family = slot / 12; // 0 SEND, 1 INSERT, 2 INSERT ... DUCKER
    const bool pingPong = p.kind[0] == 'P';

    char name[APluginProgram::kNameCapacity + 1];
    char times[16];
    if (p.left == p.right)
        std::snprintf(times, sizeof times, "%d/16", p.left);
    else
        std::snprintf(times, sizeof times, "%d/%d/16", p.left, p.right);
    std::snprintf(name, sizeof name, "%s %s %s%s", family == 0 ? "SEND" : "INSERT", p.kind, times,
                  family == 2 ? " DUCKER" : "");

    auto program = std::make_unique<APluginProgram>(name);
    const float left = static_cast<float>(p.left) / 16.0f; // exact: sixteenths of a whole note
    const float right = static_cast<float>(p.right) / 16.0f;
    program->setValue(LeftDelayTime, left);
    program->setValue(RightDelayTime, right);
    if (pingPong) {
        // The left echo comes half a delay early, so the echoes alternate between the sides.
        program->setValue(InitialDelayOn, 1.0f);
        program->setValue(LeftInitialDelayTime, 0.5f - left / 2.0f);
    }
    if (family >= 1) {
        program->setValue(DryOn, 1.0f);
        program->setValue(LeftDelayLevel, 0.4f);
        program->setValue(RightDelayLevel, 0.4f);
    }
    if (family == 2) program->setValue(DuckerOn, 1.0f);
    return program;
}

} // namespace ql

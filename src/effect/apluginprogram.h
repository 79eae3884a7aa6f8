// One named set of all 80 parameter values.
#pragma once

#include "effect/parameters.h"

#include <atomic>

class APluginProgram {
  public:
    // Room for every factory name (27 characters) and more than a VST 2 host sends (24).
    static constexpr int kNameCapacity = 31;

    explicit APluginProgram(const char* name);

    void setName(const char* text);
    const char* getName() const { return name; }
    float getValue(int index) const { return values[index].load(std::memory_order_relaxed); }
    // No clamping: every caller passes values already in 0..1.
    void setValue(int index, float value) { values[index].store(value, std::memory_order_relaxed); }

  private:
    // Written by whichever thread sets a parameter, read when the program is loaded.
    std::atomic<float> values[ql::kNumParams];
    char name[kNameCapacity + 1] = {};
};

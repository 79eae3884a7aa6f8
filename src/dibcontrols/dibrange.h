// The range model the knob and the slider share: an integer Position kept inside Min..Max and
// the steps that move it. It only keeps the numbers in order; repainting and change events are
// the control's.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

inline int32_t ClampToInt32(int64_t v) {
    return int32_t(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                       std::numeric_limits<int32_t>::max()));
}

using TDIBRangeInc = int16_t; // 1..32767

class TDIBRange {
  public:
    int32_t Min() const { return fMin; }
    int32_t Max() const { return fMax; }
    int32_t Position() const { return fPosition; }
    TDIBRangeInc SmallChange() const { return fSmallChange; }
    TDIBRangeInc PageSize() const { return fPageSize; }

    // Stores the value clamped into Min..Max; whether Position changed.
    bool SetPosition(int32_t value) {
        value = std::clamp(value, fMin, std::max(fMin, fMax));
        if (value == fPosition) return false;
        fPosition = value;
        return true;
    }
    // Position moved by delta, which may lie far outside the int32 range; not yet clamped.
    int32_t Stepped(int64_t delta) const { return ClampToInt32(int64_t(fPosition) + delta); }

    // Max <= Min lowers Min to Max - 1. At the bottom of the integer range Min cannot go lower
    // and then equals Max. The answer tells whether Position now lies above Max: the control
    // sets it to Max through its own setter, so that it notifies.
    bool SetMax(int32_t value) {
        fMax = value;
        if (fMin >= fMax) fMin = ClampToInt32(int64_t(fMax) - 1);
        return fPosition > fMax;
    }
    // Min >= Max raises Max to Min + 1; whether Position now lies below Min.
    bool SetMin(int32_t value) {
        fMin = value;
        if (fMin >= fMax) fMax = ClampToInt32(int64_t(fMin) + 1);
        return fPosition < fMin;
    }

    // Steps outside 1..32767 are brought into it.
    static TDIBRangeInc Step(int value) { return TDIBRangeInc(std::clamp(value, 1, 32767)); }
    void SetSmallChange(int value) { fSmallChange = Step(value); }
    void SetPageSize(int value) { fPageSize = Step(value); }

  private:
    int32_t fMax = 100;
    int32_t fMin = 0;
    TDIBRangeInc fSmallChange = 1;
    TDIBRangeInc fPageSize = 5;
    int32_t fPosition = 0;
};

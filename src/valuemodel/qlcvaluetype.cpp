#include "valuemodel/qlcvaluetype.h"

#include "valuemodel/numtext.h"

#include <cmath>
#include <limits>

namespace {

constexpr size_t kSize = QLCvalueType::TextSize;

} // namespace

void QLCvalueType::ToText(char* /*dest*/, float /*value*/) const {}

void QLCpercentValueType::ToText(char* dest, float value) const {
    ql::formatInteger(dest, kSize, static_cast<long double>(value) * 100.0L);
}

void QLCmsValueType::ToText(char* dest, float value) const {
    ql::formatFixed(dest, kSize, static_cast<long double>(max) * value, 0);
}

void QLCbidiMsValueType::ToText(char* dest, float value) const {
    ql::formatFixed(dest, kSize, (static_cast<long double>(value) - 0.5L) * max, 0);
}

void QLCrhythmValueType::ToText(char* dest, float value) const {
    ql::formatFixed(dest, kSize, static_cast<long double>(max) * value, 1);
}

void QLCbidiRhythmValueType::ToText(char* dest, float value) const {
    ql::formatFixed(dest, kSize, (static_cast<long double>(value) - 0.5L) * max, 1);
}

void QLCdbValueType::ToText(char* dest, float value) const {
    // Silence is minus infinity, decided here rather than by the math library's log of 0.
    const long double db = value == 0.0f ? -std::numeric_limits<long double>::infinity()
                                         : 20.0L * std::log10(static_cast<long double>(value));
    ql::formatFixed(dest, kSize, db, 1);
}

void QLChzValueType::ToText(char* dest, float value) const {
    const auto f = static_cast<float>(static_cast<long double>(max) * value);
    if (!(f >= 1000.0f) || std::isinf(f)) { // not-a-number and infinity print without the "k"
        ql::formatInteger(dest, kSize, f);
        return;
    }
    // The exact quotient f / 1000: rounded to binary first, 22050 / 1000 would fall just below
    // the tie 22.05 and show "22.0k" for a sample rate of 44100.
    const size_t length = ql::formatFixedDivided(dest, kSize, f, 3, 1);
    if (dest && length + 1 < kSize) {
        dest[length] = 'k';
        dest[length + 1] = '\0';
    }
}

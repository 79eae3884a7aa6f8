#include "valuemodel/qlcvaluescale.h"

#include <cmath>

namespace {

long double unit(float x) {
    if (!(x > 0.0f)) return 0.0L; // also not-a-number
    if (x > 1.0f) return 1.0L;
    return x;
}

float toFloat(long double x) {
    return static_cast<float>(x);
}

// x^e with x in 0..1 through the general power function, as the roots are defined.
long double power(long double x, long double e) {
    return x == 0.0L ? 0.0L : std::pow(x, e);
}

// The inverted scales subtract from the float constant 1.0.
constexpr long double kOne = 1.0f;

constexpr long double kThird = 1.0L / 3.0L;
constexpr long double kQuarter = 0.25L;

} // namespace

float QLCvalueScale::ToPosition(float value) const {
    return toFloat(unit(value));
}
float QLCvalueScale::FromPosition(float fraction) const {
    return toFloat(unit(fraction));
}

float QLCsquareValueScale::ToPosition(float value) const {
    return toFloat(std::sqrt(unit(value)));
}
float QLCsquareValueScale::FromPosition(float fraction) const {
    const long double x = unit(fraction);
    return toFloat(x * x);
}

float QLCcubicValueScale::ToPosition(float value) const {
    return toFloat(power(unit(value), kThird));
}
float QLCcubicValueScale::FromPosition(float fraction) const {
    const long double x = unit(fraction);
    return toFloat(x * x * x);
}

float QLCexp4ValueScale::ToPosition(float value) const {
    return toFloat(power(unit(value), kQuarter));
}
float QLCexp4ValueScale::FromPosition(float fraction) const {
    const long double x = unit(fraction);
    const long double square = x * x; // exact: 48 significant bits
    return toFloat(square * square);
}

float QLCinvertValueScale::ToPosition(float value) const {
    return toFloat(kOne - unit(value));
}
float QLCinvertValueScale::FromPosition(float fraction) const {
    return toFloat(kOne - unit(fraction));
}

float QLCsquareInvertValueScale::ToPosition(float value) const {
    return toFloat(kOne - std::sqrt(unit(value)));
}
float QLCsquareInvertValueScale::FromPosition(float fraction) const {
    const long double x = kOne - unit(fraction);
    return toFloat(x * x);
}

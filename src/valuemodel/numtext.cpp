#include "valuemodel/numtext.h"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace ql {

namespace {

std::atomic<char> gSeparator{'.'};

// Appends into a bounded buffer; what does not fit is dropped, the text stays terminated.
struct Sink {
    char* out;
    size_t capacity;
    size_t length = 0;
    void put(char c) {
        if (capacity > 0 && length + 1 < capacity) out[length++] = c;
    }
    bool full() const { return capacity == 0 || length + 1 >= capacity; }
    // Stops reading the source once nothing more fits: it may be a host's unterminated text.
    void put(const char* s) {
        while (!full() && *s) put(*s++);
    }
    size_t finish() {
        if (capacity > 0) out[length] = '\0';
        return length;
    }
};

// An unsigned 128-bit value, just enough for mantissa times a small power of ten: the 32-bit
// platforms have no native one.
struct U128 {
    uint64_t hi = 0, lo = 0;
};

U128 mul64x32(uint64_t a, uint32_t b) {
    const uint64_t lo = (a & 0xFFFFFFFFu) * b;
    const uint64_t hi = (a >> 32) * b + (lo >> 32);
    return U128{hi >> 32, (hi << 32) | (lo & 0xFFFFFFFFu)};
}

U128 shiftRight(U128 v, int s) {
    if (s >= 128) return {};
    if (s >= 64) return {0, v.hi >> (s - 64)};
    if (s == 0) return v;
    return {v.hi >> s, (v.lo >> s) | (v.hi << (64 - s))};
}

// Is the part of v below bit s at least half of 2^s?
bool remainderAtLeastHalf(U128 v, int s) {
    if (s <= 0) return false;
    if (s > 128) return false;
    const int bit = s - 1;
    return bit >= 64 ? ((v.hi >> (bit - 64)) & 1u) != 0 : ((v.lo >> bit) & 1u) != 0;
}

void putUnsigned(Sink& sink, uint64_t v, int minDigits) {
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    while (n < minDigits) digits[n++] = '0';
    while (n > 0) sink.put(digits[--n]);
}

bool putNonFinite(Sink& sink, long double value) {
    if (std::isnan(value)) {
        sink.put("nan");
        return true;
    }
    if (std::isinf(value)) {
        sink.put(value < 0 ? "-inf" : "inf");
        return true;
    }
    return false;
}

} // namespace

char decimalSeparator() { return gSeparator.load(std::memory_order_relaxed); }
void setDecimalSeparator(char separator) {
    gSeparator.store(separator ? separator : '.', std::memory_order_relaxed);
}

size_t formatFixed(char* out, size_t capacity, long double value, int decimals, int minWidth) {
    Sink sink{out, capacity};
    if (decimals < 0) decimals = 0;
    if (decimals > 4) decimals = 4;
    char body[48];
    Sink text{body, sizeof body};
    if (!putNonFinite(text, value)) {
        const bool negative = std::signbit(value);
        const long double magnitude = std::fabs(value);
        static const uint32_t kPow10[] = {1, 10, 100, 1000, 10000};
        uint64_t scaled = 0; // magnitude * 10^decimals, rounded halves away from zero
        int exponent = 0;
        const long double fraction = std::frexp(magnitude, &exponent);
        if (magnitude == 0.0L || exponent < -120) {
            scaled = 0;
        } else if (exponent <= 50) {
            // magnitude = mantissa * 2^(exponent - 64) exactly, with a 64-bit integer mantissa
            const auto mantissa = static_cast<uint64_t>(std::ldexp(fraction, 64));
            const int shift = 64 - exponent;
            const U128 product = mul64x32(mantissa, kPow10[decimals]);
            scaled = shiftRight(product, shift).lo;
            if (remainderAtLeastHalf(product, shift)) ++scaled;
        } else {
            // Far beyond any value this system shows: the C library's digits are good enough.
            char big[80];
            std::snprintf(big, sizeof big, "%.*Lf", decimals, magnitude);
            if (char* dot = std::strchr(big, '.')) *dot = decimalSeparator();
            if (negative) text.put('-');
            text.put(big);
            scaled = UINT64_MAX;
        }
        if (scaled != UINT64_MAX) {
            if (negative && scaled != 0) text.put('-');
            putUnsigned(text, scaled / kPow10[decimals], 1);
            if (decimals > 0) {
                text.put(decimalSeparator());
                putUnsigned(text, scaled % kPow10[decimals], decimals);
            }
        }
    }
    const size_t bodyLength = text.finish();
    for (size_t pad = bodyLength; pad < static_cast<size_t>(minWidth > 0 ? minWidth : 0); ++pad)
        sink.put(' ');
    sink.put(body);
    return sink.finish();
}

size_t formatInteger(char* out, size_t capacity, long double value) {
    Sink sink{out, capacity};
    if (!putNonFinite(sink, value)) {
        // nearbyint rounds halves to even in the default rounding mode
        const long double rounded = std::nearbyint(value);
        if (std::fabs(rounded) >= 9.2e18L) {
            char big[64];
            std::snprintf(big, sizeof big, "%.0Lf", rounded);
            sink.put(big);
        } else {
            const auto n = static_cast<long long>(rounded);
            if (n < 0) sink.put('-');
            putUnsigned(sink, static_cast<uint64_t>(n < 0 ? -n : n), 1);
        }
    }
    return sink.finish();
}

size_t copyText(char* out, size_t capacity, const char* text) {
    Sink sink{out, capacity};
    if (text) sink.put(text);
    return sink.finish();
}

} // namespace ql

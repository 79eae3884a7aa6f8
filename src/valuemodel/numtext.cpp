#include "valuemodel/numtext.h"

#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstdint>

namespace ql {

// The digits come from the exact binary value, which needs the whole significand in one 64-bit
// integer: true for the 80-bit extended format of x86 (gcc and mingw) and for plain doubles.
static_assert(LDBL_MANT_DIG <= 64, "long double significand wider than 64 bits");

namespace {

std::atomic<char> gSeparator{'.'};

constexpr int kMaxDecimals = 9;
constexpr int kMaxDivisorExponent = 13; // 5^13 still fits 32 bits

// Appends into a bounded buffer; what does not fit is dropped, the text stays terminated. A null
// buffer takes nothing.
struct Sink {
    Sink(char* out, size_t capacity) : out(out), capacity(out ? capacity : 0) {}
    char* out;
    size_t capacity;
    size_t length = 0;
    bool full() const { return capacity == 0 || length + 1 >= capacity; }
    void put(char c) {
        if (!full()) out[length++] = c;
    }
    // Stops reading the source once nothing more fits: it may be a host's unterminated text.
    void put(const char* s) {
        while (!full() && *s)
            put(*s++);
    }
    size_t finish() {
        if (capacity > 0) out[length] = '\0';
        return length;
    }
};

// An unsigned integer wide enough for any finite long double times 10^kMaxDecimals, in 32-bit
// limbs (least significant first): even the largest values print exactly and without the C
// library, whose long double support differs between glibc and the Windows runtimes.
class BigUnsigned {
  public:
    explicit BigUnsigned(uint64_t v) {
        limbs[0] = static_cast<uint32_t>(v);
        limbs[1] = static_cast<uint32_t>(v >> 32);
        size = 2;
        trim();
    }

    void multiply(uint32_t factor) {
        uint64_t carry = 0;
        for (int i = 0; i < size; ++i) {
            const uint64_t t = static_cast<uint64_t>(limbs[i]) * factor + carry;
            limbs[i] = static_cast<uint32_t>(t);
            carry = t >> 32;
        }
        if (carry != 0) limbs[size++] = static_cast<uint32_t>(carry);
    }

    void shiftLeft(int bits) {
        const int whole = bits / 32, part = bits % 32;
        if (size == 0) return;
        limbs[size + whole] = 0;
        for (int i = size - 1; i >= 0; --i) {
            const uint64_t v = static_cast<uint64_t>(limbs[i]) << part;
            limbs[i + whole + 1] |= static_cast<uint32_t>(v >> 32);
            limbs[i + whole] = static_cast<uint32_t>(v);
        }
        for (int i = 0; i < whole; ++i)
            limbs[i] = 0;
        size += whole + 1;
        trim();
    }

    // Shifts right and reports whether the bits shifted out were at least half of the last unit
    // kept, i.e. whether rounding halves away from zero goes up.
    bool shiftRight(int bits) {
        if (bits <= 0) return false;
        const bool half = bit(bits - 1);
        const int whole = bits / 32, part = bits % 32;
        if (whole >= size) {
            size = 0;
            return half;
        }
        for (int i = 0; i + whole < size; ++i) {
            uint64_t v = limbs[i + whole];
            if (i + whole + 1 < size) v |= static_cast<uint64_t>(limbs[i + whole + 1]) << 32;
            limbs[i] = static_cast<uint32_t>(v >> part);
        }
        size -= whole;
        trim();
        return half;
    }

    void increment() {
        for (int i = 0; i < size; ++i)
            if (++limbs[i] != 0) return;
        limbs[size++] = 1;
    }

    bool isZero() const { return size == 0; }

    // Divides by a non-zero divisor and returns the remainder.
    uint32_t divide(uint32_t divisor) {
        uint64_t rest = 0;
        for (int i = size - 1; i >= 0; --i) {
            const uint64_t cur = (rest << 32) | limbs[i];
            limbs[i] = static_cast<uint32_t>(cur / divisor);
            rest = cur % divisor;
        }
        trim();
        return static_cast<uint32_t>(rest);
    }

    // Room for 2^16384 (the largest long double) times 2^64 times 10^9, and one spare limb.
    static constexpr int kLimbs = (16384 + 64 + 30) / 32 + 2;

  private:
    bool bit(int n) const {
        const int i = n / 32;
        return i < size && ((limbs[i] >> (n % 32)) & 1u) != 0;
    }
    void trim() {
        while (size > 0 && limbs[size - 1] == 0)
            --size;
    }

    uint32_t limbs[kLimbs + 1] = {};
    int size = 0;
};

// The decimal digits of a BigUnsigned, most significant first, at least minDigits of them.
class Digits {
  public:
    Digits(BigUnsigned value, int minDigits) {
        do {
            chunks[count++] = value.divide(1000000000u);
        } while (!value.isZero());
        int top = 1;
        for (uint32_t t = chunks[count - 1]; t >= 10; t /= 10)
            ++top;
        natural = top + 9 * (count - 1);
        total = natural > minDigits ? natural : minDigits;
    }
    int length() const { return total; }
    // Digit i counted from the most significant, leading zeros included.
    char at(int i) const {
        const int fromRight = total - 1 - i;
        if (fromRight >= natural) return '0';
        uint32_t chunk = chunks[fromRight / 9];
        for (int k = fromRight % 9; k > 0; --k)
            chunk /= 10;
        return static_cast<char>('0' + chunk % 10);
    }

  private:
    static constexpr int kChunks = (BigUnsigned::kLimbs * 32) / 29 + 2; // 10^9 > 2^29
    uint32_t chunks[kChunks] = {};
    int count = 0;
    int natural = 0;
    int total = 0;
};

const char* nonFiniteText(long double value) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    return nullptr;
}

void putPadding(Sink& sink, size_t bodyLength, int minWidth) {
    for (size_t n = bodyLength; n < static_cast<size_t>(minWidth > 0 ? minWidth : 0); ++n)
        sink.put(' ');
}

} // namespace

char decimalSeparator() {
    return gSeparator.load(std::memory_order_relaxed);
}
void setDecimalSeparator(char separator) {
    gSeparator.store(separator ? separator : '.', std::memory_order_relaxed);
}

size_t formatFixedDivided(char* out, size_t capacity, long double value, int divisorExponent,
                          int decimals, int minWidth) {
    Sink sink{out, capacity};
    if (decimals < 0) decimals = 0;
    if (decimals > kMaxDecimals) decimals = kMaxDecimals;
    if (divisorExponent < 0) divisorExponent = 0;
    if (divisorExponent > kMaxDivisorExponent) divisorExponent = kMaxDivisorExponent;

    if (const char* text = nonFiniteText(value)) {
        size_t n = 0;
        while (text[n])
            ++n;
        putPadding(sink, n, minWidth);
        sink.put(text);
        return sink.finish();
    }

    // |value| = mantissa * 2^binary exactly. The digits are |value| * 10^(decimals - divisor
    // exponent) rounded halves away from zero; a division by 10^m is one by 2^m (a shift) and
    // one by 5^m.
    int exponent = 0;
    const long double fraction = std::frexp(std::fabs(value), &exponent);
    const auto mantissa = static_cast<uint64_t>(std::ldexp(fraction, 64));
    int binary = exponent - 64;
    const int decimalShift = decimals - divisorExponent;
    BigUnsigned scaled(mantissa);
    uint32_t fives = 1;
    if (decimalShift >= 0) {
        for (int i = 0; i < decimalShift; ++i)
            scaled.multiply(10);
    } else {
        for (int i = 0; i < -decimalShift; ++i)
            fives *= 5;
        binary += decimalShift;
    }
    bool up = false;
    if (binary >= 0) {
        scaled.shiftLeft(binary);
        if (fives > 1) up = 2ull * scaled.divide(fives) >= fives;
    } else {
        // floor(q + r/5^m) shifted right: the remainder below one unit never reaches the halfway
        // bit, so the bit shifted out last decides alone.
        if (fives > 1) scaled.divide(fives);
        up = scaled.shiftRight(-binary);
    }
    if (up) scaled.increment();

    // A value that rounds to zero shows no sign: "-0.0" for a value just below a centre would
    // read as a different value from the centre's "0.0".
    const bool minus = std::signbit(value) && !scaled.isZero();
    const Digits digits(scaled, decimals + 1);
    const int integerDigits = digits.length() - decimals;
    putPadding(sink, static_cast<size_t>(digits.length()) + (decimals > 0) + minus, minWidth);
    if (minus) sink.put('-');
    for (int i = 0; i < digits.length() && !sink.full(); ++i) {
        if (i == integerDigits) sink.put(decimalSeparator());
        sink.put(digits.at(i));
    }
    return sink.finish();
}

size_t formatFixed(char* out, size_t capacity, long double value, int decimals, int minWidth) {
    return formatFixedDivided(out, capacity, value, 0, decimals, minWidth);
}

size_t formatInteger(char* out, size_t capacity, long double value) {
    // nearbyint rounds halves to even in the default rounding mode; the result is a whole number,
    // which the fixed-point writer prints exactly.
    return formatFixed(out, capacity, std::nearbyint(value), 0);
}

size_t copyText(char* out, size_t capacity, const char* text) {
    Sink sink{out, capacity};
    if (text) sink.put(text);
    return sink.finish();
}

} // namespace ql

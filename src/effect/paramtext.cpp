// The texts hosts of the other formats show for a parameter value, and the reading of typed text.
// The numbers come from the editor's own value types, so a host's text and the editor's label
// never disagree; only the units are added here.
#include "effect/paramtable.h"

#include "valuemodel/numtext.h"
#include "valuemodel/qlcvaluetype.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

namespace ql {

namespace {

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// Appends to a text being built in out[0..capacity).
class TextOut {
  public:
    TextOut(char* out, size_t capacity) : out(out), capacity(capacity) {
        if (out && capacity) out[0] = '\0';
    }
    TextOut& operator<<(const char* text) {
        if (out && length + 1 < capacity) length += copyText(out + length, capacity - length, text);
        return *this;
    }
    size_t size() const { return length; }

  private:
    char* out;
    size_t capacity;
    size_t length = 0;
};

// Text of a value type (at most its TextSize) for value.
struct TypeText {
    char text[QLCvalueType::TextSize] = {};
    TypeText(const QLCvalueType& type, float value) {
        type.ToText(text, value);
        text[sizeof text - 1] = '\0';
    }
};

int nyquistMax(double sampleRate) {
    const double half = std::nearbyint(sampleRate / 2.0);
    return (half > 0.0 && half < 2147483647.0) ? static_cast<int>(half) : 0;
}

// A number at the start of s: optional sign, digits with one decimal point ('.' or the user's
// separator), optional exponent. Consumes it from s.
bool takeNumber(std::string_view& s, double& number) {
    std::string digits;
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    bool any = false, point = false;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c >= '0' && c <= '9') {
            digits.push_back(c);
            any = true;
        } else if ((c == '.' || c == decimalSeparator()) && !point) {
            digits.push_back('.');
            point = true;
        } else {
            break;
        }
    }
    if (!any) return false;
    // An exponent only when digits follow it, so "2e" is not taken for a number.
    if (i + 1 < s.size() && lower(s[i]) == 'e') {
        size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
        if (j < s.size() && s[j] >= '0' && s[j] <= '9') {
            digits.append(s.substr(i, j - i));
            for (i = j; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i)
                digits.push_back(s[i]);
        }
    }
    double value = 0.0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size() || !std::isfinite(value))
        return false;
    number = negative ? -value : value;
    s.remove_prefix(i);
    return true;
}

// A whole text that is one number followed by one of the units (letter case and spaces around
// the unit ignored); `unit` answers which (0 for the first).
bool numberWithUnit(std::string_view text, std::initializer_list<std::string_view> units,
                    double& number, size_t& unit) {
    std::string_view s = trim(text);
    if (!takeNumber(s, number)) return false;
    s = trim(s);
    unit = 0;
    for (std::string_view u : units) {
        if (equalsIgnoringCase(s, u)) return true;
        ++unit;
    }
    return false;
}

bool store(double normalised, float& value) {
    if (std::isnan(normalised)) return false;
    // + 0.0f: "-0" is stored as the zero a fresh program holds, not as negative zero.
    value = static_cast<float>(std::clamp(normalised, 0.0, 1.0)) + 0.0f;
    return true;
}

bool parseSwitch(std::string_view text, float& value) {
    const std::string_view s = trim(text);
    if (equalsIgnoringCase(s, "on") || s == "1") return store(1.0, value);
    if (equalsIgnoringCase(s, "off") || s == "0") return store(0.0, value);
    return false;
}

bool parseGain(std::string_view text, float& value) {
    const std::string_view s = trim(text);
    for (std::string_view silence : {"-inf", "-inf db", "-infdb", "-infinity"})
        if (equalsIgnoringCase(s, silence)) return store(0.0, value);
    double number;
    size_t unit;
    if (!numberWithUnit(s, {"dB", "", "%"}, number, unit)) return false;
    if (unit == 2) return store(number / 100.0, value);
    return store(std::pow(10.0, number / 20.0), value);
}

bool parsePercent(std::string_view text, float& value) {
    double number;
    size_t unit;
    if (!numberWithUnit(text, {"%", ""}, number, unit)) return false;
    return store(number / 100.0, value);
}

// A musical time in whole notes: "a/b" (a fraction of a whole note, "3/16", "1/4"), "375 ms" at
// the current whole note, or a bare count of sixteenths. A printed text's "(375 ms)" after the
// fraction is accepted when it agrees with the fraction, and then gives the finer value.
bool parseWholeNotes(std::string_view text, const ParamTextContext& context, double& wholeNotes) {
    std::string_view s = trim(text);
    double number;
    if (!takeNumber(s, number)) return false;
    s = trim(s);
    if (!s.empty() && s.front() == '/') {
        s.remove_prefix(1);
        s = trim(s);
        double denominator;
        if (!takeNumber(s, denominator) || !(denominator > 0.0)) return false;
        s = trim(s);
        wholeNotes = number / denominator;
        if (!s.empty()) {
            // Only the milliseconds as printed may follow.
            if (s.front() != '(' || s.back() != ')') return false;
            std::string_view inner = s.substr(1, s.size() - 2);
            double ms;
            size_t unit;
            if (!numberWithUnit(inner, {"ms"}, ms, unit)) return false;
            if (context.wholeNoteMs > 0) {
                // The finer of the two numbers decides, if they agree within what each shows
                // (a tenth of a sixteenth, a millisecond).
                const double fromMs = ms / context.wholeNoteMs;
                const double tolerance = (0.05 / 16.0) + 1.0 / context.wholeNoteMs;
                if (std::fabs(fromMs - wholeNotes) > tolerance) return false;
                wholeNotes = fromMs;
            }
        }
        return true;
    }
    if (s.empty()) {
        wholeNotes = number / 16.0;
        return true;
    }
    if (equalsIgnoringCase(s, "ms") && context.wholeNoteMs > 0) {
        wholeNotes = number / context.wholeNoteMs;
        return true;
    }
    return false;
}

bool parseFrequency(std::string_view text, const ParamTextContext& context, float& value) {
    const int max = nyquistMax(context.sampleRate);
    if (max <= 0) return false;
    double number;
    size_t unit;
    if (!numberWithUnit(text, {"Hz", "", "k", "kHz"}, number, unit)) return false;
    const double hertz = unit >= 2 ? number * 1000.0 : number;
    return store(hertz / max, value);
}

} // namespace

int findParam(std::string_view name) {
    for (const ParamInfo& row : kParamTable)
        if (equalsIgnoringCase(name, row.name)) return row.index;
    return -1;
}

size_t formatParamValue(int index, float value, const ParamTextContext& context, char* out,
                        size_t capacity) {
    TextOut text(out, capacity);
    if (index < 0 || index >= kNumParams) return 0;
    switch (paramInfo(index).kind) {
    case ParamKind::Switch:
    case ParamKind::Link:
    case ParamKind::Fit:
        text << (isOn(value) ? "On" : "Off");
        break;
    case ParamKind::Level:
    case ParamKind::Threshold: {
        const TypeText db(QLCdbValueType{}, value);
        if (std::strcmp(db.text, "-INF") == 0)
            text << "-inf dB";
        else
            text << db.text << " dB";
        break;
    }
    case ParamKind::DelayTime:
    case ParamKind::InitialOffset: {
        const bool offset = paramInfo(index).kind == ParamKind::InitialOffset;
        const TypeText sixteenths = offset ? TypeText(QLCbidiRhythmValueType{16}, value)
                                           : TypeText(QLCrhythmValueType{16}, value);
        text << sixteenths.text << "/16";
        if (context.wholeNoteMs > 0) {
            const TypeText ms = offset ? TypeText(QLCbidiMsValueType{context.wholeNoteMs}, value)
                                       : TypeText(QLCmsValueType{context.wholeNoteMs}, value);
            text << " (" << ms.text << " ms)";
        }
        break;
    }
    case ParamKind::Frequency: {
        TypeText hz(QLChzValueType{nyquistMax(context.sampleRate)}, value);
        // The editor's "22.1k" becomes "22.1 kHz".
        const size_t n = std::strlen(hz.text);
        const bool kilo = n > 0 && hz.text[n - 1] == 'k';
        if (kilo) hz.text[n - 1] = '\0';
        text << hz.text << (kilo ? " kHz" : " Hz");
        break;
    }
    case ParamKind::Resonance:
    case ParamKind::Range:
    case ParamKind::Speed:
        text << TypeText(QLCpercentValueType{}, value).text << " %";
        break;
    case ParamKind::Tempo: {
        char bpm[32];
        formatInteger(bpm, sizeof bpm, static_cast<long double>(value) * 1000.0L);
        text << bpm << " BPM";
        break;
    }
    case ParamKind::Spare: {
        char plain[32];
        formatFixed(plain, sizeof plain, value, 2);
        text << plain;
        break;
    }
    }
    return text.size();
}

bool parseParamValue(int index, std::string_view text, const ParamTextContext& context,
                     float& value) {
    if (index < 0 || index >= kNumParams) return false;
    double number;
    size_t unit;
    switch (paramInfo(index).kind) {
    case ParamKind::Switch:
    case ParamKind::Link:
    case ParamKind::Fit:
        return parseSwitch(text, value);
    case ParamKind::Level:
    case ParamKind::Threshold:
        return parseGain(text, value);
    case ParamKind::DelayTime: {
        double wholeNotes;
        return parseWholeNotes(text, context, wholeNotes) && store(wholeNotes, value);
    }
    case ParamKind::InitialOffset: {
        double wholeNotes;
        return parseWholeNotes(text, context, wholeNotes) && store(0.5 + wholeNotes, value);
    }
    case ParamKind::Frequency:
        return parseFrequency(text, context, value);
    case ParamKind::Resonance:
    case ParamKind::Range:
    case ParamKind::Speed:
        return parsePercent(text, value);
    case ParamKind::Tempo:
        return numberWithUnit(text, {"BPM", ""}, number, unit) && store(number / 1000.0, value);
    case ParamKind::Spare:
        return numberWithUnit(text, {""}, number, unit) && store(number, value);
    }
    return false;
}

} // namespace ql

// libFuzzer target for the VST 2 boundary. Each input is a script for a host: how the host
// answers the plug-in's requests, then a sequence of calls through the AEffect record the entry
// function returns: dispatcher opcodes with any index, value, option float and a host-owned
// buffer of the size a host gives for that opcode, parameter calls, and both process entries
// with blocks of any length and any sample values. Every buffer is its own heap block, so
// AddressSanitizer sees any write or read past what the host handed over. The effect is closed
// at the end of every input, so LeakSanitizer sees anything it forgot to free.
//
// Besides the sanitizers the host checks what every host relies on, and traps when it does not
// hold: output samples are finite and within +-1 (the output saturation bounds them) and every
// one is written, inputs are left alone, texts come back terminated inside their buffers, host
// texts and places the plug-in must only read stay as they were, parameter values read back
// within 0..1, the current program within range, and the record's fixed fields never change.

#include "fuzzcheck.h"
#include "shell/vst2abi.h"

#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <vector>

// The library's two entry names. `main` cannot keep its name in a program that has its own, so
// the build renames that symbol in the entry's object file (see CMakeLists.txt).
extern "C" AEffect* VSTPluginMain(audioMasterCallback audioMaster);
extern "C" AEffect* ql_fuzz_plugin_main(audioMasterCallback audioMaster);

namespace {

// QL_FUZZ_TRACE=1 in the environment prints every call, to read what a crashing input does.
bool tracing = false;
#define QL_FUZZ_TRACE(...)                                                                         \
    do {                                                                                           \
        if (tracing) std::fprintf(stderr, __VA_ARGS__);                                            \
    } while (0)

// What the plug-in promises about its record; a fixed field that moves means something wrote
// where it should not (inside the object, where AddressSanitizer cannot see).
constexpr VstInt32 kNumParams = 80;
constexpr VstInt32 kNumPrograms = 40;
constexpr VstInt32 kNumChannels = 2;

// Limits on one input's work. Ordinary blocks share a budget that keeps an input to about a
// millisecond; once per input a turn runs enough blocks to take the delay lines round once
// (4800 ms at 192 kHz) and a little more. The turn is one value of a selector byte, so most
// inputs stay short and the fuzzer's pace is set by the boundary, not by long audio.
constexpr int kMaxOperations = 400;
constexpr int kMaxEffectsPerInput = 2;
constexpr std::int64_t kMaxFramesPerInput = 16384;
constexpr std::int64_t kLineLength = 921600; // frames each delay line holds
constexpr std::int64_t kTurnFrames = kLineLength + 4096;
constexpr VstInt32 kMinTurnBlock = 1024; // a turn in tiny blocks would be mostly call overhead
constexpr VstInt32 kMaxBlock = 4096;

// ---------------------------------------------------------------------------------------------
// The effect's memory. The effect is one block of 7.4 MB (its delay lines). Fresh from the
// allocator every input, its pages fault in again each time, which took most of an input's time.
// Blocks of 1 MB and more made while an input runs are kept when freed and handed out again for
// the same size: poisoned while free, so a use after the close still traps, and counted, so an
// effect that is never freed still fails the input.
// The allocator's own redzones stay around each block, so overruns are caught as before.
// Scalar new and delete are replaced as a pair and go to malloc and free below the threshold;
// the array and aligned forms stay the sanitizer's.

constexpr size_t kKeptBlockSize = size_t(1) << 20;

struct KeptBlock {
    void* memory = nullptr;
    size_t size = 0;
    bool inUse = false;
};
KeptBlock keptBlocks[2 * kMaxEffectsPerInput];
int keptBlocksInUse = 0;
bool runningInput = false; // only the plug-in's blocks are kept, not the fuzzer's own

void* allocate(size_t size) {
    if (size >= kKeptBlockSize && runningInput) {
        KeptBlock* spare = nullptr;
        for (KeptBlock& b : keptBlocks) {
            if (b.inUse) continue;
            if (b.memory && b.size == size) {
                ASAN_UNPOISON_MEMORY_REGION(b.memory, size);
                b.inUse = true;
                ++keptBlocksInUse;
                return b.memory;
            }
            if (!spare || !b.memory) spare = &b;
        }
        if (spare) {
            if (spare->memory) {
                ASAN_UNPOISON_MEMORY_REGION(spare->memory, spare->size);
                std::free(spare->memory);
            }
            spare->memory = std::malloc(size);
            spare->size = spare->memory ? size : 0;
            spare->inUse = spare->memory != nullptr;
            if (spare->inUse) ++keptBlocksInUse;
            return spare->memory;
        }
    }
    return std::malloc(size == 0 ? 1 : size);
}

void release(void* p) {
    if (!p) return;
    for (KeptBlock& b : keptBlocks)
        if (b.memory == p) {
            QL_FUZZ_CHECK(b.inUse); // freed twice
            ASAN_POISON_MEMORY_REGION(p, b.size);
            b.inUse = false;
            --keptBlocksInUse;
            return;
        }
    std::free(p);
}

} // namespace

void* operator new(size_t size) {
    if (void* p = allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void operator delete(void* p) noexcept {
    release(p);
}
void operator delete(void* p, size_t) noexcept {
    release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    release(p);
}

namespace {

// ---------------------------------------------------------------------------------------------
// Reading the input front to back; past its end every read answers zero.

class Input {
  public:
    Input(const std::uint8_t* data, size_t size) : data(data), size(size) {}

    bool empty() const { return pos >= size; }
    size_t offset() const { return pos; }

    template <typename T> T raw() {
        T value{};
        std::uint8_t bytes[sizeof(T)] = {};
        for (size_t i = 0; i < sizeof(T) && pos < size; ++i)
            bytes[i] = data[pos++];
        std::memcpy(&value, bytes, sizeof(T));
        return value;
    }
    std::uint8_t byte() { return raw<std::uint8_t>(); }

    std::string text(size_t maxLength) {
        const size_t length = byte() % (maxLength + 1);
        std::string s;
        for (size_t i = 0; i < length && pos < size; ++i)
            s.push_back(static_cast<char>(data[pos++]));
        return s;
    }

  private:
    const std::uint8_t* data;
    size_t size;
    size_t pos = 0;
};

template <typename T, size_t N> T pick(const T (&table)[N], std::uint8_t selector) {
    return table[selector % N];
}

const float kSpecialFloats[] = {0.0f,
                                -0.0f,
                                1.0f,
                                -1.0f,
                                0.5f,
                                0.25f,
                                0.75f,
                                0.999f,
                                1.0000001f,
                                0.14f,
                                0.3f,
                                0.4f,
                                0.0999f,
                                0.001f,
                                0.05f,
                                0.9f,
                                2.0f,
                                -2.0f,
                                1e-25f,
                                1e-30f,
                                -1e-30f,
                                std::numeric_limits<float>::denorm_min(),
                                -std::numeric_limits<float>::denorm_min(),
                                std::numeric_limits<float>::min(),
                                std::numeric_limits<float>::max(),
                                -std::numeric_limits<float>::max(),
                                1e10f,
                                -1e10f,
                                3e38f,
                                std::numeric_limits<float>::infinity(),
                                -std::numeric_limits<float>::infinity(),
                                std::numeric_limits<float>::quiet_NaN(),
                                -std::numeric_limits<float>::quiet_NaN(),
                                std::numeric_limits<float>::signaling_NaN(),
                                44100.0f,
                                48000.0f,
                                192000.0f,
                                -44100.0f,
                                32767.0f,
                                65536.0f,
                                2147483648.0f,
                                1e-45f};

const double kSpecialDoubles[] = {0.0,
                                  -0.0,
                                  1.0,
                                  -1.0,
                                  120.0,
                                  140.0,
                                  60.0,
                                  50.0,
                                  11.484375,
                                  11.0,
                                  12.5,
                                  1000.0,
                                  999.5,
                                  1e-3,
                                  44100.0,
                                  48000.0,
                                  96000.0,
                                  192000.0,
                                  22050.0,
                                  8000.0,
                                  1e6,
                                  1e-300,
                                  std::numeric_limits<double>::denorm_min(),
                                  std::numeric_limits<double>::max(),
                                  -std::numeric_limits<double>::max(),
                                  std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity(),
                                  std::numeric_limits<double>::quiet_NaN(),
                                  2147483647.0,
                                  2147483647.5,
                                  2147483648.0,
                                  -2147483648.0,
                                  -2147483649.0,
                                  1e20,
                                  -1e20,
                                  9.2e18,
                                  4503599627370496.5,
                                  0.5,
                                  1.5,
                                  2.5};

const VstInt32 kSpecialInts[] = {0,
                                 1,
                                 -1,
                                 2,
                                 39,
                                 40,
                                 41,
                                 79,
                                 80,
                                 81,
                                 127,
                                 128,
                                 255,
                                 256,
                                 1 << 16,
                                 1 << 30,
                                 -80,
                                 -40,
                                 INT32_MIN,
                                 INT32_MAX,
                                 INT32_MIN + 1,
                                 INT32_MAX - 1};

const VstIntPtr kSpecialValues[] = {0,
                                    1,
                                    -1,
                                    39,
                                    40,
                                    41,
                                    1 << 20,
                                    INT32_MAX,
                                    INT32_MIN,
                                    static_cast<VstIntPtr>(INT32_MAX) + 1,
                                    static_cast<VstIntPtr>(INT32_MIN) - 1,
                                    static_cast<VstIntPtr>(UINT32_MAX),
                                    static_cast<VstIntPtr>(UINT32_MAX) + 40,
                                    std::numeric_limits<VstIntPtr>::max(),
                                    std::numeric_limits<VstIntPtr>::min(),
                                    std::numeric_limits<VstIntPtr>::min() + 1};

float fuzzFloat(Input& in) {
    const std::uint8_t b = in.byte();
    if (b < 160) return pick(kSpecialFloats, b);
    return in.raw<float>();
}

double fuzzDouble(Input& in) {
    const std::uint8_t b = in.byte();
    if (b < 160) return pick(kSpecialDoubles, b);
    return in.raw<double>();
}

VstInt32 fuzzIndex(Input& in) {
    const std::uint8_t b = in.byte();
    if (b < 128) return static_cast<VstInt32>(b) - 16; // -16..111: every index and its edges
    if (b < 208) return pick(kSpecialInts, b);
    return in.raw<VstInt32>();
}

VstIntPtr fuzzValue(Input& in) {
    const std::uint8_t b = in.byte();
    if (b < 128) return static_cast<VstIntPtr>(b) - 16;
    if (b < 208) return pick(kSpecialValues, b);
    return in.raw<VstIntPtr>();
}

VstInt32 fuzzOpcode(Input& in) {
    const std::uint8_t b = in.byte();
    if (b < 240) return b % 80; // every opcode, and 77..79 just past the table
    static const VstInt32 strange[] = {-1, -2, INT32_MIN, INT32_MAX, 100, 255, 256, 1000};
    if (b < 248) return pick(strange, b);
    return in.raw<VstInt32>();
}

// Texts a host hands in: capability names, program names around the 24-character limit, or any
// bytes from the input.
std::string fuzzHostText(Input& in) {
    static const char* const known[] = {
        "receiveVstTimeInfo",
        "receivevsttimeinfo",
        "RECEIVEVSTTIMEINFO",
        "receiveVstTimeInf",
        "receiveVstTimeInfoX",
        " receiveVstTimeInfo",
        "sendVstEvents",
        "receiveVstEvents",
        "receiveVstMidiEvent",
        "plugAsChannelInsert",
        "plugAsSend",
        "mixDryWet",
        "bypass",
        "2in2out",
        "1in1out",
        "offline",
        "noRealTime",
        "",
        "My Echo",
        "123456789012345678901234",
        "1234567890123456789012345",
        "INSERT PingPong 6/16 DUCKER x",
        "a program name far longer than any buffer the effect keeps for it, and longer still"};
    const std::uint8_t b = in.byte();
    if (b < 64) return pick(known, b);
    return in.text(96);
}

// ---------------------------------------------------------------------------------------------
// The host: what it answers, and the checks on what the plug-in asks.

struct HostState {
    VstIntPtr versionAnswer = 2400;
    bool giveTimeInfo = true;
    VstTimeInfo timeInfo{};
    VstIntPtr tempoAtAnswer = 1200000;
    VstIntPtr otherAnswer = 0;
    std::string vendor = "Fuzz Host Maker";
    std::string product = "Fuzz Host";
    bool terminateTexts = true;
    AEffect* effect = nullptr; // the record of the effect in use; null while none exists
};

HostState* host = nullptr;

// Host texts: at most the 64 bytes the VST 2 convention allows for vendor and product.
void writeHostText(void* ptr, const std::string& text) {
    if (!ptr) return;
    const size_t limit = kVstMaxVendorStrLen;
    size_t n = std::min(text.size(), host->terminateTexts ? limit - 1 : limit);
    std::memcpy(ptr, text.data(), n);
    if (host->terminateTexts) static_cast<char*>(ptr)[n] = '\0';
}

VstIntPtr QL_VSTCALL hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                  void* ptr, float opt) {
    QL_FUZZ_CHECK(host != nullptr);
    // Every request but the version query made before construction names the effect's record.
    if (effect != nullptr && host->effect != nullptr) QL_FUZZ_CHECK(effect == host->effect);
    if (effect == nullptr) QL_FUZZ_CHECK(opcode == audioMasterVersion);
    switch (opcode) {
    case audioMasterVersion:
        return host->versionAnswer;
    case audioMasterGetTime:
        return host->giveTimeInfo ? reinterpret_cast<VstIntPtr>(&host->timeInfo) : 0;
    case audioMasterTempoAt:
        return host->tempoAtAnswer;
    case audioMasterGetVendorString:
        writeHostText(ptr, host->vendor);
        return 1;
    case audioMasterGetProductString:
        writeHostText(ptr, host->product);
        return 1;
    default:
        return host->otherAnswer;
    }
}

void readTimeInfo(Input& in, VstTimeInfo& t) {
    t.samplePos = fuzzDouble(in);
    t.sampleRate = fuzzDouble(in);
    t.tempo = fuzzDouble(in);
    const std::uint8_t f = in.byte();
    t.flags = f < 128 ? (f & 1 ? kVstTempoValid : 0) | kVstTransportPlaying : in.raw<VstInt32>();
    t.ppqPos = fuzzDouble(in);
}

void readHostAnswers(Input& in, HostState& h) {
    const std::uint8_t v = in.byte();
    // Mostly a real version; now and then 0 (not a VST host) or anything else.
    h.versionAnswer = v < 240 ? 2400 : v < 248 ? 0 : fuzzValue(in);
    h.giveTimeInfo = (in.byte() & 3) != 0;
    readTimeInfo(in, h.timeInfo);
    h.tempoAtAnswer = fuzzValue(in);
    h.terminateTexts = (in.byte() & 7) != 0;
    if (in.byte() & 1) h.vendor = in.text(80);
    if (in.byte() & 1) h.product = in.text(80);
    QL_FUZZ_TRACE("host: version %lld, time info %s, tempo %a, rate %a, pos %a, flags 0x%x, "
                  "tempoAt %lld\n",
                  static_cast<long long>(h.versionAnswer), h.giveTimeInfo ? "given" : "none",
                  h.timeInfo.tempo, h.timeInfo.sampleRate, h.timeInfo.samplePos, h.timeInfo.flags,
                  static_cast<long long>(h.tempoAtAnswer));
}

// A change to the host's answers between two calls.
void changeHostAnswers(Input& in, HostState& h) {
    switch (in.byte() % 8) {
    case 0:
        h.giveTimeInfo = !h.giveTimeInfo;
        break;
    case 1:
        h.timeInfo.tempo = fuzzDouble(in);
        break;
    case 2:
        h.timeInfo.sampleRate = fuzzDouble(in);
        break;
    case 3:
        h.timeInfo.samplePos = fuzzDouble(in);
        break;
    case 4:
        h.timeInfo.flags ^= kVstTempoValid;
        break;
    case 5:
        h.tempoAtAnswer = fuzzValue(in);
        break;
    case 6:
        h.otherAnswer = fuzzValue(in);
        break;
    default:
        readTimeInfo(in, h.timeInfo);
        break;
    }
    QL_FUZZ_TRACE("host: time info %s, tempo %a, rate %a, pos %a, flags 0x%x, tempoAt %lld\n",
                  h.giveTimeInfo ? "given" : "none", h.timeInfo.tempo, h.timeInfo.sampleRate,
                  h.timeInfo.samplePos, h.timeInfo.flags, static_cast<long long>(h.tempoAtAnswer));
}

// ---------------------------------------------------------------------------------------------
// Host-owned buffers. Each is an exact heap block: one byte more is an overrun.

using Buffer = std::vector<std::uint8_t>;
constexpr std::uint8_t kFill = 0xA5; // never a terminator

Buffer filled(size_t size) {
    return Buffer(size, kFill);
}

// After a text query: a buffer the plug-in wrote into must hold a terminator inside it.
void checkTextOut(const Buffer& before, const Buffer& after) {
    if (before == after) return;
    QL_FUZZ_CHECK(std::memchr(after.data(), 0, after.size()) != nullptr);
}

// Sizes the VST 2 convention gives the plug-in: the limit plus the terminator.
constexpr size_t kParamTextBuffer = kVstMaxParamStrLen + 1;
// The answer for an index outside 0..79 is the text "undefined", one character more than the
// convention's 8: its buffer is sized for exactly that text, so anything longer still shows.
constexpr size_t kUndefinedTextBuffer = sizeof "undefined";
constexpr size_t kProgramNameBuffer = kVstMaxProgNameLen + 1;
constexpr size_t kEffectNameBuffer = kVstMaxEffectNameLen + 1;
constexpr size_t kVendorBuffer = kVstMaxVendorStrLen + 1;
constexpr size_t kProductBuffer = kVstMaxProductStrLen + 1;
constexpr size_t kErrorTextBuffer = 256;
// Records the effect is not expected to touch (events, offline tasks, MIDI names, patch info):
// zeroed blocks of a generous size, so an effect that did read them would find counts of 0.
constexpr size_t kOpaqueRecord = 256;

bool validParam(VstInt32 index) {
    return index >= 0 && index < kNumParams;
}

// ---------------------------------------------------------------------------------------------
// The effect in use and the checks on its record.

struct RecordImage {
    VstInt32 magic, numPrograms, numParams, numInputs, numOutputs, uniqueID, version;
    AEffectDispatcherProc dispatcher;
    AEffectProcessProc process, processReplacing;
    AEffectSetParameterProc setParameter;
    AEffectGetParameterProc getParameter;
    void* object;
    bool operator==(const RecordImage&) const = default;
};

RecordImage imageOf(const AEffect* e) {
    return {e->magic,        e->numPrograms,  e->numParams,  e->numInputs, e->numOutputs,
            e->uniqueID,     e->version,      e->dispatcher, e->process,   e->processReplacing,
            e->setParameter, e->getParameter, e->object};
}

void checkRecord(const AEffect* e, const RecordImage& first) {
    QL_FUZZ_CHECK(imageOf(e) == first);
}

// The host's loops over samples carry no coverage instrumentation: their edges say nothing about
// the plug-in, and counting them sample by sample cost more than the plug-in's own work.
#define QL_FUZZ_UNCOUNTED __attribute__((no_sanitize("coverage")))

// One channel of host samples: an exact heap block of its own, so reads or writes past the
// frame count are caught.
class Channel {
  public:
    explicit Channel(size_t size) : samples(new float[size]), count(size) {}
    float* data() { return samples.get(); }
    const float* data() const { return samples.get(); }
    size_t size() const { return count; }

  private:
    std::unique_ptr<float[]> samples;
    size_t count;
};

QL_FUZZ_UNCOUNTED void fill(Channel& c, float value) {
    float* s = c.data();
    for (size_t i = 0; i < c.size(); ++i)
        s[i] = value;
}

QL_FUZZ_UNCOUNTED void fillPattern(Channel& c, const float* pattern, int length, size_t hold) {
    float* s = c.data();
    for (size_t i = 0; i < c.size(); ++i)
        s[i] = pattern[(i / hold) % length];
}

void copy(Channel& to, const Channel& from) {
    std::memcpy(to.data(), from.data(), from.size() * sizeof(float));
}

// Samples compared by their bits: a NaN left in place is the same NaN.
bool sameBits(const Channel& x, const Channel& y) {
    return std::memcmp(x.data(), y.data(), x.size() * sizeof(float)) == 0;
}

enum class Written { Nothing, Everything, Anything };

// Every output sample is left as it was (Nothing), written within the saturation (Everything),
// or either (Anything).
QL_FUZZ_UNCOUNTED bool outputsAsExpected(const Channel& out, const Channel& before,
                                         Written expected) {
    for (size_t i = 0; i < out.size(); ++i) {
        const float y = out.data()[i];
        const bool untouched =
            std::bit_cast<std::uint32_t>(y) == std::bit_cast<std::uint32_t>(before.data()[i]);
        const bool bounded = std::isfinite(y) && std::fabs(y) <= 1.0f;
        if (expected == Written::Nothing      ? !untouched
            : expected == Written::Everything ? !bounded
                                              : !(untouched || bounded))
            return false;
    }
    return true;
}

class Session {
  public:
    Session(Input& in, HostState& h) : in(in), h(h) {}

    // Makes the effect, runs the input's calls on it and closes it.
    void run();

  private:
    bool openEffect();
    void closeEffect();
    void dispatchOne();
    void processBlock(bool accumulate, int repeats, bool turn = false);
    void fillSamples(Channel& samples);

    Input& in;
    HostState& h;
    AEffect* effect = nullptr;
    RecordImage image{};
    int effectsMade = 0;
    std::int64_t framesRun = 0; // in ordinary blocks
    bool turned = false;
};

bool Session::openEffect() {
    if (effectsMade == kMaxEffectsPerInput) return false;
    ++effectsMade;
    h.effect = nullptr;
    const bool viaMain = (in.byte() & 1) != 0;
    effect = viaMain ? ql_fuzz_plugin_main(hostCallback) : VSTPluginMain(hostCallback);
    QL_FUZZ_TRACE("%s -> %p\n", viaMain ? "main" : "VSTPluginMain", static_cast<void*>(effect));
    if (h.versionAnswer == 0) {
        QL_FUZZ_CHECK(effect == nullptr); // not a VST host: nothing is made
        return false;
    }
    QL_FUZZ_CHECK(effect != nullptr);
    QL_FUZZ_CHECK(effect->magic == kEffectMagic);
    QL_FUZZ_CHECK(effect->numParams == kNumParams && effect->numPrograms == kNumPrograms);
    QL_FUZZ_CHECK(effect->numInputs == kNumChannels && effect->numOutputs == kNumChannels);
    QL_FUZZ_CHECK(effect->dispatcher && effect->processReplacing && effect->process &&
                  effect->setParameter && effect->getParameter);
    h.effect = effect;
    image = imageOf(effect);
    return true;
}

void Session::closeEffect() {
    const VstIntPtr result = effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
    QL_FUZZ_CHECK(result == 1);
    effect = nullptr;
    h.effect = nullptr;
}

void Session::run() {
    if (!openEffect()) return;
    for (int op = 0; op < kMaxOperations && !in.empty(); ++op) {
        switch (in.byte() % 8) {
        case 0:
        case 1:
        case 2:
            dispatchOne();
            break;
        case 3: {
            const VstInt32 index = fuzzIndex(in);
            const float value = fuzzFloat(in);
            QL_FUZZ_TRACE("setParameter(%d, %a)\n", index, value);
            effect->setParameter(effect, index, value);
            break;
        }
        case 4: {
            const VstInt32 index = fuzzIndex(in);
            const float value = effect->getParameter(effect, index);
            QL_FUZZ_TRACE("getParameter(%d) -> %a\n", index, value);
            // Stored values are clamped into 0..1 (not-a-number becomes 0); other indices read 0.
            QL_FUZZ_CHECK(value >= 0.0f && value <= 1.0f);
            if (!validParam(index)) QL_FUZZ_CHECK(value == 0.0f);
            break;
        }
        case 6: {
            const std::uint8_t b = in.byte();
            if (b < 64)
                processBlock(true, 1);
            else if (b < 128) {
                // A run of the same block; the repeat byte's last value is the turn.
                QL_FUZZ_TRACE("a run, its repeat count at byte %zu\n", in.offset());
                const std::uint8_t repeats = in.byte();
                processBlock(false, 1 + repeats, repeats == 255);
            } else
                changeHostAnswers(in, h);
            break;
        }
        default: // 5 and 7: the replacing entry, the one every host uses
            processBlock(false, 1);
            break;
        }
        if (!effect) {
            // The script closed the effect: a host may load it again.
            if (!openEffect()) return;
        } else {
            checkRecord(effect, image);
        }
    }
    if (effect) closeEffect();
}

void Session::dispatchOne() {
    const VstInt32 opcode = fuzzOpcode(in);
    const VstInt32 index = fuzzIndex(in);
    VstIntPtr value = fuzzValue(in);
    const float opt = fuzzFloat(in);
    // Low bits: now and then a null pointer where a buffer belongs (the plug-in must cope);
    // high bits: now and then a buffer for an opcode that takes none (hosts do pass them).
    const std::uint8_t pointerFlags = in.byte();
    const bool nullPtr = (pointerFlags & 15) == 0;
    const bool strayBuffer = (pointerFlags & 0x30) == 0;

    Buffer buffer;        // the host's block, when the opcode takes one
    Buffer before;        // its content before the call
    Buffer second;        // a second block (speaker arrangements)
    std::string hostText; // texts handed in
    void* ptr = nullptr;
    enum class Kind { None, TextOut, TextIn, Pin, Place, ChunkIn, Opaque, Arrangement };
    Kind kind = Kind::None;

    auto textOut = [&](size_t size) {
        buffer = filled(size);
        kind = Kind::TextOut;
    };
    switch (opcode) {
    case effGetProgramName:
    case effGetProgramNameIndexed:
        textOut(kProgramNameBuffer);
        break;
    case effGetParamLabel:
    case effGetParamName:
    case effGetParamDisplay:
        textOut(validParam(index) ? kParamTextBuffer : kUndefinedTextBuffer);
        break;
    case effGetEffectName:
        textOut(kEffectNameBuffer);
        break;
    case effGetVendorString:
        textOut(kVendorBuffer);
        break;
    case effGetProductString:
    case effShellGetNextPlugin:
        textOut(kProductBuffer);
        break;
    case effGetErrorText:
        textOut(kErrorTextBuffer);
        break;
    case effSetProgramName:
    case effCanDo:
    case effString2Parameter: {
        hostText = fuzzHostText(in);
        buffer.assign(hostText.begin(), hostText.end());
        buffer.push_back(0);
        kind = Kind::TextIn;
        break;
    }
    case effGetInputProperties:
    case effGetOutputProperties:
        buffer = filled(sizeof(VstPinProperties));
        kind = Kind::Pin;
        break;
    case effEditGetRect: // the host's place for an ERect pointer
    case effGetChunk:    // the host's place for the chunk's address
    case effGetSpeakerArrangement: {
        buffer = filled(sizeof(void*));
        kind = Kind::Place;
        break;
    }
    case effSetChunk: {
        const std::string data = in.text(200);
        buffer.assign(data.begin(), data.end());
        if (buffer.empty()) buffer.push_back(0);
        value = static_cast<VstIntPtr>(data.size());
        kind = Kind::ChunkIn;
        break;
    }
    case effSetSpeakerArrangement: {
        // Both arrangements are the host's, for two speakers; value carries the input's address.
        const size_t size =
            offsetof(VstSpeakerArrangement, speakers) + kNumChannels * sizeof(VstSpeakerProperties);
        buffer = Buffer(size, 0);
        second = Buffer(size, 0);
        for (Buffer* b : {&buffer, &second}) {
            VstSpeakerArrangement header{};
            header.type = in.raw<VstInt32>();
            header.numChannels = kNumChannels;
            std::memcpy(b->data(), &header, offsetof(VstSpeakerArrangement, speakers));
        }
        value = nullPtr ? 0 : reinterpret_cast<VstIntPtr>(second.data());
        kind = Kind::Arrangement;
        break;
    }
    case effEditOpen: // the parent window: a handle the effect keeps but never reads here
    case effProcessEvents:
    case effOfflineNotify:
    case effOfflinePrepare:
    case effOfflineRun:
    case effProcessVarIo:
    case effVendorSpecific:
    case effGetParameterProperties:
    case effGetMidiProgramName:
    case effGetCurrentMidiProgram:
    case effGetMidiProgramCategory:
    case effGetMidiKeyName:
    case effBeginLoadBank:
    case effBeginLoadProgram:
        buffer = Buffer(kOpaqueRecord, 0);
        kind = Kind::Opaque;
        break;
    default:
        // Opcodes that take no pointer: sometimes a host passes one all the same.
        if (strayBuffer) {
            buffer = Buffer(kOpaqueRecord, 0);
            kind = Kind::Opaque;
        }
        break;
    }
    if (opcode == effClose && effectsMade < kMaxEffectsPerInput) {
        closeEffect();
        return;
    }
    if (opcode == effClose) return; // the input ends with its own close
    // Places the plug-in writes into hold whatever the host left there: a pattern that is no
    // valid address, so reading through one faults.
    if (!buffer.empty() && !nullPtr) ptr = buffer.data();
    before = buffer;

    QL_FUZZ_TRACE("dispatcher(%d, %d, %lld, %s%zu bytes, %a)", opcode, index,
                  static_cast<long long>(value), ptr ? "" : "null, ", buffer.size(), opt);
    const VstIntPtr result = effect->dispatcher(effect, opcode, index, value, ptr, opt);
    QL_FUZZ_TRACE(" -> %lld\n", static_cast<long long>(result));

    switch (kind) {
    case Kind::TextOut:
        if (!ptr) break;
        checkTextOut(before, buffer);
        // A query answered "no" leaves the buffer alone.
        if (opcode == effGetProgramNameIndexed && result == 0) QL_FUZZ_CHECK(before == buffer);
        break;
    case Kind::TextIn:
        // The host's text is only read.
        if (ptr) QL_FUZZ_CHECK(before == buffer);
        if (opcode == effCanDo) {
            if (!ptr)
                QL_FUZZ_CHECK(result == 0);
            else
                // The plug-in sees the text up to its first terminator.
                QL_FUZZ_CHECK(result ==
                              (std::strcmp(hostText.c_str(), "receiveVstTimeInfo") == 0 ? 1 : -1));
        }
        break;
    case Kind::Pin: {
        if (!ptr) break;
        VstPinProperties pin;
        std::memcpy(&pin, buffer.data(), sizeof pin);
        if (result == 0) {
            QL_FUZZ_CHECK(before == buffer);
        } else {
            QL_FUZZ_CHECK(std::memchr(pin.label, 0, sizeof pin.label) != nullptr);
            // The arrangement type, short label and the rest stay as the host passed them.
            QL_FUZZ_CHECK(std::memcmp(buffer.data() + offsetof(VstPinProperties, arrangementType),
                                      before.data() + offsetof(VstPinProperties, arrangementType),
                                      sizeof(VstPinProperties) -
                                          offsetof(VstPinProperties, arrangementType)) == 0);
        }
        break;
    }
    case Kind::Place: {
        if (!ptr) break;
        if (opcode == effGetSpeakerArrangement) {
            QL_FUZZ_CHECK(before == buffer); // the places are the dispatcher's own
            break;
        }
        void* answer = nullptr;
        std::memcpy(&answer, buffer.data(), sizeof answer);
        if (opcode == effEditGetRect && answer && before != buffer) {
            // A rectangle handed back must be readable.
            ERect rect;
            std::memcpy(&rect, answer, sizeof rect);
            QL_FUZZ_CHECK(rect.bottom >= rect.top && rect.right >= rect.left);
        }
        if (opcode == effGetChunk && result > 0 && before != buffer && answer) {
            // The chunk the effect hands out must be readable over the size it gives.
            volatile std::uint8_t sum = 0;
            for (VstIntPtr i = 0; i < result; ++i)
                sum = sum + static_cast<std::uint8_t*>(answer)[i];
        }
        break;
    }
    case Kind::ChunkIn:
    case Kind::Arrangement:
        if (ptr) QL_FUZZ_CHECK(before == buffer); // only read
        break;
    default:
        break;
    }
    if (opcode == effGetProgram) QL_FUZZ_CHECK(result >= 0 && result < kNumPrograms);
}

// Sample values for one channel: a short pattern from the input, each entry held for a number
// of frames (impulses, steps, constants), or raw floats frame by frame for short blocks.
void Session::fillSamples(Channel& samples) {
    const std::uint8_t mode = in.byte();
    if (mode < 32) {
        fill(samples, 0.0f);
        return;
    }
    if (mode < 64 && samples.size() <= 256) {
        for (size_t i = 0; i < samples.size(); ++i)
            samples.data()[i] = in.raw<float>();
        return;
    }
    float pattern[8];
    const int length = 1 + in.byte() % 8;
    for (int i = 0; i < length; ++i)
        pattern[i] = fuzzFloat(in);
    const size_t hold = 1 + in.byte();
    fillPattern(samples, pattern, length, hold);
}

void Session::processBlock(bool accumulate, int repeats, bool turn) {
    const std::uint8_t b = in.byte();
    VstInt32 frames;
    if (b < 128)
        frames = static_cast<VstInt32>(in.raw<std::uint16_t>() % (kMaxBlock + 1));
    else if (b < 208)
        frames = b % 80;
    else if (b < 232)
        frames = kMaxBlock;
    else
        frames = b < 244 ? -static_cast<VstInt32>(b % 3) : INT32_MIN; // no frame at all
    const std::uint8_t layout = in.byte();
    // In place (the outputs are the inputs) for the replacing entry; now and then a missing
    // channel or channel array.
    const bool inPlace = !accumulate && (layout & 3) == 1;
    const int missing = (layout >> 2) & 63;

    if (turn && turned) turn = false; // one turn per input; a second is an ordinary run
    if (turn) {
        turned = true;
        frames = std::max(frames, kMinTurnBlock);
        repeats = static_cast<int>((kTurnFrames + frames - 1) / frames);
    }
    // A count of 0 or less still gets a one-frame block, to see that nothing is written.
    const size_t allocated = frames > 0 ? static_cast<size_t>(frames) : 1;
    if (!turn) {
        // As many of the repeats as the budget still holds.
        const std::int64_t room =
            (kMaxFramesPerInput - framesRun) / static_cast<std::int64_t>(allocated);
        if (room <= 0) return;
        repeats = static_cast<int>(std::min<std::int64_t>(repeats, room));
        framesRun += static_cast<std::int64_t>(allocated) * repeats;
    }
    std::array<Channel, kNumChannels> inputs{Channel(allocated), Channel(allocated)};
    std::array<Channel, kNumChannels> outputs{Channel(allocated), Channel(allocated)};
    std::array<Channel, kNumChannels> before{Channel(allocated), Channel(allocated)};
    std::array<Channel, kNumChannels> inputCopies{Channel(allocated), Channel(allocated)};
    for (Channel& c : inputs)
        fillSamples(c);
    for (int ch = 0; ch < kNumChannels; ++ch)
        copy(inputCopies[ch], inputs[ch]);
    // No frame to process: nothing written. All channels there: every output written, within
    // the saturation. A pointer missing: the block may be skipped.
    const bool complete = missing < 1 || missing > 6; // all four channels there
    const Written expected = frames <= 0 ? Written::Nothing
                             : complete  ? Written::Everything
                                         : Written::Anything;
    for (int r = 0; r < repeats; ++r) {
        float* inPtrs[kNumChannels];
        float* outPtrs[kNumChannels];
        for (int ch = 0; ch < kNumChannels; ++ch) {
            if (inPlace)
                copy(outputs[ch], inputs[ch]);
            else
                // The replacing entry must write every frame: a NaN left over shows a gap. The
                // accumulating one adds to what the host mixed so far (silence here).
                fill(outputs[ch], accumulate ? 0.0f : std::numeric_limits<float>::quiet_NaN());
            if (expected != Written::Everything) copy(before[ch], outputs[ch]);
            inPtrs[ch] = inPlace ? outputs[ch].data() : inputs[ch].data();
            outPtrs[ch] = outputs[ch].data();
        }
        float** inArray = inPtrs;
        float** outArray = outPtrs;
        switch (missing) {
        case 1:
            inPtrs[0] = nullptr;
            break;
        case 2:
            inPtrs[1] = nullptr;
            break;
        case 3:
            outPtrs[0] = nullptr;
            break;
        case 4:
            outPtrs[1] = nullptr;
            break;
        case 5:
            inArray = nullptr;
            break;
        case 6:
            outArray = nullptr;
            break;
        default:
            break;
        }
        QL_FUZZ_TRACE("%s(%d frames%s%s%s) first samples %a %a\n",
                      accumulate ? "process" : "processReplacing", frames,
                      inPlace ? ", in place" : "", complete ? "" : ", a pointer missing",
                      turn && r == 0 ? ", a turn of the lines" : "", inputs[0].data()[0],
                      inputs[1].data()[0]);
        if (accumulate)
            effect->process(effect, inArray, outArray, frames);
        else
            effect->processReplacing(effect, inArray, outArray, frames);
        for (int ch = 0; ch < kNumChannels; ++ch) {
            QL_FUZZ_CHECK(outputsAsExpected(outputs[ch], before[ch], expected));
            if (!inPlace) QL_FUZZ_CHECK(sameBits(inputs[ch], inputCopies[ch])); // only read
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* trace = std::getenv("QL_FUZZ_TRACE");
    tracing = trace && *trace && *trace != '0';
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    runningInput = true;
    Input in(data, size);
    HostState state;
    readHostAnswers(in, state);
    host = &state;
    Session(in, state).run();
    host = nullptr;
    runningInput = false;
    QL_FUZZ_CHECK(keptBlocksInUse == 0); // every effect made was freed
    return 0;
}

#include "effect/state.h"

#include <bit>
#include <cmath>
#include <cstring>

namespace ql {

namespace {

constexpr std::uint8_t kMagic[4] = {'Q', 'L', 'S', 'T'};

void putU32(std::uint8_t*& p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        *p++ = static_cast<std::uint8_t>(v >> (8 * i));
}
void putFloat(std::uint8_t*& p, float v) {
    putU32(p, std::bit_cast<std::uint32_t>(v));
}

std::uint32_t getU32(const std::uint8_t*& p) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= static_cast<std::uint32_t>(*p++) << (8 * i);
    return v;
}

// A stored value must be one setParameter keeps as it is: finite and inside 0..1.
bool readValues(const std::uint8_t*& p, float (&values)[kNumParams]) {
    for (float& v : values) {
        v = std::bit_cast<float>(getU32(p));
        if (!(v >= 0.0f && v <= 1.0f)) return false;
    }
    return true;
}

} // namespace

const char* describe(StateResult result) {
    switch (result) {
    case StateResult::Ok:
        return "ok";
    case StateResult::Truncated:
        return "the saved state is truncated";
    case StateResult::BadMagic:
        return "not a saved state of this plug-in";
    case StateResult::NewerVersion:
        return "the state was saved by a newer version";
    case StateResult::BadVersion:
        return "the state has an unknown version";
    case StateResult::BadSizes:
        return "the state's sizes are impossible";
    case StateResult::BadProgram:
        return "the state's current program does not exist";
    case StateResult::BadValue:
        return "the state holds a value outside 0..1";
    case StateResult::BadName:
        return "the state holds an unterminated program name";
    }
    return "unknown result";
}

std::vector<std::uint8_t> encodeState(const EffectState& state) {
    std::vector<std::uint8_t> blob(kStateSize);
    std::uint8_t* p = blob.data();
    std::memcpy(p, kMagic, 4);
    p += 4;
    putU32(p, kStateVersion);
    putU32(p, kStateHeaderSize);
    putU32(p, kNumParams);
    putU32(p, kNumPrograms);
    putU32(p, EffectState::kNameField);
    putU32(p, static_cast<std::uint32_t>(state.currentProgram));
    for (float v : state.values)
        putFloat(p, v);
    for (const auto& program : state.programs) {
        // Zero-padded after the terminator, so equal states give equal bytes.
        std::uint8_t name[EffectState::kNameField] = {};
        const size_t n = strnlen(program.name, EffectState::kNameField - 1);
        std::memcpy(name, program.name, n);
        std::memcpy(p, name, sizeof name);
        p += sizeof name;
        for (float v : program.values)
            putFloat(p, v);
    }
    return blob;
}

StateResult decodeState(const void* data, size_t size, EffectState& out) {
    if (!data || size < kStateHeaderSize) return StateResult::Truncated;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    if (std::memcmp(bytes, kMagic, 4) != 0) return StateResult::BadMagic;
    const std::uint8_t* p = bytes + 4;
    const std::uint32_t version = getU32(p);
    if (version > kStateVersion) return StateResult::NewerVersion;
    if (version == 0) return StateResult::BadVersion;
    const std::uint32_t headerSize = getU32(p);
    const std::uint32_t numParams = getU32(p);
    const std::uint32_t numPrograms = getU32(p);
    const std::uint32_t nameField = getU32(p);
    if (headerSize != kStateHeaderSize || numParams != kNumParams || numPrograms != kNumPrograms ||
        nameField != EffectState::kNameField)
        return StateResult::BadSizes;
    if (size < kStateSize) return StateResult::Truncated;
    if (size > kStateSize) return StateResult::BadSizes;

    EffectState state;
    state.currentProgram = static_cast<std::int32_t>(getU32(p));
    if (state.currentProgram < 0 || state.currentProgram >= kNumPrograms)
        return StateResult::BadProgram;
    if (!readValues(p, state.values)) return StateResult::BadValue;
    for (auto& program : state.programs) {
        std::memcpy(program.name, p, EffectState::kNameField);
        p += EffectState::kNameField;
        if (!std::memchr(program.name, '\0', EffectState::kNameField)) return StateResult::BadName;
        if (!readValues(p, program.values)) return StateResult::BadValue;
    }
    out = state;
    return StateResult::Ok;
}

} // namespace ql

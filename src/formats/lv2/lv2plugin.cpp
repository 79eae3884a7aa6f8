// The LV2 plug-in: ports in, time:Position to a transport, state through the bridge's blob.
#include "effect/presets.h"
#include "formats/lv2/lv2instance.h"

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/options/options.h>
#include <lv2/time/time.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

namespace ql::lv2 {

namespace {

std::uint32_t bitsOf(float value) {
    return std::bit_cast<std::uint32_t>(value);
}

const void* findFeature(const LV2_Feature* const* features, const char* uri) {
    for (; features && *features; ++features)
        if (std::strcmp((*features)->URI, uri) == 0) return (*features)->data;
    return nullptr;
}

// The host's largest block, when its options say so.
std::int32_t maxBlockLength(const LV2_Options_Option* options, const LV2_URID_Map& map) {
    if (!options) return 0;
    const LV2_URID key = map.map(map.handle, LV2_BUF_SIZE__maxBlockLength);
    const LV2_URID intType = map.map(map.handle, LV2_ATOM__Int);
    for (; options->key; ++options)
        if (options->key == key && options->type == intType && options->size == sizeof(int32_t) &&
            options->value)
            return *static_cast<const std::int32_t*>(options->value);
    return 0;
}

// Atoms are read only within the sizes they declare, and each header only where it fits.
bool readNumber(const Urids& u, const LV2_Atom* atom, double& out) {
    const void* body = atom + 1;
    if (atom->type == u.atomFloat && atom->size >= sizeof(float)) {
        float v;
        std::memcpy(&v, body, sizeof v);
        out = v;
    } else if (atom->type == u.atomDouble && atom->size >= sizeof(double)) {
        std::memcpy(&out, body, sizeof out);
    } else if (atom->type == u.atomInt && atom->size >= sizeof(std::int32_t)) {
        std::int32_t v;
        std::memcpy(&v, body, sizeof v);
        out = v;
    } else if (atom->type == u.atomLong && atom->size >= sizeof(std::int64_t)) {
        std::int64_t v;
        std::memcpy(&v, body, sizeof v);
        out = double(v);
    } else {
        return false;
    }
    return true;
}

constexpr std::uint32_t padded(std::uint32_t size) {
    return (size + 7u) & ~7u;
}

} // namespace

Instance::Instance(double sampleRate, const LV2_URID_Map& map, std::int32_t maxBlock)
    : bridge({"", "LV2 host"}) {
    auto m = [&](const char* uri) { return map.map(map.handle, uri); };
    urid = {m(LV2_ATOM__Blank),
            m(LV2_ATOM__Object),
            m(LV2_ATOM__Sequence),
            m(LV2_ATOM__Chunk),
            m(LV2_ATOM__Float),
            m(LV2_ATOM__Double),
            m(LV2_ATOM__Int),
            m(LV2_ATOM__Long),
            m(LV2_ATOM__beatTime),
            m(LV2_TIME__Position),
            m(LV2_TIME__beatsPerMinute),
            m(LV2_TIME__speed),
            m(LV2_TIME__frame),
            m(kStateKey),
            m(kProgramKey)};
    if (!bridge.valid()) return;
    bridge.setSampleRate(sampleRate);
    bridge.setBlockSize(maxBlock > 0 ? maxBlock : 4096);
    // A new instance sounds as its ports' defaults say: a program holding the table's defaults.
    bridge.selectProgram(kNumFactoryPresets);
    for (int k = 0; k < kNumNamedParams; ++k)
        lastSeen[std::size_t(k)].store(bitsOf(bridge.parameter(kControlParams[std::size_t(k)])),
                                       std::memory_order_relaxed);
}

void Instance::connect(std::uint32_t port, void* data) {
    switch (port) {
    case kInLeft:
    case kInRight:
        audioIn[port - kInLeft] = static_cast<const float*>(data);
        break;
    case kOutLeft:
    case kOutRight:
        audioOut[port - kOutLeft] = static_cast<float*>(data);
        break;
    case kControl:
        control = static_cast<const LV2_Atom_Sequence*>(data);
        break;
    default:
        if (port >= kFirstParam && port < kNumPorts)
            controls[port - kFirstParam] = static_cast<const float*>(data);
        break;
    }
}

void Instance::activate() {
    bridge.start();
}

void Instance::deactivate() {
    bridge.stop();
}

void Instance::uiSent(int k, float value) {
    Sent& s = sent[std::size_t(k)];
    const std::uint32_t n = s.count.load(std::memory_order_relaxed);
    s.values[n % kSentHistory].store(bitsOf(value), std::memory_order_relaxed);
    s.count.store(n + 1, std::memory_order_release);
}

// A value the UI sent before its latest one, reaching the port only now: the editor's newer
// value already holds in the effect and must stay.
bool Instance::isStaleUiValue(int k, float value) {
    Sent& s = sent[std::size_t(k)];
    const std::uint32_t n = s.count.load(std::memory_order_acquire);
    if (n == s.seen) return false;
    const std::uint32_t oldest = std::max(s.seen, n > kSentHistory ? n - kSentHistory : 0u);
    for (std::uint32_t j = n; j-- > oldest;) {
        if (s.values[j % kSentHistory].load(std::memory_order_relaxed) == bitsOf(value)) {
            s.seen = j + 1;
            return j + 1 != n;
        }
    }
    return false;
}

void Instance::readControls() {
    for (int k = 0; k < kNumNamedParams; ++k) {
        const float* port = controls[std::size_t(k)];
        if (!port) continue; // an unconnected port keeps the value the effect has
        const float value = *port;
        auto& last = lastSeen[std::size_t(k)];
        if (bitsOf(value) == last.load(std::memory_order_relaxed)) continue;
        last.store(bitsOf(value), std::memory_order_relaxed);
        if (isStaleUiValue(k, value)) continue;
        bridge.setParameter(kControlParams[std::size_t(k)], value);
    }
}

void Instance::readPosition(const LV2_Atom_Object* object) {
    const std::uint32_t size = object->atom.size;
    if (size < sizeof(LV2_Atom_Object_Body)) return;
    const auto* base = reinterpret_cast<const std::uint8_t*>(&object->body);
    std::uint32_t at = sizeof(LV2_Atom_Object_Body);
    bool any = false;
    while (size - at >= sizeof(LV2_Atom_Property_Body)) {
        const auto* property = reinterpret_cast<const LV2_Atom_Property_Body*>(base + at);
        const std::uint32_t room = size - at - std::uint32_t(sizeof(LV2_Atom_Property_Body));
        if (property->value.size > room) return; // cut short: the rest is not read
        double number;
        if (readNumber(urid, &property->value, number)) {
            if (property->key == urid.timeBpm) {
                // The bridge judges the number (none, zero or absurd counts as no tempo).
                tempo = number;
                tempoKnown = true;
                any = true;
            } else if (property->key == urid.timeSpeed) {
                speed = number;
                any = true;
            } else if (property->key == urid.timeFrame) {
                frame = number;
                frameKnown = true;
                any = true;
            }
        }
        const std::uint32_t step =
            padded(std::uint32_t(sizeof(LV2_Atom_Property_Body)) + property->value.size);
        if (step > size - at) break;
        at += step;
    }
    if (any) positionSeen = true;
}

void Instance::processSpan(std::uint32_t offset, std::uint32_t frames) {
    while (frames > 0) {
        const std::uint32_t n = std::min<std::uint32_t>(frames, 1u << 30);
        Transport t;
        t.present = positionSeen;
        t.hasTempo = tempoKnown;
        t.tempo = tempo;
        t.hasSamplePos = frameKnown;
        t.samplePos = frame;
        float* in[2] = {const_cast<float*>(audioIn[0] + offset),
                        const_cast<float*>(audioIn[1] + offset)};
        float* out[2] = {audioOut[0] + offset, audioOut[1] + offset};
        bridge.process(in, out, std::int32_t(n), t);
        if (frameKnown) frame += double(n) * speed;
        offset += n;
        frames -= n;
    }
}

void Instance::run(std::uint32_t frames) {
    readControls();
    const bool audio = audioIn[0] && audioIn[1] && audioOut[0] && audioOut[1];
    if (!audio) {
        for (float* out : audioOut)
            if (out) std::fill(out, out + frames, 0.0f);
    }
    // Each position takes effect at its frame: the block is cut there.
    std::uint32_t done = 0;
    const LV2_Atom_Sequence* seq = control;
    if (seq && seq->atom.type == urid.atomSequence && seq->atom.size >= sizeof(seq->body)) {
        const std::uint32_t size = seq->atom.size;
        const auto* base = reinterpret_cast<const std::uint8_t*>(&seq->body);
        std::uint32_t at = sizeof(LV2_Atom_Sequence_Body);
        while (size - at >= sizeof(LV2_Atom_Event)) {
            const auto* event = reinterpret_cast<const LV2_Atom_Event*>(base + at);
            const std::uint32_t room = size - at - std::uint32_t(sizeof(LV2_Atom_Event));
            if (event->body.size > room) break;
            const bool object =
                event->body.type == urid.atomObject || event->body.type == urid.atomBlank;
            const auto* obj = reinterpret_cast<const LV2_Atom_Object*>(&event->body);
            if (object && event->body.size >= sizeof(LV2_Atom_Object_Body) &&
                obj->body.otype == urid.timePosition) {
                // Frame times only; a time out of order or beyond the block counts as its edge.
                std::int64_t when = seq->body.unit == urid.atomBeatTime ? 0 : event->time.frames;
                when = std::clamp<std::int64_t>(when, done, frames);
                if (audio && std::uint32_t(when) > done) {
                    processSpan(done, std::uint32_t(when) - done);
                    done = std::uint32_t(when);
                }
                readPosition(obj);
            }
            const std::uint32_t step =
                padded(std::uint32_t(sizeof(LV2_Atom_Event)) + event->body.size);
            if (step > size - at) break;
            at += step;
        }
    }
    if (audio && frames > done) processSpan(done, frames - done);
}

LV2_State_Status Instance::save(LV2_State_Store_Function store, LV2_State_Handle handle) {
    const std::vector<std::uint8_t> blob = bridge.saveState();
    return store(handle, urid.stateKey, blob.data(), blob.size(), urid.atomChunk,
                 LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
}

LV2_State_Status Instance::restore(LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle) {
    std::size_t size = 0;
    std::uint32_t type = 0, flags = 0;
    if (const void* data = retrieve(handle, urid.stateKey, &size, &type, &flags)) {
        if (type != urid.atomChunk) return LV2_STATE_ERR_BAD_TYPE;
        if (bridge.loadState(data, size) != StateResult::Ok) return LV2_STATE_ERR_UNKNOWN;
    } else if (const void* program = retrieve(handle, urid.programKey, &size, &type, &flags)) {
        // A factory preset: its program, whose values its ports then repeat.
        std::int32_t n;
        if (type != urid.atomInt || size != sizeof n) return LV2_STATE_ERR_BAD_TYPE;
        std::memcpy(&n, program, sizeof n);
        if (n < 0 || n >= kNumPrograms) return LV2_STATE_ERR_UNKNOWN;
        bridge.selectProgram(n);
    } else {
        return LV2_STATE_ERR_NO_PROPERTY;
    }
    // The ports' values as they stand are not news: only a host's later change reaches the
    // effect, so a host that restores no port values does not undo the state.
    for (int k = 0; k < kNumNamedParams; ++k)
        if (const float* port = controls[std::size_t(k)])
            lastSeen[std::size_t(k)].store(bitsOf(*port), std::memory_order_relaxed);
    return LV2_STATE_SUCCESS;
}

namespace {

Instance* self(LV2_Handle handle) {
    return static_cast<Instance*>(handle);
}

LV2_Handle instantiate(const LV2_Descriptor*, double rate, const char*,
                       const LV2_Feature* const* features) {
    const auto* map = static_cast<const LV2_URID_Map*>(findFeature(features, LV2_URID__map));
    if (!map || !map->map) return nullptr; // no URIDs, no atoms, no state: refused
    const auto* options =
        static_cast<const LV2_Options_Option*>(findFeature(features, LV2_OPTIONS__options));
    if (!(rate > 0.0)) return nullptr;
    auto* instance = new (std::nothrow) Instance(rate, *map, maxBlockLength(options, *map));
    if (instance && !instance->valid()) {
        delete instance;
        return nullptr;
    }
    return instance;
}

void connectPort(LV2_Handle h, uint32_t port, void* data) {
    self(h)->connect(port, data);
}
void activate(LV2_Handle h) {
    self(h)->activate();
}
void run(LV2_Handle h, uint32_t frames) {
    self(h)->run(frames);
}
void deactivate(LV2_Handle h) {
    self(h)->deactivate();
}
void cleanup(LV2_Handle h) {
    delete self(h);
}

LV2_State_Status saveState(LV2_Handle h, LV2_State_Store_Function store, LV2_State_Handle handle,
                           uint32_t, const LV2_Feature* const*) {
    return self(h)->save(store, handle);
}
LV2_State_Status restoreState(LV2_Handle h, LV2_State_Retrieve_Function retrieve,
                              LV2_State_Handle handle, uint32_t, const LV2_Feature* const*) {
    return self(h)->restore(retrieve, handle);
}

const void* extensionData(const char* uri) {
    static const LV2_State_Interface state = {saveState, restoreState};
    if (std::strcmp(uri, LV2_STATE__interface) == 0) return &state;
    return nullptr;
}

const LV2_Descriptor kDescriptor = {kPluginUri, instantiate, connectPort, activate,
                                    run,        deactivate,  cleanup,     extensionData};

} // namespace
} // namespace ql::lv2

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    return index == 0 ? &ql::lv2::kDescriptor : nullptr;
}

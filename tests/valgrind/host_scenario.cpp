// One whole host session against the plug-in's headless build, editor included: everything a host
// does from loading the library to unloading it, checking each answer on the way. It runs as a
// test of its own, and under memcheck (scripts/test-valgrind), where whatever the plug-in
// allocated must be gone once the library is unloaded.
//
// Usage: ql_host_scenario PLUGIN   (exit status 0 when every check passed)
#include "host/pluginhost.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

using namespace qltest;

namespace {

constexpr VstInt32 fourCC(const char (&c)[5]) {
    return (VstInt32(c[0]) << 24) | (VstInt32(c[1]) << 16) | (VstInt32(c[2]) << 8) | VstInt32(c[3]);
}

constexpr int kParams = 80;
constexpr int kPrograms = 40;
constexpr int kBlock = 512;
constexpr double kRate = 44100.0;

int gChecks = 0;
int gFailed = 0;

void expect(bool ok, const std::string& what) {
    ++gChecks;
    if (ok) return;
    ++gFailed;
    std::fprintf(stderr, "host scenario: FAILED: %s\n", what.c_str());
}

template <typename A, typename B>
void expectEq(const A& actual, const B& expected, const std::string& what) {
    std::ostringstream text;
    text << what << ": got " << actual << ", expected " << expected;
    expect(actual == expected, text.str());
}

std::string text(AEffect* e, VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0) {
    char buffer[256] = {};
    dispatch(e, opcode, index, value, buffer);
    return buffer;
}

ERect rectOf(AEffect* e, VstIntPtr& answer) {
    ERect* rect = nullptr;
    answer = dispatch(e, effEditGetRect, 0, 0, &rect);
    return rect ? *rect : ERect{-1, -1, -1, -1};
}

void expectRect(AEffect* e, int bottom, int right, const char* when) {
    VstIntPtr answer = 0;
    const ERect r = rectOf(e, answer);
    expectEq(answer, 1, std::string("effEditGetRect answer ") + when);
    expect(r.top == 0 && r.left == 0 && r.bottom == bottom && r.right == right,
           std::string("editor rectangle ") + when + ": got " + std::to_string(r.top) + "," +
               std::to_string(r.left) + "," + std::to_string(r.bottom) + "," +
               std::to_string(r.right));
}

// The host's side of the audio: the transport it reports and the buffers it hands over.
class Audio {
  public:
    explicit Audio(ScriptedHost& host)
        : host(host), left(kBlock), right(kBlock), outL(kBlock), outR(kBlock) {
        time.sampleRate = kRate;
        time.tempo = 120.0;
        time.timeSigNumerator = 4;
        time.timeSigDenominator = 4;
        time.flags = kVstTempoValid | kVstTransportPlaying;
        host.timeInfo = &time;
    }

    // One block of noise bursts through processReplacing; answers the output's peak.
    float process(AEffect* e) {
        for (int i = 0; i < kBlock; ++i) {
            const bool burst = (frames + uint64_t(i)) % 22050 < 4410;
            left[size_t(i)] = burst ? noise() * 0.9f : 0.0f;
            right[size_t(i)] = burst ? noise() * 0.9f : 0.0f;
        }
        float* in[2] = {left.data(), right.data()};
        float* out[2] = {outL.data(), outR.data()};
        const size_t asked = host.requests.size();
        e->processReplacing(e, in, out, kBlock);
        size_t timeRequests = 0;
        for (size_t i = asked; i < host.requests.size(); ++i)
            if (host.requests[i].opcode == audioMasterGetTime) ++timeRequests;
        expectEq(timeRequests, size_t{1}, "time requests in block " + std::to_string(blocks));

        float peak = 0.0f;
        bool bounded = true;
        for (const auto* channel : {&outL, &outR})
            for (float x : *channel) {
                if (!std::isfinite(x) || std::fabs(x) > 1.0f)
                    bounded = false;
                else
                    peak = std::max(peak, std::fabs(x));
            }
        expect(bounded, "output of block " + std::to_string(blocks) + " is finite and within 1.0");
        frames += kBlock;
        time.samplePos = double(frames);
        ++blocks;
        return peak;
    }

    VstTimeInfo time{};

  private:
    float noise() {
        seed = seed * 1664525u + 1013904223u;
        return float(int32_t(seed)) / 2147483648.0f;
    }

    ScriptedHost& host;
    std::vector<float> left, right, outL, outR;
    uint32_t seed = 12345u;
    uint64_t frames = 0;
    int blocks = 0;
};

void checkIdentity(AEffect* e) {
    expectEq(e->magic, fourCC("VstP"), "record magic");
    expectEq(e->uniqueID, fourCC("Qlnt"), "unique ID");
    expectEq(e->numParams, kParams, "numParams");
    expectEq(e->numPrograms, kPrograms, "numPrograms");
    expectEq(e->numInputs, 2, "numInputs");
    expectEq(e->numOutputs, 2, "numOutputs");
    expect((e->flags & effFlagsHasEditor) && (e->flags & effFlagsCanReplacing),
           "flags announce an editor and replacing processing");
    expect(e->processReplacing && e->setParameter && e->getParameter, "entry functions set");
    expectEq(dispatch(e, effGetVstVersion), 2300, "effGetVstVersion");
    char capability[] = "receiveVstTimeInfo";
    expectEq(dispatch(e, effCanDo, 0, 0, capability), 1, "canDo receiveVstTimeInfo");
    expectEq(text(e, effGetEffectName), "Quillantrope", "effect name");
}

void walkPrograms(AEffect* e, Audio& audio) {
    for (int p = 0; p < kPrograms; ++p) {
        dispatch(e, effSetProgram, 0, p);
        expectEq(dispatch(e, effGetProgram), p, "current program after effSetProgram");
        const std::string name = text(e, effGetProgramName);
        expect(!name.empty(), "program " + std::to_string(p) + " has a name");
        expectEq(text(e, effGetProgramNameIndexed, p), name,
                 "indexed name of program " + std::to_string(p));
        audio.process(e);
    }
    expectEq(text(e, effGetProgramNameIndexed, 36), "Init", "name of program 36");
    expectEq(text(e, effGetProgramNameIndexed, 39), "Init", "name of program 39");
    dispatch(e, effSetProgram, 0, kPrograms); // ignored
    expectEq(dispatch(e, effGetProgram), kPrograms - 1, "program after effSetProgram 40");
}

void walkParameters(AEffect* e, Audio& audio) {
    for (int i = 0; i < kParams; ++i) {
        const std::string at = " of parameter " + std::to_string(i);
        // Only the first parameter has a name for hosts.
        expectEq(text(e, effGetParamName, i), i == 0 ? "Gain" : "", "name" + at);
        expectEq(text(e, effGetParamLabel, i), "%", "label" + at);
        const float v = float(i % 7) / 6.0f;
        e->setParameter(e, i, v);
        expectEq(e->getParameter(e, i), v, "value" + at);
        expect(!text(e, effGetParamDisplay, i).empty(), "display text" + at);
        e->setParameter(e, i, 1.5f);
        expectEq(e->getParameter(e, i), 1.0f, "value 1.5 clamped" + at);
        e->setParameter(e, i, -0.5f);
        expectEq(e->getParameter(e, i), 0.0f, "value -0.5 clamped" + at);
        e->setParameter(e, i, v);
        if (i % 10 == 9) audio.process(e);
    }
    expectEq(e->getParameter(e, kParams), 0.0f, "value of parameter 80");
    expectEq(text(e, effGetParamName, kParams), "undefined", "name of parameter 80");
}

// The editor's idle calls while the host processes and automates, as a running session has them.
void runEditor(AEffect* e, Audio& audio, int rounds, int& automated) {
    for (int round = 0; round < rounds; ++round) {
        audio.process(e);
        for (int k = 0; k < 8; ++k, ++automated)
            e->setParameter(e, automated % kParams, float(automated % 11) / 10.0f);
        if (round % 10 == 5) dispatch(e, effSetProgram, 0, (round * 7) % kPrograms);
        dispatch(e, effEditIdle);
    }
}

void editorSessions(AEffect* e, Audio& audio) {
    int hostWindow = 0; // what the host hands over as the parent; the headless editor opens anyway
    int automated = 0;
    expectRect(e, 0, 0, "before the first open");
    expectEq(dispatch(e, effEditOpen, 0, 0, &hostWindow), 1, "first effEditOpen");
    expectRect(e, 369, 600, "while open");
    runEditor(e, audio, 30, automated);
    dispatch(e, effEditClose);
    expectRect(e, 369, 600, "after close");
    runEditor(e, audio, 3, automated); // idle calls reach a closed editor

    expectEq(dispatch(e, effEditOpen, 0, 0, &hostWindow), 1, "second effEditOpen");
    runEditor(e, audio, 10, automated);
    // A second open of an open editor only counts; the window goes with the matching close.
    expectEq(dispatch(e, effEditOpen, 0, 0, &hostWindow), 1, "nested effEditOpen");
    dispatch(e, effEditClose);
    runEditor(e, audio, 5, automated);
    dispatch(e, effEditClose);
    dispatch(e, effEditClose); // one too many: absorbed
    dispatch(e, effEditIdle);
}

// Two instances with their editors open at once, the second closed by effClose while open.
void twoInstances(PluginLibrary& library, Audio& audio) {
    AEffect* a = library.vstPluginMain(ScriptedHost::callback);
    AEffect* b = library.main(ScriptedHost::callback);
    expect(a && b && a != b, "two instances from the two entry names");
    if (!a || !b) return;
    int windowA = 0, windowB = 0;
    expectEq(dispatch(a, effEditOpen, 0, 0, &windowA), 1, "effEditOpen of instance A");
    expectEq(dispatch(b, effEditOpen, 0, 0, &windowB), 1, "effEditOpen of instance B");
    dispatch(a, effMainsChanged, 0, 1);
    for (int i = 0; i < 5; ++i) {
        audio.process(a);
        dispatch(a, effEditIdle);
        dispatch(b, effEditIdle);
    }
    dispatch(a, effEditClose);
    dispatch(a, effMainsChanged, 0, 0);
    expectEq(dispatch(a, effClose), 1, "effClose of instance A");
    expectEq(dispatch(b, effClose), 1, "effClose of instance B with its editor open");
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PLUGIN\n", argv[0]);
        return 2;
    }
    const char* path = argv[1];
    {
        PluginLibrary library(path);
        if (!library.main || !library.vstPluginMain) {
            std::fprintf(stderr, "host scenario: cannot use %s: %s\n", path, library.error.c_str());
            return 1;
        }
        ScriptedHost host;
        Audio audio(host);
        AEffect* e = library.main(ScriptedHost::callback);
        expect(e != nullptr, "main answers an effect");
        if (e) {
            checkIdentity(e);
            expectEq(dispatch(e, effOpen), 0, "effOpen");
            dispatch(e, effSetSampleRate, 0, 0, nullptr, float(kRate));
            dispatch(e, effSetBlockSize, 0, kBlock);
            dispatch(e, effMainsChanged, 0, 1);
            float peak = 0.0f;
            // 1.5 s: the first program's echoes of the first burst arrive within it.
            for (int i = 0; i < 130; ++i)
                peak = std::max(peak, audio.process(e));
            expect(peak > 0.01f, "the first program answers the input");
            walkPrograms(e, audio);
            walkParameters(e, audio);
            editorSessions(e, audio);
            dispatch(e, effMainsChanged, 0, 0);
            expectEq(dispatch(e, effClose), 1, "effClose");
        }
        twoInstances(library, audio);
        expect(library.close(), "the library unloads");
    }
    expect(!PluginLibrary::isLoaded(path), "nothing keeps the library in the process");
    std::printf("host scenario: %d passed, %d failed\n", gChecks - gFailed, gFailed);
    return gFailed == 0 ? 0 : 1;
}

// A scriptable host for tests: loads the built plug-in through its exported entry, like a real
// host, and records every request the plug-in sends.
#pragma once

#include "shell/vst2abi.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qltest {

struct HostRequest {
    AEffect* effect;
    VstInt32 opcode;
    VstInt32 index;
    VstIntPtr value;
    void* ptr;
    float opt;
};

// What the host answers. One host is active at a time (the callback is a plain function).
struct ScriptedHost {
    VstIntPtr versionAnswer = 2400;
    VstTimeInfo* timeInfo = nullptr; // answer to audioMasterGetTime
    VstIntPtr tempoAtAnswer = 0;
    std::string vendor = "Test Host Maker";
    std::string product = "Test Host";
    std::vector<HostRequest> requests;

    ScriptedHost();
    ~ScriptedHost();
    ScriptedHost(const ScriptedHost&) = delete;
    ScriptedHost& operator=(const ScriptedHost&) = delete;

    static VstIntPtr QL_VSTCALL callback(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                         VstIntPtr value, void* ptr, float opt);
    std::vector<VstInt32> opcodes() const;
};

using PluginEntry = AEffect*(QL_VSTCALL*)(audioMasterCallback);

// The built plug-in, loaded once for the test program.
struct PluginLibrary {
    PluginEntry main = nullptr;
    PluginEntry vstPluginMain = nullptr;
    std::string error;
    static PluginLibrary& get();
};

// Calls the record's dispatcher.
inline VstIntPtr dispatch(AEffect* e, VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                          void* ptr = nullptr, float opt = 0.0f) {
    return e->dispatcher(e, opcode, index, value, ptr, opt);
}

} // namespace qltest

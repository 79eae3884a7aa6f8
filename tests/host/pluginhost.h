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
    // Off, requests are answered but not kept: for long runs, and for hosts whose threads call
    // at once (the answers only read the fields above, which must then stay put).
    bool record = true;
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

// A plug-in library and its two entry names, loaded as a host loads it. It stays loaded until
// close(); error says why main or vstPluginMain is null.
struct PluginLibrary {
    PluginEntry main = nullptr;
    PluginEntry vstPluginMain = nullptr;
    std::string error;

    explicit PluginLibrary(const char* path);
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;
    // Unloads the library, as a host does when it is done with it; false when the system refuses.
    bool close();

    // Whether the library at path is still in the process (nothing loads it to find out).
    static bool isLoaded(const char* path);

    // The built plug-in ($QL_PLUGIN, else the path compiled in), loaded once for the test program
    // and never unloaded, so leaks reported at exit still name its functions.
    static PluginLibrary& get();

  private:
    void* handle = nullptr;
};

// Calls the record's dispatcher.
inline VstIntPtr dispatch(AEffect* e, VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                          void* ptr = nullptr, float opt = 0.0f) {
    return e->dispatcher(e, opcode, index, value, ptr, opt);
}

} // namespace qltest

#include "pluginhost.h"

#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace qltest {

namespace {
ScriptedHost* gActive = nullptr;
}

ScriptedHost::ScriptedHost() {
    gActive = this;
}
ScriptedHost::~ScriptedHost() {
    if (gActive == this) gActive = nullptr;
}

VstIntPtr QL_VSTCALL ScriptedHost::callback(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                            VstIntPtr value, void* ptr, float opt) {
    ScriptedHost* host = gActive;
    if (!host) return 0;
    if (host->record) host->requests.push_back({effect, opcode, index, value, ptr, opt});
    switch (opcode) {
    case audioMasterVersion:
        return host->versionAnswer;
    case audioMasterGetTime:
        return reinterpret_cast<VstIntPtr>(host->timeInfo);
    case audioMasterTempoAt:
        return host->tempoAtAnswer;
    case audioMasterGetVendorString:
        std::strncpy(static_cast<char*>(ptr), host->vendor.c_str(), kVstMaxVendorStrLen - 1);
        return 1;
    case audioMasterGetProductString:
        std::strncpy(static_cast<char*>(ptr), host->product.c_str(), kVstMaxProductStrLen - 1);
        return 1;
    default:
        return 0;
    }
}

std::vector<VstInt32> ScriptedHost::opcodes() const {
    std::vector<VstInt32> result;
    for (const auto& r : requests)
        result.push_back(r.opcode);
    return result;
}

PluginLibrary::PluginLibrary(const char* path) {
    if (!path || !*path) {
        error = "no plug-in path";
        return;
    }
#if defined(_WIN32)
    HMODULE module = LoadLibraryA(path);
    if (!module) {
        error = std::string("cannot load ") + path;
        return;
    }
    handle = reinterpret_cast<void*>(module);
    // Through void*: FARPROC is a function type of its own.
    main = reinterpret_cast<PluginEntry>(reinterpret_cast<void*>(GetProcAddress(module, "main")));
    vstPluginMain = reinterpret_cast<PluginEntry>(
        reinterpret_cast<void*>(GetProcAddress(module, "VSTPluginMain")));
#else
    handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        error = dlerror();
        return;
    }
    main = reinterpret_cast<PluginEntry>(dlsym(handle, "main"));
    vstPluginMain = reinterpret_cast<PluginEntry>(dlsym(handle, "VSTPluginMain"));
#endif
    if (!main && !vstPluginMain) error = std::string(path) + " exports no VST 2 entry";
}

bool PluginLibrary::close() {
    if (!handle) return false;
    main = vstPluginMain = nullptr;
#if defined(_WIN32)
    const bool closed = FreeLibrary(reinterpret_cast<HMODULE>(handle)) != 0;
#else
    const bool closed = dlclose(handle) == 0;
#endif
    handle = nullptr;
    return closed;
}

bool PluginLibrary::isLoaded(const char* path) {
#if defined(_WIN32)
    return GetModuleHandleA(path) != nullptr;
#else
    void* h = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (h) dlclose(h);
    return h != nullptr;
#endif
}

PluginLibrary& PluginLibrary::get() {
    static PluginLibrary library([] {
        const char* path = std::getenv("QL_PLUGIN");
#ifdef QL_PLUGIN_PATH
        if (!path || !*path) path = QL_PLUGIN_PATH;
#endif
        return path;
    }());
    return library;
}

} // namespace qltest

// The library's exported entry and its load-time set-up.
#include "shell/pluginfactory.h"
#include "sys/fpenv.h"
#include "sys/userlocale.h"
#include "valuemodel/numtext.h"

#include <atomic>

#if defined(_WIN32)
#define QL_EXPORT
#else
#define QL_EXPORT __attribute__((visibility("default")))
#endif

namespace {

AEffect* createEffect(audioMasterCallback audioMaster) {
    // A missing callback, or a host answering 0, is not a VST host: make nothing.
    if (!audioMaster) return nullptr;
    try {
        if (audioMaster(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) return nullptr;
        // The user's decimal separator is read once, before the first effect exists.
        static std::atomic<bool> separatorRead{false};
        if (!separatorRead.exchange(true)) ql::setDecimalSeparator(ql::sys::userDecimalSeparator());
        AudioEffect* effect = createEffectInstance(audioMaster);
        return effect ? effect->getAeffect() : nullptr;
    } catch (...) {
        return nullptr;
    }
}

} // namespace

// Hosts look for `main` (the original name) or `VSTPluginMain`. A C++ function cannot be named
// main, so the symbol is given by an assembler label on ELF and by the .def file on Windows.
#if defined(_WIN32)
extern "C" AEffect* QL_VSTCALL vstPluginMainEntry(audioMasterCallback audioMaster) {
    return createEffect(audioMaster);
}
extern "C" AEffect* QL_VSTCALL VSTPluginMain(audioMasterCallback audioMaster) {
    return createEffect(audioMaster);
}
#else
extern "C" QL_EXPORT AEffect* vstPluginMainEntry(audioMasterCallback audioMaster) __asm__("main");
extern "C" QL_EXPORT AEffect* vstPluginMainEntry(audioMasterCallback audioMaster) {
    return createEffect(audioMaster);
}
extern "C" QL_EXPORT AEffect* VSTPluginMain(audioMasterCallback audioMaster) {
    return createEffect(audioMaster);
}
#endif

// Library load: mask every floating-point exception, and nothing else.
// (On Windows the same call is made from DllMain, in sys/dllmain_win32.cpp.)
#if !defined(_WIN32)
__attribute__((constructor)) static void qlLibraryLoad() { ql::sys::maskFloatingPointExceptions(); }
#endif

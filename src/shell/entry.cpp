// The VST 2 plug-in's exported entry points.
#include "shell/pluginfactory.h"

#if defined(_WIN32)
#define QL_EXPORT
#else
#define QL_EXPORT __attribute__((visibility("default")))
#endif

namespace {
AEffect* createEffect(audioMasterCallback audioMaster) {
    return ql::createVstEffect(audioMaster);
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

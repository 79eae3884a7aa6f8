// Library load, in every plug-in module of every format: mask every floating-point exception,
// and nothing else. (On Windows the same call is made from DllMain, in sys/dllmain_win32.cpp.)
#include "sys/fpenv.h"

#if !defined(_WIN32)
__attribute__((constructor)) static void qlLibraryLoad() {
    ql::sys::maskFloatingPointExceptions();
}
#endif

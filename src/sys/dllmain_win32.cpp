// Library load on Windows: mask every floating-point exception, and nothing else.
#include "sys/fpenv.h"

#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) ql::sys::maskFloatingPointExceptions();
    return TRUE;
}

// The Win32 backend of the platform interface. Windows are children of an HWND (the host's) of a
// window class registered under a name unique to this module, so two copies of the plug-in loaded
// side by side never share a window procedure. Input and paints arrive through the thread's
// message dispatch (the host's loop, or PumpEvents, which drains our own windows' messages);
// timers are SetTimer timers on a message-only window of the platform. The class is unregistered
// when the last platform goes, so nothing of ours is left registered once the module may unload.
//
// Native handles are HWNDs. The platform must outlive its windows; both belong to the one thread
// that creates the windows and pumps.
#pragma once

#include "framework/platform/platform.h"

#include <memory>

// A platform for the calling thread, or null when the window class cannot be registered.
std::unique_ptr<IPlatform> NewWin32Platform();

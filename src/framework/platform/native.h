// The window system an editor opened by a host lives in: X11 on Linux. The backend linked into the
// plug-in defines it; tests use the headless platform instead and never link this.
#pragma once

#include "framework/platform/platform.h"

#include <memory>

// A new platform with its own connection to the window system, or null when none can be reached
// (no X display), so that opening an editor fails instead of the host.
//
// An editor drives it like this: on open, make one platform per open editor and create the form
// with the host's handle as parent window and that platform (a refused window throws
// EOutOfResources: answer 0); on every idle call, PumpEvents (input, timer ticks, paints and what
// other threads invalidated all happen there); on close, destroy the form, then the platform.
std::unique_ptr<IPlatform> NewNativePlatform();

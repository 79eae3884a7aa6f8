// The window system an editor opened by a host lives in: X11 on Linux. The backend linked into the
// plug-in defines it; tests use the headless platform instead and never link this.
#pragma once

#include "framework/platform/platform.h"

#include <memory>

// A new platform with its own connection to the window system, or null when none can be reached
// (no X display), so that opening an editor fails instead of the host.
std::unique_ptr<IPlatform> NewNativePlatform();

// The X11 backend of the platform interface. Each platform object owns its own display connection,
// so editors of several plug-in instances never share Xlib state; windows are children of an X
// window id (the host's); input, paints and timer ticks are delivered only from PumpEvents; pixels
// reach the server through MIT-SHM when it can read our memory, plain XPutImage otherwise. X
// protocol errors on our connection are absorbed (a failed open answers null), never handed to
// Xlib's default handler, which would end the host.
//
// Native handles are X window ids. The platform must outlive its windows; both belong to the one
// thread that creates the windows and pumps.
#pragma once

#include "framework/platform/platform.h"

#include <cstdint>
#include <memory>

struct TX11Options {
    // Blit through MIT-SHM when the server offers it and an attach works.
    bool SharedMemory = true;
};

// A platform on the display named (null: $DISPLAY), or null when that display cannot be reached.
// Nothing connects before this is called.
std::unique_ptr<IPlatform> NewX11Platform(const char* displayName = nullptr,
                                          TX11Options options = {});

inline TNativeHandle X11Handle(unsigned long window) {
    return reinterpret_cast<TNativeHandle>(uintptr_t(window));
}
inline unsigned long X11WindowId(TNativeHandle handle) {
    return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(handle));
}

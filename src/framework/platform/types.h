// Plain value types shared by the window framework and its platform backends: geometry, a view
// onto 32-bit pixels, mouse buttons, shift states, key codes and cursor shapes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

struct TPoint {
    int32_t X = 0, Y = 0;
    friend bool operator==(const TPoint&, const TPoint&) = default;
};

struct TSize {
    int32_t Width = 0, Height = 0;
    friend bool operator==(const TSize&, const TSize&) = default;
};

// Right and Bottom are exclusive, so Width() = Right - Left.
struct TRect {
    int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;

    int32_t Width() const { return Right - Left; }
    int32_t Height() const { return Bottom - Top; }
    bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
    bool Contains(TPoint p) const {
        return p.X >= Left && p.X < Right && p.Y >= Top && p.Y < Bottom;
    }
    bool Intersects(const TRect& o) const {
        return !IsEmpty() && !o.IsEmpty() && o.Left < Right && Left < o.Right && o.Top < Bottom &&
               Top < o.Bottom;
    }
    TRect Offset(int32_t dx, int32_t dy) const {
        return {Left + dx, Top + dy, Right + dx, Bottom + dy};
    }
    friend bool operator==(const TRect&, const TRect&) = default;
};

inline TRect Bounds(int32_t left, int32_t top, int32_t width, int32_t height) {
    return {left, top, left + width, top + height};
}

// The common part; an empty result is returned as the all-zero rectangle.
inline TRect IntersectRect(const TRect& a, const TRect& b) {
    TRect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
            std::min(a.Bottom, b.Bottom)};
    return r.IsEmpty() ? TRect{} : r;
}

// The smallest rectangle holding both; an empty operand adds nothing.
inline TRect UnionRect(const TRect& a, const TRect& b) {
    if (a.IsEmpty()) return b.IsEmpty() ? TRect{} : b;
    if (b.IsEmpty()) return a;
    return {std::min(a.Left, b.Left), std::min(a.Top, b.Top), std::max(a.Right, b.Right),
            std::max(a.Bottom, b.Bottom)};
}

// A view onto 32-bit pixels with the bytes blue, green, red, alpha (so 0xAARRGGBB as a
// little-endian word). Bits points at the top row; Stride is the distance in pixels from one row
// to the row below it, negative for images stored bottom-up. The view never owns the pixels.
struct TPixelView {
    uint32_t* Bits = nullptr;
    int32_t Width = 0, Height = 0;
    ptrdiff_t Stride = 0;

    bool IsEmpty() const { return Bits == nullptr || Width <= 0 || Height <= 0; }
    TRect Rect() const { return {0, 0, Width, Height}; }
    uint32_t* Row(int32_t y) const { return Bits + ptrdiff_t(y) * Stride; }
};

enum TMouseButton : uint8_t { mbLeft, mbRight, mbMiddle };

// Modifier keys and the mouse buttons held, as a bit set.
using TShiftState = uint16_t;
constexpr TShiftState ssShift = 1 << 0;
constexpr TShiftState ssAlt = 1 << 1;
constexpr TShiftState ssCtrl = 1 << 2;
constexpr TShiftState ssLeft = 1 << 3;
constexpr TShiftState ssRight = 1 << 4;
constexpr TShiftState ssMiddle = 1 << 5;
constexpr TShiftState ssDouble = 1 << 6;

inline TShiftState ShiftForButton(TMouseButton b) {
    return b == mbLeft ? ssLeft : b == mbRight ? ssRight : ssMiddle;
}

// Key codes: the virtual-key numbers of the Win32 API, which backends map their keys onto.
constexpr uint16_t vkCancel = 0x03, vkBack = 0x08, vkTab = 0x09, vkReturn = 0x0D, vkShift = 0x10,
                   vkControl = 0x11, vkMenu = 0x12, vkEscape = 0x1B, vkSpace = 0x20, vkPrior = 0x21,
                   vkNext = 0x22, vkEnd = 0x23, vkHome = 0x24, vkLeft = 0x25, vkUp = 0x26,
                   vkRight = 0x27, vkDown = 0x28, vkExecute = 0x2B, vkInsert = 0x2D,
                   vkDelete = 0x2E, vkF1 = 0x70;

// Mouse cursor shapes, numbered as stored forms name them. crDefault means "as the parent".
using TCursor = int16_t;
constexpr TCursor crDefault = 0, crNone = -1, crArrow = -2, crCross = -3, crIBeam = -4,
                  crSizeNESW = -6, crSizeNS = -7, crSizeNWSE = -8, crSizeWE = -9, crUpArrow = -10,
                  crHourGlass = -11, crNo = -12, crHandPoint = -21, crSizeAll = -22;

// The editor's artwork, drawn at build time by tools/skingen and linked in from ql_skindata.
//
// The 13 image-list pictures are found by their display names ("slider hori", "knob_tiny_2", ...)
// and hold `DIB.Data` blocks (plain form: width, height, bottom-up B, G, R, A pixels), ready for
// TMemoryDIB::LoadFromStream. The two stored bitmaps are found as "bg" (the 600 x 371 front panel)
// and "BackSideImage" (436 x 106) and hold 24-bit Windows bitmap files, ready for
// TBitmap::LoadFromBMP.
#pragma once

#include <cstddef>
#include <span>

struct SkinBlob {
    const char* name;
    const unsigned char* data;
    size_t size;
};

// nullptr for a name that is not stored.
const SkinBlob* findSkinBlob(const char* name);
// Every stored blob: the 13 pictures in image-list order, then "bg" and "BackSideImage".
std::span<const SkinBlob> skinBlobs();

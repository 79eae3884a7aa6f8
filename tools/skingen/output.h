// What skingen writes: the generated source, the composed preview and the review pictures.
#pragma once

#include "artwork.h"

#include <cstdint>
#include <string>
#include <vector>

namespace skin {

struct Artwork {
    std::vector<Picture> images; // image-list order
    Picture panel, back;
};

Artwork drawArtwork(const Fonts& fonts);

// The stored forms: a DIB.Data block written by the pixel-image library, and a 24-bit bottom-up
// Windows bitmap file.
std::vector<uint8_t> dibBlock(const Picture& p);
std::vector<uint8_t> bmp24(const Picture& p);

void writeSource(const Artwork& art, const std::string& path);
// A part of the preview, enlarged, for close review; w <= 0 means the whole form at 1:1.
struct PreviewView {
    int x = 0, y = 0, w = 0, h = 0, zoom = 1;
};
void writePreview(const Artwork& art, const std::string& path, const PreviewView& view = {});
void writeDump(const Artwork& art, const std::string& dir);

} // namespace skin

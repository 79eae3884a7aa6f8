// The editor's artwork: the image-list pictures, the front panel and the back-side picture.
#pragma once

#include "layout.h"
#include "raster.h"

#include <cstdint>
#include <string>
#include <vector>

namespace skin {

// A finished picture, top row first, pixels 0xAARRGGBB (bytes B, G, R, A in memory).
struct Picture {
    int w = 0, h = 0;
    std::vector<uint32_t> px;
    uint32_t& at(int x, int y) { return px[size_t(y) * size_t(w) + size_t(x)]; }
    uint32_t at(int x, int y) const { return px[size_t(y) * size_t(w) + size_t(x)]; }
};

struct Fonts {
    explicit Fonts(const std::string& dir);
    Face sans, sansBold, condensed, condensedBold;
};

// One palette for everything, so controls and panel agree.
namespace palette {
inline constexpr Rgb panel = rgb(184, 187, 192);      // brushed aluminium, mean tone
inline constexpr Rgb panelLight = rgb(232, 234, 237); // lit edge of an engraving
inline constexpr Rgb panelShade = rgb(116, 120, 127); // shaded edge of an engraving
inline constexpr Rgb field = rgb(206, 209, 213);      // readout fields under value texts
inline constexpr Rgb ink = rgb(40, 44, 51);           // titles
inline constexpr Rgb inkSoft = rgb(72, 77, 86);       // captions and units
inline constexpr Rgb display = rgb(22, 24, 28);       // dark windows (status, tempo)
inline constexpr Rgb amber = rgb(255, 168, 52);       // values and modes
inline constexpr Rgb green = rgb(118, 236, 104);      // switched on
inline constexpr Rgb capTop = rgb(110, 115, 123);     // controls' dark plastic
inline constexpr Rgb capBottom = rgb(64, 67, 74);
inline constexpr Rgb well = rgb(33, 35, 39);
} // namespace palette

Picture drawImage(int index, const Fonts& fonts);
Picture drawPanel(const Fonts& fonts);
Picture drawBackSide(const Fonts& fonts);

// Opaque pixels of a layer over a backdrop colour.
Picture flatten(const Layer& layer, Rgb backdrop);
uint32_t toPixel(Rgb c);

} // namespace skin

// Picture files for LoadFromFile and ImportMask: JPEG through libjpeg and uncompressed 24- and
// 32-bit BMP through a small reader of our own. The format is recognised by content, not by name.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct TDIBPicture {
    int Width = 0;
    int Height = 0;
    int BitsPerPixel = 0; // as stored in the file: 24 or 32 (JPEG counts as 24)
    // Bottom-up rows of B, G, R, A bytes; A is 255 unless the file had 32 bits per pixel.
    std::vector<uint8_t> Pixels;
};

// Both throw EDIBError with a message naming the file and the reason.
TDIBPicture ReadDIBPicture(const std::string& path);
TDIBPicture DecodeDIBPicture(std::span<const uint8_t> bytes, const std::string& name);

TDIBPicture DecodeBMP(std::span<const uint8_t> bytes, const std::string& name);
TDIBPicture DecodeJPEG(std::span<const uint8_t> bytes, const std::string& name);

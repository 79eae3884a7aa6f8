// Small helpers shared by the pixel-image tests.
#pragma once

#include "dibcontrols/cDIB.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

// Pixel value from its bytes (B, G, R, A in memory).
constexpr uint32_t px(uint8_t b, uint8_t g, uint8_t r, uint8_t a = 0) {
    return uint32_t(b) | uint32_t(g) << 8 | uint32_t(r) << 16 | uint32_t(a) << 24;
}

inline void fillPixels(TAbstractSuperDIB& image, uint32_t value) {
    for (int y = 0; y < image.Height(); ++y)
        for (int x = 0; x < image.Width(); ++x)
            image.ScanLine(y)[x] = value;
}

// Every pixel distinct: the value encodes its picture coordinates.
inline uint32_t coordPixel(int x, int y) {
    return px(uint8_t(x), uint8_t(y), 0x77, 0xFF);
}

inline void fillCoords(TAbstractSuperDIB& image) {
    for (int y = 0; y < image.Height(); ++y)
        for (int x = 0; x < image.Width(); ++x)
            image.ScanLine(y)[x] = coordPixel(x, y);
}

// A temporary file removed when the helper goes out of scope.
struct TempFile {
    std::filesystem::path path;
    explicit TempFile(const std::string& name, const std::vector<uint8_t>& bytes)
        : path(std::filesystem::temp_directory_path() /
               ("ql_dib_" + std::to_string(reinterpret_cast<uintptr_t>(this)) + "_" + name)) {
        if (FILE* f = std::fopen(path.string().c_str(), "wb")) {
            if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
    }
    ~TempFile() {
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }
    std::string str() const { return path.string(); }
};

// An uncompressed BMP from picture rows listed top to bottom (each pixel as B, G, R, A).
inline std::vector<uint8_t> makeBmp(int width, int height, int bpp, bool topDown,
                                    const std::vector<uint32_t>& topToBottom) {
    const int stride = (width * bpp + 31) / 32 * 4;
    std::vector<uint8_t> out(54 + size_t(stride) * size_t(height), 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out[at + size_t(i)] = uint8_t(v >> (8 * i));
    };
    out[0] = 'B';
    out[1] = 'M';
    put32(2, uint32_t(out.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, uint32_t(width));
    put32(22, uint32_t(topDown ? -height : height));
    out[26] = 1;
    out[28] = uint8_t(bpp);
    for (int y = 0; y < height; ++y) {
        const int fileRow = topDown ? y : height - 1 - y;
        uint8_t* row = out.data() + 54 + size_t(fileRow) * size_t(stride);
        for (int x = 0; x < width; ++x) {
            const uint32_t p = topToBottom[size_t(y) * size_t(width) + size_t(x)];
            for (int i = 0; i < bpp / 8; ++i)
                row[x * (bpp / 8) + i] = uint8_t(p >> (8 * i));
        }
    }
    return out;
}

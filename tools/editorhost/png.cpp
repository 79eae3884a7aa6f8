// PNG output through stb_image_write (Debian libstb-dev).
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <cstdint>
#include <string>
#include <vector>

bool WritePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb) {
    return stbi_write_png(path.c_str(), width, height, 3, rgb.data(), width * 3) != 0;
}

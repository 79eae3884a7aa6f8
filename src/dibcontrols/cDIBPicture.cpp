#include "dibcontrols/cDIBPicture.h"

#include "dibcontrols/cDIB.h"

#include <cstring>
#include <fstream>
#include <iterator>

#ifdef QL_HAVE_LIBJPEG
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <memory>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>
#endif

namespace {

// Same ceiling as the image itself: a picture we could not hold is refused before decoding.
constexpr uint64_t kMaxPicturePixels = uint64_t(1) << 26;

[[noreturn]] void fail(const std::string& name, const std::string& reason) {
    throw EDIBError("Cannot load picture \"" + name + "\": " + reason);
}

uint32_t u32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t u16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}

void checkSize(int64_t width, int64_t height, const std::string& name) {
    if (width < 1 || height < 1 || width > 65535 || height > 65535 ||
        uint64_t(width) * uint64_t(height) > kMaxPicturePixels)
        fail(name, "unsupported picture size " + std::to_string(width) + " x " +
                       std::to_string(height) + ".");
}

} // namespace

TDIBPicture ReadDIBPicture(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail(path, "the file cannot be opened.");
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    if (in.bad()) fail(path, "the file cannot be read.");
    return DecodeDIBPicture(bytes, path);
}

TDIBPicture DecodeDIBPicture(std::span<const uint8_t> bytes, const std::string& name) {
    if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M') return DecodeBMP(bytes, name);
    if (bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF)
        return DecodeJPEG(bytes, name);
    fail(name, "not a JPEG or BMP picture.");
}

TDIBPicture DecodeBMP(std::span<const uint8_t> bytes, const std::string& name) {
    constexpr size_t kFileHeader = 14;
    if (bytes.size() < kFileHeader + 40) fail(name, "the BMP file is truncated.");
    const uint8_t* info = bytes.data() + kFileHeader;
    const uint32_t infoSize = u32(info);
    if (infoSize < 40 || infoSize > bytes.size() - kFileHeader)
        fail(name, "unsupported BMP header.");
    const int64_t width = int32_t(u32(info + 4));
    const int64_t rawHeight = int32_t(u32(info + 8));
    const bool topDown = rawHeight < 0;
    const int64_t height = topDown ? -rawHeight : rawHeight;
    const unsigned planes = u16(info + 12);
    const unsigned bpp = u16(info + 14);
    const uint32_t compression = u32(info + 16);
    if (planes != 1 || (bpp != 24 && bpp != 32))
        fail(name, "only 24- and 32-bit BMP pictures are supported.");
    if (compression == 3 && bpp == 32) {
        // Bit fields are accepted only in the plain B, G, R byte order.
        const size_t masksAt = kFileHeader + (infoSize >= 52 ? 40 : infoSize);
        if (bytes.size() < masksAt + 12 || u32(bytes.data() + masksAt) != 0x00FF0000u ||
            u32(bytes.data() + masksAt + 4) != 0x0000FF00u ||
            u32(bytes.data() + masksAt + 8) != 0x000000FFu)
            fail(name, "unsupported BMP colour masks.");
    } else if (compression != 0) {
        fail(name, "compressed BMP pictures are not supported.");
    }
    checkSize(width, height, name);
    const uint64_t stride = (uint64_t(width) * bpp + 31) / 32 * 4;
    const uint64_t offset = u32(bytes.data() + 10);
    if (offset > bytes.size() || stride * uint64_t(height) > bytes.size() - offset)
        fail(name, "the BMP pixel data is truncated.");

    TDIBPicture picture;
    picture.Width = int(width);
    picture.Height = int(height);
    picture.BitsPerPixel = int(bpp);
    picture.Pixels.resize(size_t(width) * size_t(height) * 4);
    const size_t step = bpp / 8;
    for (int64_t row = 0; row < height; ++row) {
        // Output rows are bottom-up like the file's usual order.
        const int64_t fileRow = topDown ? height - 1 - row : row;
        const uint8_t* src = bytes.data() + offset + uint64_t(fileRow) * stride;
        uint8_t* dst = picture.Pixels.data() + size_t(row) * size_t(width) * 4;
        for (int64_t x = 0; x < width; ++x, src += step, dst += 4) {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
            dst[3] = bpp == 32 ? src[3] : 255;
        }
    }
    return picture;
}

#ifdef QL_HAVE_LIBJPEG

namespace {

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void jpegErrorExit(j_common_ptr info) {
    auto* error = reinterpret_cast<JpegError*>(info->err);
    (*info->err->format_message)(info, error->message);
    std::longjmp(error->jump, 1);
}

void jpegQuiet(j_common_ptr, int) {}

// Everything the decoder touches lives in the caller's frame, so nothing local to the function
// that calls setjmp changes between setjmp and longjmp, and no C++ destructor is skipped.
struct JpegJob {
    jpeg_decompress_struct info;
    JpegError error;
    JSAMPLE* row = nullptr;
    std::vector<uint8_t>* pixels = nullptr;
    int width = 0;
    int height = 0;
    char message[JMSG_LENGTH_MAX + 64];
};

bool decodeJpeg(JpegJob* job, const uint8_t* data, size_t size) {
    job->info.err = jpeg_std_error(&job->error.manager);
    job->error.manager.error_exit = jpegErrorExit;
    job->error.manager.emit_message = jpegQuiet;
    job->error.message[0] = '\0';
    job->message[0] = '\0';
    if (setjmp(job->error.jump)) {
        std::snprintf(job->message, sizeof job->message, "%s", job->error.message);
        jpeg_destroy_decompress(&job->info);
        return false;
    }
    jpeg_create_decompress(&job->info);
    jpeg_mem_src(&job->info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&job->info, TRUE);
    jpeg_decompress_struct& info = job->info;
    const bool grey = info.jpeg_color_space == JCS_GRAYSCALE;
    if (!grey && info.num_components != 3) {
        std::snprintf(job->message, sizeof job->message, "unsupported JPEG colour space.");
        jpeg_destroy_decompress(&info);
        return false;
    }
    info.out_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    if (info.image_width < 1 || info.image_height < 1 || info.image_width > 65535 ||
        info.image_height > 65535 ||
        uint64_t(info.image_width) * info.image_height > kMaxPicturePixels) {
        std::snprintf(job->message, sizeof job->message, "unsupported picture size %u x %u.",
                      unsigned(info.image_width), unsigned(info.image_height));
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_start_decompress(&info);
    const int width = int(info.output_width);
    const int height = int(info.output_height);
    const int components = info.output_components;
    job->width = width;
    job->height = height;
    job->pixels->assign(size_t(width) * size_t(height) * 4, 255);
    job->row = static_cast<JSAMPLE*>(std::malloc(size_t(width) * size_t(components)));
    if (!job->row) {
        std::snprintf(job->message, sizeof job->message, "out of memory.");
        jpeg_destroy_decompress(&info);
        return false;
    }
    while (info.output_scanline < info.output_height) {
        const int y = int(info.output_scanline); // from the top
        JSAMPROW rows[1] = {job->row};
        jpeg_read_scanlines(&info, rows, 1);
        uint8_t* dst = job->pixels->data() + size_t(height - 1 - y) * size_t(width) * 4;
        for (int x = 0; x < width; ++x, dst += 4) {
            const JSAMPLE* s = job->row + size_t(x) * size_t(components);
            dst[0] = grey ? s[0] : s[2];
            dst[1] = grey ? s[0] : s[1];
            dst[2] = s[0];
        }
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

} // namespace

TDIBPicture DecodeJPEG(std::span<const uint8_t> bytes, const std::string& name) {
    TDIBPicture picture;
    picture.BitsPerPixel = 24;
    auto job = std::make_unique<JpegJob>();
    job->pixels = &picture.Pixels;
    const bool ok = decodeJpeg(job.get(), bytes.data(), bytes.size());
    std::free(job->row);
    if (!ok) fail(name, job->message);
    picture.Width = job->width;
    picture.Height = job->height;
    return picture;
}

#else

TDIBPicture DecodeJPEG(std::span<const uint8_t>, const std::string& name) {
    fail(name, "this build has no JPEG support.");
}

#endif

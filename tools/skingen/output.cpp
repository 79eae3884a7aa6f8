#include "output.h"

#include "dibcontrols/cDIB.h"
#include "framework/graphics.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#include <stb/stb_image_write.h>

namespace skin {

Artwork drawArtwork(const Fonts& fonts) {
    Artwork art;
    for (int i = 0; i < kImageCount; ++i)
        art.images.push_back(drawImage(i, fonts));
    art.panel = drawPanel(fonts);
    art.back = drawBackSide(fonts);
    return art;
}

namespace {

TColor keyColour(const ImageSpec& s) {
    return TColor(s.keyR | (s.keyG << 8) | (s.keyB << 16));
}

// A library image holding the picture, with the settings its image-list item stores.
void load(TMemoryDIB& dib, const Picture& p, const ImageSpec* image) {
    dib.SetSize(p.w, p.h);
    for (int y = 0; y < p.h; ++y)
        std::memcpy(dib.ScanLine(y), &p.px[size_t(y) * size_t(p.w)], size_t(p.w) * 4);
    if (image) {
        dib.SetTransparentMode(image->fixedMode ? tmFixed : tmAuto);
        dib.SetTransparentColor(keyColour(*image));
        dib.SetTransparent(image->transparent);
    }
    dib.Changed();
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

void writePng(const std::string& path, const Picture& p, int zoom = 1) {
    const int w = p.w * zoom, h = p.h * zoom;
    std::vector<uint8_t> rgb(size_t(w) * size_t(h) * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t v = p.at(x / zoom, y / zoom);
            uint8_t* o = &rgb[(size_t(y) * size_t(w) + size_t(x)) * 3];
            o[0] = uint8_t(v >> 16);
            o[1] = uint8_t(v >> 8);
            o[2] = uint8_t(v);
        }
    if (!stbi_write_png(path.c_str(), w, h, 3, rgb.data(), w * 3))
        throw std::runtime_error("cannot write " + path);
}

Picture fromDib(const TAbstractSuperDIB& dib, int height) {
    Picture p{dib.Width(), height, {}};
    p.px.resize(size_t(p.w) * size_t(p.h));
    for (int y = 0; y < height; ++y)
        std::memcpy(&p.px[size_t(y) * size_t(p.w)], dib.ScanLine(y), size_t(p.w) * 4);
    return p;
}

// A sample setting for each control in the preview: a position from 0 to 1 or a button state.
struct Sample {
    const char* name;
    float value;
};
constexpr Sample kSamples[] = {
    {"TempoSyncButton", 1},
    {"LeftFilterFreqSlider", 0.15f},
    {"RightFilterFreqSlider", 0.4f},
    {"LeftFeedbackLevelSlider", 0.55f},
    {"RightFeedbackLevelSlider", 0.55f},
    {"LeftDelayLevelSlider", 1.f},
    {"RightDelayLevelSlider", 0.3f},
    {"DryLevelSlider", 0.f},
    {"HiCutSlider", 0.85f},
    {"LoCutSlider", 0.1f},
    {"LeftInitialDelayTimeKnob", 0.5f},
    {"RightInitialDelayTimeKnob", 0.42f},
    {"GateThresholdKnob", 0.2f},
    {"GateSpeedKnob", 1.f},
    {"DuckerSpeedKnob", 0.25f},
    {"DuckerRangeKnob", 0.5f},
    {"LeftFilterResoKnob", 0.f},
    {"RightFilterResoKnob", 0.75f},
    {"LeftDelayOnButton", 1},
    {"RightDelayOnButton", 1},
    {"DryOnButton", 0},
    {"LeftFilterOnButton", 1},
    {"RightFilterOnButton", 0},
    {"LeftFeedbackOnButton", 1},
    {"RightFeedbackOnButton", 1},
    {"FilterFreqLinkButton", 0},
    {"FeedbackLinkButton", 1},
    {"DelayLevelLinkButton", 0},
    {"InitialDelayOnButton", 1},
    {"LeftDelayFitButton", 1},
    {"RightDelayFitButton", 0},
    {"HiCutOnButton", 1},
    {"LoCutOnButton", 0},
    {"DuckerOnButton", 0},
    {"GateOnButton", 1},
    {"ManualImage", 1},
    {"LeftDelayTimeVisibleSlider", 0.7f},
    {"RightDelayTimeVisibleSlider", 0.3f},
    {"FilterResoLinkButton", 1},
};

float sampleFor(const char* name) {
    for (const Sample& s : kSamples)
        if (!std::strcmp(s.name, name)) return s.value;
    return 0;
}

// Draws a slider the way the control does: the track stretched over its length from one pixel
// before the start, keyed; the handle over it at its resting opacity.
void drawSlider(const Control& c, float t, TMemoryDIB& track, TMemoryDIB& handle,
                TMemoryDIB& dest) {
    const bool vertical = c.kind == Kind::VSlider;
    const int length = vertical ? c.r.h : c.r.w;
    const int travel = length + 1 - (vertical ? handle.Height() : handle.Width());
    dest.SetClipRect({c.r.x, c.r.y, c.r.right() - 1, c.r.bottom() - 1});
    TMemoryDIB stretched(vertical ? track.Width() : length + 2,
                         vertical ? length + 2 : track.Height());
    stretched.StretchFrom(track);
    track.CopyPropertiesTo(stretched);
    stretched.Changed();
    const int offset = int(float(travel) * t);
    if (vertical) {
        stretched.Draw(c.r.x, c.r.y - 1, stretched.Width(), stretched.Height(), dest, 0, 0);
        handle.Draw(c.r.x, c.r.y - 1 + offset, handle.Width(), handle.Height(), dest, 0, 0);
    } else {
        stretched.Draw(c.r.x - 1, c.r.y, stretched.Width(), stretched.Height(), dest, 0, 0);
        handle.Draw(c.r.x - 1 + offset, c.r.y, handle.Width(), handle.Height(), dest, 0, 0);
    }
    dest.SetClipRect({0, 0, dest.Width() - 1, dest.Height() - 1});
}

void drawLabel(TMemoryDIB& panel, const Label& l) {
    const TPixelView view{reinterpret_cast<uint32_t*>(panel.ScanLine(0)), panel.Width(),
                          panel.Height(), -ptrdiff_t(panel.Width())};
    TCanvas canvas(view, {l.r.x, l.r.y}, Bounds(l.r.x, l.r.y, l.r.w, l.r.h));
    switch (l.style) {
    case LabelStyle::Value:
        canvas.Font = {"Estrangelo Edessa", -11, RGB(63, 63, 63), 0};
        break;
    case LabelStyle::ValueSilver:
        canvas.Font = {"Estrangelo Edessa", -11, clSilver, 0};
        break;
    case LabelStyle::Status:
        canvas.Font = {"Verdana", -8, clWhite, 0};
        break;
    }
    const int32_t w = canvas.TextExtent(l.sample).Width;
    canvas.TextOut(l.style == LabelStyle::Status ? 0 : l.r.w - w, 0, l.sample);
}

} // namespace

std::vector<uint8_t> dibBlock(const Picture& p) {
    TMemoryDIB dib;
    load(dib, p, nullptr);
    return dib.SaveToStream();
}

std::vector<uint8_t> bmp24(const Picture& p) {
    const uint32_t row = (uint32_t(p.w) * 3 + 3) & ~3u, pixels = row * uint32_t(p.h);
    std::vector<uint8_t> out(54 + pixels, 0);
    auto put = [&](size_t at, uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out[at + size_t(i)] = uint8_t(v >> (8 * i));
    };
    out[0] = 'B';
    out[1] = 'M';
    put(2, uint32_t(out.size()), 4);
    put(10, 54, 4);
    put(14, 40, 4); // BITMAPINFOHEADER
    put(18, uint32_t(p.w), 4);
    put(22, uint32_t(p.h), 4); // positive: bottom-up
    put(26, 1, 2);
    put(28, 24, 2);
    put(34, pixels, 4);
    put(38, 3780, 4); // 96 pixels per inch
    put(42, 3780, 4);
    for (int y = 0; y < p.h; ++y) {
        uint8_t* o = &out[54 + size_t(p.h - 1 - y) * row];
        for (int x = 0; x < p.w; ++x) {
            const uint32_t v = p.at(x, y);
            *o++ = uint8_t(v);
            *o++ = uint8_t(v >> 8);
            *o++ = uint8_t(v >> 16);
        }
    }
    return out;
}

void writeSource(const Artwork& art, const std::string& path) {
    std::vector<std::pair<std::string, std::vector<uint8_t>>> blobs;
    for (int i = 0; i < kImageCount; ++i)
        blobs.emplace_back(kImages[i].name, dibBlock(art.images[size_t(i)]));
    blobs.emplace_back("bg", bmp24(art.panel));
    blobs.emplace_back("BackSideImage", bmp24(art.back));

    std::string s;
    s.reserve(6u << 20);
    s += "// Generated by skingen at build time; not stored in the repository.\n"
         "#include \"editor/skindata.h\"\n\n#include <cstring>\n\nnamespace {\n\n";
    // String literals compile far faster than brace lists of this size; each array has room for
    // the literal's terminating zero, which is not part of the blob.
    for (size_t b = 0; b < blobs.size(); ++b) {
        const auto& bytes = blobs[b].second;
        s += "const unsigned char kBlob" + std::to_string(b) + "[" +
             std::to_string(bytes.size() + 1) + "] =\n";
        for (size_t i = 0; i < bytes.size(); i += 96) {
            s += "    \"";
            for (size_t k = i; k < std::min(bytes.size(), i + 96); ++k) {
                const uint8_t c = bytes[k];
                if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\' && c != '?') {
                    s += char(c);
                } else {
                    char esc[5];
                    std::snprintf(esc, sizeof esc, "\\%03o", c);
                    s += esc;
                }
            }
            s += "\"\n";
        }
        s += ";\n\n";
    }
    s += "constexpr SkinBlob kBlobs[] = {\n";
    for (size_t b = 0; b < blobs.size(); ++b)
        s += "    {\"" + blobs[b].first + "\", kBlob" + std::to_string(b) + ", " +
             std::to_string(blobs[b].second.size()) + "},\n";
    s += "};\n\n} // namespace\n\n"
         "const SkinBlob* findSkinBlob(const char* name) {\n"
         "    if (!name) return nullptr;\n"
         "    for (const SkinBlob& b : kBlobs)\n"
         "        if (std::strcmp(b.name, name) == 0) return &b;\n"
         "    return nullptr;\n"
         "}\n\n"
         "std::span<const SkinBlob> skinBlobs() { return kBlobs; }\n";

    // Write beside and rename, so an interrupted run never leaves a half file that looks done.
    const std::string temp = path + ".part";
    writeFile(temp, std::vector<uint8_t>(s.begin(), s.end()));
    std::filesystem::rename(temp, path);
}

void writePreview(const Artwork& art, const std::string& path, const PreviewView& view) {
    TMemoryDIB panel;
    load(panel, art.panel, nullptr);
    std::vector<std::unique_ptr<TMemoryDIB>> images;
    for (int i = 0; i < kImageCount; ++i) {
        images.push_back(std::make_unique<TMemoryDIB>());
        load(*images.back(), art.images[size_t(i)], &kImages[i]);
    }
    for (const Control& c : kControls) {
        const float t = sampleFor(c.name);
        TMemoryDIB& img = *images[size_t(c.image)];
        switch (c.kind) {
        case Kind::Knob:
            img.DrawFrame(c.r.x, c.r.y, panel, kKnobFrames, int(t * 400) * kKnobFrames / 401);
            break;
        case Kind::VSlider:
            img.SetOpacity(196);
            drawSlider(c, t, *images[kTrackVerti], img, panel);
            break;
        case Kind::HSlider:
            img.SetOpacity(196);
            drawSlider(c, t, *images[kTrackHori], img, panel);
            break;
        case Kind::Button:
            img.Draw(c.r.x, c.r.y, c.r.w, c.r.h, panel, t > 0 ? c.r.w : 0, 0);
            break;
        case Kind::Image:
            img.Draw(c.r.x, c.r.y, c.r.w, c.r.h, panel, 0, 0);
            break;
        }
    }
    for (const Label& l : kLabels)
        drawLabel(panel, l);
    const Picture whole = fromDib(panel, 369); // the form shows 369 of the panel's 371 rows
    if (view.w <= 0) return writePng(path, whole);
    Picture part{view.w, view.h, std::vector<uint32_t>(size_t(view.w) * size_t(view.h))};
    for (int y = 0; y < view.h; ++y)
        for (int x = 0; x < view.w; ++x)
            part.at(x, y) = whole.at(std::clamp(view.x + x, 0, whole.w - 1),
                                     std::clamp(view.y + y, 0, whole.h - 1));
    writePng(path, part, std::max(1, view.zoom));
}

void writeDump(const Artwork& art, const std::string& dir) {
    std::filesystem::create_directories(dir);
    for (int i = 0; i < kImageCount; ++i) {
        const Picture& p = art.images[size_t(i)];
        std::string file = kImages[i].name;
        for (char& ch : file)
            if (ch == ' ') ch = '_';
        if (p.w == 28 * kKnobFrames) {
            // Every tenth frame side by side; the whole strip is too wide to look at.
            Picture sample{28 * 7, 28, std::vector<uint32_t>(size_t(28 * 7 * 28))};
            for (int k = 0; k < 7; ++k)
                for (int y = 0; y < 28; ++y)
                    for (int x = 0; x < 28; ++x)
                        sample.at(k * 28 + x, y) = p.at(k * 10 * 28 + x, y);
            writePng(dir + "/" + file + ".png", sample, 4);
        } else {
            writePng(dir + "/" + file + ".png", p, 8);
        }
    }
    writePng(dir + "/bg.png", art.panel);
    writePng(dir + "/BackSideImage.png", art.back);
}

} // namespace skin

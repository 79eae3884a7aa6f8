// skingen: draws the editor's artwork and writes it as a C++ source file for ql_skindata.
//
//   skingen --source OUT.cpp [--font-dir DIR]     the generated source (the build runs this)
//           --preview FILE.png                    the front side composed as the editor shows it
//           --dump-dir DIR                        every picture as PNG, enlarged, for review
//           --zoom X,Y,W,H,N                      the preview shows only that part, N times
#include "artwork.h"
#include "output.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

namespace {

int usage() {
    std::fprintf(stderr, "usage: skingen [--font-dir DIR] [--source OUT.cpp] [--preview FILE.png] "
                         "[--dump-dir DIR] [--zoom X,Y,W,H,N]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    skin::PreviewView view;
    std::string fontDir = "/usr/share/fonts/truetype/dejavu", source, preview, dumpDir;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string(); };
        if (!std::strcmp(a, "--font-dir"))
            fontDir = value();
        else if (!std::strcmp(a, "--source"))
            source = value();
        else if (!std::strcmp(a, "--preview"))
            preview = value();
        else if (!std::strcmp(a, "--dump-dir"))
            dumpDir = value();
        else if (!std::strcmp(a, "--zoom")) {
            if (std::sscanf(value().c_str(), "%d,%d,%d,%d,%d", &view.x, &view.y, &view.w, &view.h,
                            &view.zoom) != 5)
                return usage();
        } else
            return usage();
    }
    if (source.empty() && preview.empty() && dumpDir.empty()) return usage();
    try {
        const skin::Fonts fonts(fontDir);
        const skin::Artwork art = skin::drawArtwork(fonts);
        if (!source.empty()) skin::writeSource(art, source);
        if (!preview.empty()) skin::writePreview(art, preview, view);
        if (!dumpDir.empty()) skin::writeDump(art, dumpDir);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "skingen: %s\n", e.what());
        return 1;
    }
    return 0;
}

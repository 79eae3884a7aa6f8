#include "formathost.h"

#include "options.h"

#include <filesystem>

namespace qlrender {

namespace {
struct Spelling {
    PluginFormat format;
    const char* name;
    const char* suffix; // of the plug-in's file or bundle
};
constexpr Spelling kFormats[] = {{PluginFormat::Vst2, "vst2", ""},
                                 {PluginFormat::Clap, "clap", ".clap"},
                                 {PluginFormat::Lv2, "lv2", ".lv2"},
                                 {PluginFormat::Vst3, "vst3", ".vst3"}};
} // namespace

const char* formatName(PluginFormat format) {
    for (const auto& f : kFormats)
        if (f.format == format) return f.name;
    return "?";
}

bool parseFormat(const std::string& spelled, PluginFormat& format) {
    for (const auto& f : kFormats)
        if (equalsIgnoringCase(spelled, f.name)) {
            format = f.format;
            return true;
        }
    return false;
}

PluginFormat formatOfPath(const std::string& path) {
    // A bundle may be given with a trailing separator.
    std::filesystem::path p(path);
    if (!p.has_filename()) p = p.parent_path();
    const std::string suffix = p.extension().string();
    for (const auto& f : kFormats)
        if (*f.suffix && equalsIgnoringCase(suffix, f.suffix)) return f.format;
    return PluginFormat::Vst2;
}

std::string pluginFileName(PluginFormat format) {
    if (format == PluginFormat::Vst2) return QL_RENDER_PLUGIN_FILE_NAME;
    for (const auto& f : kFormats)
        if (f.format == format) return std::string("Quillantrope") + f.suffix;
    return {};
}

std::unique_ptr<FormatHost> openFormatHost(PluginFormat format, const std::string& path,
                                           double sampleRate, int blockSize, HostTime time) {
    switch (format) {
    case PluginFormat::Vst2:
        return openVst2Host(path, sampleRate, blockSize, time);
#ifdef QL_RENDER_CLAP
    case PluginFormat::Clap:
        return openClapHost(path, sampleRate, blockSize, time);
#endif
#ifdef QL_RENDER_LV2
    case PluginFormat::Lv2:
        return openLv2Host(path, sampleRate, blockSize, time);
#endif
#ifdef QL_RENDER_VST3
    case PluginFormat::Vst3:
        return openVst3Host(path, sampleRate, blockSize, time);
#endif
    default:
        break;
    }
    throw RenderError(std::string("this quillantrope-render was built without its ") +
                      formatName(format) +
                      " host (the format's headers or libraries were missing at build time)");
}

} // namespace qlrender

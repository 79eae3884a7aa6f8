// lv2ttl: writes the LV2 bundle's Turtle from the parameter table and the factory programs, so
// the description can never drift from the plug-in it describes.
//
//   lv2ttl --out-dir DIR --binary Quillantrope.so --minor N --micro N
//
// writes DIR/manifest.ttl, DIR/Quillantrope.ttl (plug-in, ports, UI) and DIR/presets.ttl (the 40
// programs with their full names). The programs' values are read from the effect itself, through
// the bridge every format uses.
#include "effect/paramtable.h"
#include "formats/bridge/pluginbridge.h"
#include "formats/lv2/lv2ids.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

using namespace ql;
using namespace ql::lv2;

const char* const kPrefixes = "@prefix atom: <http://lv2plug.in/ns/ext/atom#> .\n"
                              "@prefix bufsz: <http://lv2plug.in/ns/ext/buf-size#> .\n"
                              "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
                              "@prefix foaf: <http://xmlns.com/foaf/0.1/> .\n"
                              "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
                              "@prefix opts: <http://lv2plug.in/ns/ext/options#> .\n"
                              "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
                              "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
                              "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n"
                              "@prefix time: <http://lv2plug.in/ns/ext/time#> .\n"
                              "@prefix ui: <http://lv2plug.in/ns/extensions/ui#> .\n"
                              "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
                              "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n"
                              "@prefix xsd: <http://www.w3.org/2001/XMLSchema#> .\n\n";

// The shortest decimal that reads back as the same float, always with a decimal point.
std::string decimal(float value) {
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed).ptr;
    std::string s(text, end);
    if (s.find('.') == std::string::npos) s += ".0";
    return s;
}

std::string literal(const std::string& text) {
    std::string s = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') s += '\\';
        s += c;
    }
    return s + '"';
}

std::string uri(const std::string& u) {
    return "<" + u + ">";
}

// The unit a control's value is in, where one fits a normalised value.
const char* unitOf(ParamKind kind) {
    switch (kind) {
    case ParamKind::Level:
    case ParamKind::Threshold:
    case ParamKind::Resonance:
    case ParamKind::Range:
        return "units:coef"; // a gain or a fraction
    default:
        return nullptr;
    }
}

std::string pluginTurtle(const std::string& binary, int minor, int micro) {
    std::ostringstream t;
    t << kPrefixes;
    t << uri(kPluginUri) << "\n"
      << "    a lv2:Plugin , lv2:DelayPlugin , doap:Project ;\n"
      << "    doap:name \"Quillantrope\" ;\n"
      << "    doap:license <http://opensource.org/licenses/MIT> ;\n"
      << "    doap:maintainer [ foaf:name \"quillantrope.audio\" ] ;\n"
      << "    rdfs:comment \"A stereo tempo-synchronised delay.\" ;\n"
      << "    lv2:minorVersion " << minor << " ;\n"
      << "    lv2:microVersion " << micro << " ;\n"
      << "    lv2:requiredFeature urid:map ;\n"
      << "    lv2:optionalFeature lv2:hardRTCapable , opts:options ;\n"
      << "    opts:supportedOption bufsz:maxBlockLength ;\n"
      << "    lv2:extensionData state:interface ;\n"
      << "    ui:ui " << uri(kUiUri) << " ;\n";
    struct Audio {
        unsigned index;
        const char *type, *symbol, *name;
    };
    const Audio audio[] = {{kInLeft, "lv2:InputPort", "in_left", "Left In"},
                           {kInRight, "lv2:InputPort", "in_right", "Right In"},
                           {kOutLeft, "lv2:OutputPort", "out_left", "Left Out"},
                           {kOutRight, "lv2:OutputPort", "out_right", "Right Out"}};
    t << "    lv2:port";
    const char* sep = " [\n";
    for (const Audio& a : audio) {
        t << sep << "        a lv2:AudioPort , " << a.type << " ;\n"
          << "        lv2:index " << a.index << " ;\n"
          << "        lv2:symbol \"" << a.symbol << "\" ;\n"
          << "        lv2:name \"" << a.name << "\"\n";
        sep = "    ] , [\n";
    }
    t << sep << "        a lv2:InputPort , atom:AtomPort ;\n"
      << "        atom:bufferType atom:Sequence ;\n"
      << "        atom:supports time:Position ;\n"
      << "        lv2:designation lv2:control ;\n"
      << "        lv2:index " << unsigned(kControl) << " ;\n"
      << "        lv2:symbol \"control\" ;\n"
      << "        lv2:name \"Control\"\n";
    for (int k = 0; k < kNumNamedParams; ++k) {
        const ParamInfo& p = paramInfo(kControlParams[std::size_t(k)]);
        t << sep << "        a lv2:InputPort , lv2:ControlPort ;\n"
          << "        lv2:index " << unsigned(kFirstParam) + unsigned(k) << " ;\n"
          << "        lv2:symbol \"" << p.symbol() << "\" ;\n"
          << "        lv2:name " << literal(p.title) << " ;\n"
          << "        lv2:default " << decimal(p.defaultValue) << " ;\n"
          << "        lv2:minimum 0.0 ;\n"
          << "        lv2:maximum 1.0";
        if (p.isStepped()) t << " ;\n        lv2:portProperty lv2:toggled";
        if (const char* unit = unitOf(p.kind)) t << " ;\n        units:unit " << unit;
        t << "\n";
    }
    t << "    ] .\n\n";
    t << uri(kUiUri) << "\n"
      << "    a ui:X11UI ;\n"
      << "    ui:binary " << uri(binary) << " ;\n"
      << "    lv2:requiredFeature ui:idleInterface , ui:parent ,\n"
      << "        <http://lv2plug.in/ns/ext/instance-access> ;\n"
      << "    lv2:optionalFeature ui:resize , ui:touch , ui:noUserResize ;\n"
      << "    lv2:extensionData ui:idleInterface .\n";
    return t.str();
}

std::string presetUri(int program) {
    return std::string(kPresetUriPrefix) + std::to_string(program);
}

std::string manifestTurtle(const std::string& binary) {
    std::ostringstream t;
    t << kPrefixes;
    t << uri(kPluginUri) << "\n"
      << "    a lv2:Plugin ;\n"
      << "    lv2:binary " << uri(binary) << " ;\n"
      << "    rdfs:seeAlso <Quillantrope.ttl> .\n";
    for (int p = 0; p < kNumPrograms; ++p)
        t << "\n"
          << uri(presetUri(p)) << "\n"
          << "    a pset:Preset ;\n"
          << "    lv2:appliesTo " << uri(kPluginUri) << " ;\n"
          << "    rdfs:seeAlso <presets.ttl> .\n";
    return t.str();
}

// Each program as a preset: its full name, every control's value, and the program itself, which
// the plug-in's state restore selects (so its name and spare values come along).
std::string presetsTurtle(formats::PluginBridge& effect) {
    std::ostringstream t;
    t << kPrefixes << "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n\n";
    t << uri(kProgramKey) << "\n"
      << "    a rdf:Property ;\n"
      << "    rdfs:label \"factory program\" ;\n"
      << "    rdfs:comment \"The program a factory preset selects, 0 to " << kNumPrograms - 1
      << ".\" ;\n"
      << "    rdfs:range xsd:int .\n\n";
    for (int p = 0; p < kNumPrograms; ++p) {
        effect.selectProgram(p);
        t << uri(presetUri(p)) << "\n"
          << "    a pset:Preset ;\n"
          << "    lv2:appliesTo " << uri(kPluginUri) << " ;\n"
          << "    rdfs:label " << literal(effect.programName(p)) << " ;\n"
          << "    state:state [ " << uri(kProgramKey) << " \"" << p << "\"^^xsd:int ] ;\n"
          << "    lv2:port";
        const char* sep = " [\n";
        for (int index : kControlParams) {
            t << sep << "        lv2:symbol \"" << paramInfo(index).symbol() << "\" ;\n"
              << "        pset:value " << decimal(effect.parameter(index)) << "\n";
            sep = "    ] , [\n";
        }
        t << "    ] .\n\n";
    }
    return t.str();
}

bool writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    out.close();
    if (!out) {
        std::fprintf(stderr, "lv2ttl: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::string dir, binary;
    int minor = -1, micro = -1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--out-dir"))
            dir = argv[i + 1];
        else if (!std::strcmp(argv[i], "--binary"))
            binary = argv[i + 1];
        else if (!std::strcmp(argv[i], "--minor"))
            minor = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--micro"))
            micro = std::atoi(argv[i + 1]);
    }
    if (dir.empty() || binary.empty() || minor < 0 || micro < 0) {
        std::fprintf(stderr, "usage: lv2ttl --out-dir DIR --binary MODULE --minor N --micro N\n");
        return 2;
    }
    formats::PluginBridge effect;
    if (!effect.valid()) {
        std::fprintf(stderr, "lv2ttl: the effect could not be made\n");
        return 1;
    }
    const bool ok = writeFile(dir + "/manifest.ttl", manifestTurtle(binary)) &&
                    writeFile(dir + "/Quillantrope.ttl", pluginTurtle(binary, minor, micro)) &&
                    writeFile(dir + "/presets.ttl", presetsTurtle(effect));
    return ok ? 0 : 1;
}

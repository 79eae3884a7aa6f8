// The host side of any plug-in format the tool renders through. One FormatHost per render: the
// tool sets programs and parameters, starts it, and feeds it blocks; each format's backend
// (vsthost.cpp, and one file per other format) speaks that format's interface to the plug-in.
#pragma once

#include <memory>
#include <string>

namespace qlrender {

enum class PluginFormat { Vst2, Clap, Lv2, Vst3 };

// "vst2", "clap", "lv2", "vst3": the --format spellings.
const char* formatName(PluginFormat format);
// The format a --format value names; false when it names none.
bool parseFormat(const std::string& spelled, PluginFormat& format);
// The format a plug-in path is in, from its suffix (.clap, .lv2, .vst3; anything else is VST 2).
PluginFormat formatOfPath(const std::string& path);
// The plug-in's file, or bundle folder, in a format: what the default search looks for.
std::string pluginFileName(PluginFormat format);

struct HostTime {
    bool provided = true;    // false: the host gives no transport, no tempo
    bool viaTempoAt = false; // VST 2 only: the tempo comes through audioMasterTempoAt
    double tempo = 120.0;    // beats per minute
};

class FormatHost {
  public:
    virtual ~FormatHost() = default;
    FormatHost(const FormatHost&) = delete;
    FormatHost& operator=(const FormatHost&) = delete;

    virtual int numPrograms() = 0;
    virtual int numParams() = 0; // the plug-in's 80 indices, spares included
    virtual std::string programName(int program) = 0;
    virtual int currentProgram() = 0;
    virtual void setProgram(int program) = 0;
    virtual float parameter(int index) = 0;
    virtual void setParameter(int index, float value) = 0;
    // The value as the format's host shows it, and the unit beside it where the format has one.
    virtual std::string parameterDisplay(int index) = 0;
    virtual std::string parameterLabel(int index) = 0;
    virtual std::string effectName() = 0;

    // Switches the effect on; the first process call follows.
    virtual void start() = 0;
    // One block: two input and two output channels of `frames`.
    virtual void process(float* const inputs[2], float* const outputs[2], int frames) = 0;

    // With measuring on, the host keeps the time spent inside the plug-in while rendering
    // (switching on and processing) and the part of it spent in its own callbacks.
    void setMeasuring(bool on) { measuring = on; }
    double pluginSeconds() const { return pluginTime; }
    double callbackSeconds() const { return callbackTime; }

  protected:
    FormatHost() = default;
    bool measuring = false;
    double pluginTime = 0.0;
    double callbackTime = 0.0;
};

// Loads the plug-in at `path` in `format`, makes one effect and tells it the sample rate and the
// block size. Throws RenderError when any step fails, or when this build has no such backend.
std::unique_ptr<FormatHost> openFormatHost(PluginFormat format, const std::string& path,
                                           double sampleRate, int blockSize, HostTime time);

// The backends. Each one is compiled only where its format's headers and libraries are found,
// and defines QL_RENDER_<FORMAT> then.
std::unique_ptr<FormatHost> openVst2Host(const std::string& path, double sampleRate, int blockSize,
                                         HostTime time);
std::unique_ptr<FormatHost> openClapHost(const std::string& path, double sampleRate, int blockSize,
                                         HostTime time);
std::unique_ptr<FormatHost> openLv2Host(const std::string& path, double sampleRate, int blockSize,
                                        HostTime time);
std::unique_ptr<FormatHost> openVst3Host(const std::string& path, double sampleRate, int blockSize,
                                         HostTime time);

} // namespace qlrender

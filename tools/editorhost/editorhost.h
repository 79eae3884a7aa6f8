// What the editor host does the same on every window system: its options, its host callback
// (which prints the automation the editor sends), and driving the effect as a playing host does.
// The window-system parts (the top-level window, the event loop, the screenshot) stay in
// main.cpp (X11) and main_win32.cpp (Win32).
#pragma once

#include "shell/vst2abi.h"

#include "../render/platform.h"

#include <string>
#include <vector>

namespace qleditorhost {

struct Options {
    std::string plugin;
    int program = -1;
    double tempo = 120.0;
    std::string screenshot;
    int afterMs = 500;
    int quitAfterMs = -1;
};

// 0: run; 1: --help shown; 2: bad arguments (message printed).
int parseOptions(int argc, char** argv, Options& options);

// The plug-in loaded through its exported entry, opened and switched on at 44.1 kHz with the
// tempo of the options; each idle tick processes a block of silence so that its timing (and so
// the editor's tempo display) is a playing host's. Closed, switched off and unloaded on
// destruction.
class HostedEffect {
  public:
    static constexpr int kIdleMs = 33;
    static constexpr int kBlock = 1470; // one idle period's worth at 44.1 kHz

    HostedEffect() = default;
    ~HostedEffect();
    HostedEffect(const HostedEffect&) = delete;
    HostedEffect& operator=(const HostedEffect&) = delete;

    // Prints why and answers false when the library cannot be loaded, is no VST 2 plug-in or has
    // no editor.
    bool load(const Options& options, const std::string& defaultPlugin);
    // The editor's size: 600 x 369 until the plug-in reports one.
    void editorSize(int& width, int& height);
    // Prints why and answers false when the editor does not open in `parent`.
    bool openEditor(void* parent);
    void idle();

  private:
    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                       void* ptr = nullptr, float opt = 0.0f);

    qlrender::SharedLibrary library;
    AEffect* effect = nullptr;
    bool editorOpen = false;
    std::vector<float> left = std::vector<float>(kBlock), right = std::vector<float>(kBlock);
};

// Writes the picture (rows of RGB bytes) and prints what happened; false when it could not.
bool saveScreenshot(const std::string& path, int width, int height,
                    const std::vector<uint8_t>& rgb);

} // namespace qleditorhost

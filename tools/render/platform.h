// The few operating-system services the render tool needs, behind one small interface:
// loading a shared library, finding where the tool itself lives, and asking about the terminal.
#pragma once

#include "formathost.h"

#include <string>
#include <vector>

namespace qlrender {

// A loaded shared library; closed when the object goes away.
class SharedLibrary {
  public:
    SharedLibrary() = default;
    ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // Loads the library at `path`; on failure returns false and sets `error` to the loader's text.
    bool open(const std::string& path, std::string& error);
    // The exported symbol `name`, or null.
    void* symbol(const char* name) const;
    void close();

  private:
    void* handle = nullptr;
};

// The folder holding the running executable, or an empty text when the system cannot say.
std::string executableDirectory();

// Where a plug-in is looked for when none is named, in order: beside the executable (a build
// folder, or a Windows folder holding both), then where the user's and the system's hosts find
// installed plug-ins of its format (for VST 2: ~/.vst, /usr/local/lib/vst, /usr/lib/vst; the
// other formats' folders are named alike: clap, lv2, vst3).
std::vector<std::string> pluginSearchFolders(PluginFormat format);

bool stderrIsTerminal();

// Processor time used so far by the calling thread, and by the whole process, in seconds.
double threadCpuSeconds();
double processCpuSeconds();

} // namespace qlrender

// The only file of the tool that includes an operating-system header.
#include "platform.h"

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <time.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace qlrender {

SharedLibrary::~SharedLibrary() {
    close();
}

#if defined(_WIN32)

bool SharedLibrary::open(const std::string& path, std::string& error) {
    close();
    const std::wstring wide = std::filesystem::path(path).wstring();
    HMODULE module = LoadLibraryW(wide.c_str());
    if (!module) {
        char text[256] = {};
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       GetLastError(), 0, text, sizeof text - 1, nullptr);
        error = text;
        while (!error.empty() && (error.back() == '\n' || error.back() == '\r'))
            error.pop_back();
        return false;
    }
    handle = module;
    return true;
}

void* SharedLibrary::symbol(const char* name) const {
    if (!handle) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

void SharedLibrary::close() {
    if (handle) FreeLibrary(static_cast<HMODULE>(handle));
    handle = nullptr;
}

std::string executableDirectory() {
    wchar_t buffer[32768];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, 32768);
    if (length == 0 || length >= 32768) return {};
    return std::filesystem::path(std::wstring(buffer, length)).parent_path().string();
}

bool stderrIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

// Windows hosts have no common plug-in folder: each keeps its own list, so only the folder beside
// the tool is searched.
std::vector<std::string> pluginSearchFolders(PluginFormat) {
    std::vector<std::string> folders;
    if (std::string beside = executableDirectory(); !beside.empty()) folders.push_back(beside);
    return folders;
}

namespace {
double busySeconds(FILETIME kernel, FILETIME user) {
    auto ticks = [](FILETIME t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) * 1e-7; // 100 ns units
}
} // namespace

double threadCpuSeconds() {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0.0;
    return busySeconds(kernel, user);
}

double processCpuSeconds() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0.0;
    return busySeconds(kernel, user);
}

#else

bool SharedLibrary::open(const std::string& path, std::string& error) {
    close();
    // A path without a slash would make dlopen search the system folders instead of the file
    // the user named.
    std::string where = path;
    if (where.find('/') == std::string::npos) where = "./" + where;
    handle = dlopen(where.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* text = dlerror();
        error = text ? text : "unknown loader error";
        return false;
    }
    return true;
}

void* SharedLibrary::symbol(const char* name) const {
    return handle ? dlsym(handle, name) : nullptr;
}

void SharedLibrary::close() {
    if (handle) dlclose(handle);
    handle = nullptr;
}

std::string executableDirectory() {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : self.parent_path().string();
}

bool stderrIsTerminal() {
    return isatty(fileno(stderr)) != 0;
}

std::vector<std::string> pluginSearchFolders(PluginFormat format) {
    // The folder the format's hosts use.
    std::string kind = "vst";
    switch (format) {
    case PluginFormat::Vst2:
        break;
    case PluginFormat::Clap:
        kind = "clap";
        break;
    case PluginFormat::Lv2:
        kind = "lv2";
        break;
    case PluginFormat::Vst3:
        kind = "vst3";
        break;
    }
    std::vector<std::string> folders;
    if (std::string beside = executableDirectory(); !beside.empty()) folders.push_back(beside);
    if (const char* home = std::getenv("HOME"); home && *home)
        folders.push_back((std::filesystem::path(home) / ("." + kind)).string());
    folders.push_back("/usr/local/lib/" + kind);
    folders.push_back("/usr/lib/" + kind);
    return folders;
}

namespace {
double clockSeconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}
} // namespace

double threadCpuSeconds() {
    return clockSeconds(CLOCK_THREAD_CPUTIME_ID);
}
double processCpuSeconds() {
    return clockSeconds(CLOCK_PROCESS_CPUTIME_ID);
}

#endif

} // namespace qlrender

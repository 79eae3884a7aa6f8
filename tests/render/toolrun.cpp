#include "toolrun.h"

#include <sndfile.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qltest {

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

ToolResult runTool(const std::vector<std::string>& args,
                   const std::function<bool()>& interruptWhen) {
    ScratchFolder logs;
    const std::string outPath = (logs / "out").string(), errPath = (logs / "err").string();
    std::vector<std::string> argv{QL_RENDER_TOOL};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargs;
    for (auto& a : argv)
        cargs.push_back(a.data());
    cargs.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        execv(cargs[0], cargs.data());
        _exit(127);
    }
    int status = 0;
    bool reaped = false;
    while (interruptWhen && !reaped) {
        reaped = waitpid(pid, &status, WNOHANG) == pid;
        if (!reaped && interruptWhen()) {
            kill(pid, SIGINT);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!reaped) waitpid(pid, &status, 0);
    ToolResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = slurp(outPath);
    result.err = slurp(errPath);
    return result;
}

void writeSound(const fs::path& path, int sampleRate, const std::vector<float>& left,
                const std::vector<float>* right, bool pcm16) {
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = right ? 2 : 1;
    info.format = SF_FORMAT_WAV | (pcm16 ? SF_FORMAT_PCM_16 : SF_FORMAT_FLOAT);
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) throw std::runtime_error("cannot write " + path.string());
    std::vector<float> frames;
    for (size_t i = 0; i < left.size(); ++i) {
        frames.push_back(left[i]);
        if (right) frames.push_back((*right)[i]);
    }
    sf_writef_float(file, frames.data(), static_cast<sf_count_t>(left.size()));
    sf_close(file);
}

Sound readSound(const fs::path& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) throw std::runtime_error("cannot read " + path.string());
    std::vector<float> frames(static_cast<size_t>(info.frames * info.channels));
    sf_readf_float(file, frames.data(), info.frames);
    sf_close(file);
    Sound sound;
    sound.sampleRate = info.samplerate;
    sound.channels = info.channels;
    sound.format = info.format;
    for (sf_count_t i = 0; i < info.frames; ++i) {
        sound.left.push_back(frames[static_cast<size_t>(i * info.channels)]);
        if (info.channels > 1)
            sound.right.push_back(frames[static_cast<size_t>(i * info.channels + 1)]);
    }
    return sound;
}

ScratchFolder::ScratchFolder() {
    std::string pattern = (fs::temp_directory_path() / "ql-render-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path = pattern;
}

ScratchFolder::~ScratchFolder() {
    std::error_code ec;
    fs::remove_all(path, ec);
}

std::vector<std::string> ScratchFolder::entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path))
        names.push_back(entry.path().filename());
    return names;
}

} // namespace qltest

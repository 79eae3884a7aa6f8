// End to end: quillantrope-editor hosts the real editor on the X display; its screenshot must show
// the panel, and a slider drag and a button click made with xdotool must reach the host as
// audioMasterAutomate. Needs a display and xdotool; scripts/test provides both.
#include <gtest/gtest.h>

// After GoogleTest: Xlib defines macros (None, Bool) that its headers use as names.
#include "host/xdisplay.h"

#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using qltest::Rgb;
using Clock = std::chrono::steady_clock;

std::string tempPath(const std::string& name) {
    return ::testing::TempDir() + "ql-e2e-" + std::to_string(getpid()) + "-" + name;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int run(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Png {
    int width = 0, height = 0;
    std::vector<Rgb> pixels;
    Rgb at(int x, int y) const { return pixels.at(size_t(y * width + x)); }
};

Png loadPng(const std::string& path) {
    Png png;
    int channels = 0;
    unsigned char* data = stbi_load(path.c_str(), &png.width, &png.height, &channels, 3);
    if (!data) return png;
    for (int i = 0; i < png.width * png.height; ++i)
        png.pixels.push_back({data[3 * i], data[3 * i + 1], data[3 * i + 2]});
    stbi_image_free(data);
    return png;
}

// The vertical centre of a slider's thumb: the light rows in the middle of its dark track.
int thumbCentre(const Png& png, int x, int top, int height) {
    int first = -1, last = -1;
    for (int y = top + 2; y < top + height - 2; ++y)
        if (png.at(x, y).luma() > 60) {
            if (first < 0) first = y;
            last = y;
        }
    return first < 0 ? -1 : (first + last) / 2;
}

// Automation lines the tool printed, as (index, value).
std::vector<std::pair<int, float>> automated(const std::string& output) {
    std::vector<std::pair<int, float>> out;
    std::istringstream lines(output);
    std::string word;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        int index;
        float value;
        if (fields >> word && word == "audioMasterAutomate" && fields >> index >> value)
            out.emplace_back(index, value);
    }
    return out;
}

class EditorHostEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        Display* dpy = XOpenDisplay(nullptr);
        if (!dpy) GTEST_SKIP() << "no X display reachable (scripts/test runs this under Xvfb)";
        XCloseDisplay(dpy);
        if (run("command -v xdotool >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "xdotool is not installed (scripts/bootstrap)";
    }
    qltest::XServerLock lock;
};

constexpr int kFeedbackSliderX = 262, kFeedbackSliderTop = 58, kFeedbackSliderHeight = 95;
constexpr int kFeedbackOnX = 262, kFeedbackOnY = 36;
constexpr int kLeftFeedbackOn = 30, kLeftFeedbackLevel = 31, kRightFeedbackLevel = 34;

TEST_F(EditorHostEndToEnd, ScreenshotShowsThePanelAndGesturesReachTheHost) {
    // The picture.
    const std::string shot = tempPath("shot.png");
    ASSERT_EQ(run(std::string(QL_EDITOR_TOOL) + " --plugin " QL_PLUGIN_FILE " --program 0" +
                  " --screenshot " + shot + " --after-ms 600 >/dev/null"),
              0);
    const Png png = loadPng(shot);
    std::remove(shot.c_str());
    ASSERT_EQ(png.width, 600);
    ASSERT_EQ(png.height, 369);
    EXPECT_TRUE(png.at(230, 300).lightGrey()) << "panel body";
    EXPECT_TRUE(png.at(560, 120).lightGrey()) << "panel body";
    EXPECT_TRUE(png.at(100, 345).dark()) << "bottom bar";
    EXPECT_TRUE(png.at(560, 20).dark()) << "status display";
    // Program 0 has the left feedback on: its button shows the lit face.
    EXPECT_TRUE(png.at(kFeedbackOnX, kFeedbackOnY).green()) << "left feedback on button";
    const int thumb = thumbCentre(png, kFeedbackSliderX, kFeedbackSliderTop, kFeedbackSliderHeight);
    ASSERT_GT(thumb, kFeedbackSliderTop + 20) << "no thumb low enough to drag up";

    // The gestures, on a running editor.
    const std::string out = tempPath("out.txt");
    const std::string pidFile = tempPath("pid");
    ASSERT_EQ(run(std::string(QL_EDITOR_TOOL) + " --plugin " QL_PLUGIN_FILE " --program 0" +
                  " --quit-after-ms 20000 >" + out + " 2>&1 & echo $! >" + pidFile),
              0);
    std::string window;
    for (auto end = Clock::now() + std::chrono::seconds(10); Clock::now() < end;) {
        std::istringstream text(readFile(out));
        std::string word, size, x, h, in, win;
        if (text >> word >> word >> size >> x >> h >> in >> word >> window) break;
        window.clear();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const pid_t pid = std::stoi(readFile(pidFile));
    ASSERT_FALSE(window.empty()) << readFile(out);

    const std::string at = " --window " + window + " ";
    const std::string drag =
        "xdotool mousemove" + at + std::to_string(kFeedbackSliderX) + " " + std::to_string(thumb) +
        " sleep 0.2 mousedown 1 sleep 0.2 mousemove" + at + std::to_string(kFeedbackSliderX) +
        " " + std::to_string(thumb - 10) + " sleep 0.2 mousemove" + at +
        std::to_string(kFeedbackSliderX) + " " + std::to_string(thumb - 25) +
        " sleep 0.2 mouseup 1 sleep 0.3";
    const std::string click = "xdotool mousemove" + at + std::to_string(kFeedbackOnX) + " " +
                              std::to_string(kFeedbackOnY) + " sleep 0.2 click 1 sleep 0.5";
    EXPECT_EQ(run(drag), 0);
    EXPECT_EQ(run(click), 0);
    kill(pid, SIGTERM);
    for (auto end = Clock::now() + std::chrono::seconds(5);
         kill(pid, 0) == 0 && Clock::now() < end;)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::string output = readFile(out);
    std::remove(out.c_str());
    std::remove(pidFile.c_str());

    const auto sent = automated(output);
    float level = -1.0f;
    bool rightSent = false, buttonOff = false;
    for (const auto& [index, value] : sent) {
        if (index == kLeftFeedbackLevel) level = value;
        rightSent |= index == kRightFeedbackLevel;
        buttonOff |= index == kLeftFeedbackOn && value == 0.0f;
    }
    // Dragging up raises the level from program 0's value; the pair's other member is sent too.
    EXPECT_GT(level, 0.4f) << output;
    EXPECT_LE(level, 1.0f);
    EXPECT_TRUE(rightSent) << output;
    EXPECT_TRUE(buttonOff) << "the click did not switch the left feedback off:\n" << output;
}

} // namespace

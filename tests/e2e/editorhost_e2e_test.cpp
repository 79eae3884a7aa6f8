// End to end: quillantrope-editor hosts the real editor on the X display; its screenshot must show
// the panel, and a slider drag and a button click made with xdotool must reach the host as
// audioMasterAutomate. Needs a display and xdotool; scripts/test provides both. The points probed
// are those of editor_probes.txt, which the Windows editor's check reads too.
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
#include <map>
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

// What the picture and the gestures must show (editor_probes.txt).
struct Probes {
    struct Point {
        int x, y;
        std::string kind, label;
    };
    int width = 0, height = 0;
    std::vector<Point> points;
    int sliderX = 0, sliderTop = 0, sliderHeight = 0;
    int buttonX = 0, buttonY = 0;
    int leftFeedbackOn = -1, leftFeedbackLevel = -1, rightFeedbackLevel = -1;
};

Probes loadProbes() {
    Probes p;
    std::istringstream lines(readFile(QL_EDITOR_PROBES));
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string word;
        if (!(words >> word) || word[0] == '#') continue;
        if (word == "size") {
            words >> p.width >> p.height;
        } else if (word == "point") {
            Probes::Point point;
            words >> point.x >> point.y >> point.kind >> std::ws;
            std::getline(words, point.label);
            p.points.push_back(point);
        } else if (word == "slider") {
            words >> p.sliderX >> p.sliderTop >> p.sliderHeight;
        } else if (word == "button") {
            words >> p.buttonX >> p.buttonY;
        } else if (word == "parameters") {
            words >> p.leftFeedbackOn >> p.leftFeedbackLevel >> p.rightFeedbackLevel;
        }
    }
    return p;
}

bool holds(const std::string& kind, Rgb colour) {
    static const std::map<std::string, bool (*)(Rgb)> classes = {
        {"lightgrey", [](Rgb c) { return c.lightGrey(); }},
        {"dark", [](Rgb c) { return c.dark(); }},
        {"green", [](Rgb c) { return c.green(); }},
        {"notgreen", [](Rgb c) { return !c.green(); }}};
    const auto found = classes.find(kind);
    return found != classes.end() && found->second(colour);
}

TEST_F(EditorHostEndToEnd, ScreenshotShowsThePanelAndGesturesReachTheHost) {
    const Probes probes = loadProbes();
    ASSERT_FALSE(probes.points.empty()) << QL_EDITOR_PROBES;
    const int sliderX = probes.sliderX, sliderTop = probes.sliderTop;
    const int buttonX = probes.buttonX, buttonY = probes.buttonY;
    const int feedbackOn = probes.leftFeedbackOn, feedbackLevel = probes.leftFeedbackLevel,
              rightLevel = probes.rightFeedbackLevel;

    // The picture.
    const std::string shot = tempPath("shot.png");
    ASSERT_EQ(run(std::string(QL_EDITOR_TOOL) + " --plugin " QL_PLUGIN_FILE " --program 0" +
                  " --screenshot " + shot + " --after-ms 600 >/dev/null"),
              0);
    const Png png = loadPng(shot);
    std::remove(shot.c_str());
    ASSERT_EQ(png.width, probes.width);
    ASSERT_EQ(png.height, probes.height);
    // Program 0 has the left feedback on: among the points is its button, lit.
    for (const auto& point : probes.points)
        EXPECT_TRUE(holds(point.kind, png.at(point.x, point.y)))
            << point.label << " at (" << point.x << "," << point.y << ") is not " << point.kind;
    const int thumb = thumbCentre(png, sliderX, sliderTop, probes.sliderHeight);
    ASSERT_GT(thumb, sliderTop + 20) << "no thumb low enough to drag up";

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
    const std::string drag = "xdotool mousemove" + at + std::to_string(sliderX) + " " +
                             std::to_string(thumb) + " sleep 0.2 mousedown 1 sleep 0.2 mousemove" +
                             at + std::to_string(sliderX) + " " + std::to_string(thumb - 10) +
                             " sleep 0.2 mousemove" + at + std::to_string(sliderX) + " " +
                             std::to_string(thumb - 25) + " sleep 0.2 mouseup 1 sleep 0.3";
    const std::string click = "xdotool mousemove" + at + std::to_string(buttonX) + " " +
                              std::to_string(buttonY) + " sleep 0.2 click 1 sleep 0.5";
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
        if (index == feedbackLevel) level = value;
        rightSent |= index == rightLevel;
        buttonOff |= index == feedbackOn && value == 0.0f;
    }
    // Dragging up raises the level from program 0's value; the pair's other member is sent too.
    EXPECT_GT(level, 0.4f) << output;
    EXPECT_LE(level, 1.0f);
    EXPECT_TRUE(rightSent) << output;
    EXPECT_TRUE(buttonOff) << "the click did not switch the left feedback off:\n" << output;
}

} // namespace

// The LV2 build rendered by quillantrope-render through lilv against its oracle, the VST 2
// build: the same bytes for every factory program, with the host's tempo and without one.
#include "toolrun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>

#if defined(QL_LV2_BUNDLE)
namespace qltest {
namespace {

std::string bytesOf(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(Lv2Render, EveryProgramRendersTheVst2BuildsBytes) {
    ScratchFolder dir;
    // Stereo hits, different on each side, half a second.
    std::vector<float> left(22050, 0.0f), right(22050, 0.0f);
    for (int i = 0; i < 400; ++i) {
        left[size_t(100 + i)] = 0.7f * std::sin(0.07f * float(i)) * float(400 - i) / 400.0f;
        right[size_t(9000 + i)] = 0.5f * std::sin(0.13f * float(i)) * float(400 - i) / 400.0f;
    }
    const std::string input = (dir / "in.wav").string();
    writeSound(input, 44100, left, &right);
    for (int program = 0; program < 40; ++program) {
        for (bool hostTempo : {true, false}) {
            std::vector<std::string> common = {input,    "--program", std::to_string(program),
                                               "--tail", "1",         "--quiet"};
            if (hostTempo)
                common.insert(common.end(), {"--tempo", "97.3"});
            else
                common.push_back("--no-host-time");
            auto vst2 = common, lv2 = common;
            vst2.insert(vst2.end(), {"-o", (dir / "vst2.wav").string()});
            lv2.insert(lv2.end(), {"-o", (dir / "lv2.wav").string(), "--plugin", QL_LV2_BUNDLE});
            const ToolResult a = runTool(vst2), b = runTool(lv2);
            ASSERT_EQ(a.exitCode, 0) << a.err;
            ASSERT_EQ(b.exitCode, 0) << b.err;
            EXPECT_EQ(bytesOf(dir / "vst2.wav"), bytesOf(dir / "lv2.wav"))
                << "program " << program << (hostTempo ? " at 97.3 BPM" : " without host time");
        }
    }
}

} // namespace
} // namespace qltest
#endif

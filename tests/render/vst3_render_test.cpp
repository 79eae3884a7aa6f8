// The render tool through the VST3 build writes the very bytes it writes through the VST 2 build,
// at a host tempo and with none, with programs and parameters set.
#include "toolrun.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace qltest {
namespace {

std::vector<char> bytesOf(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

#if defined(QL_VST3_BUNDLE)
TEST(RenderVst3, WritesTheSameBytesAsVst2) {
    ScratchFolder dir;
    const std::vector<std::vector<std::string>> cases = {
        {"--program", "0", "--tempo", "97"},
        {"--program", "15", "--no-host-time"},
        {"--program", "27", "--tempo", "133", "--param", "LeftFeedbackLevel=0.6"},
    };
    for (const auto& settings : cases) {
        std::vector<std::string> vst2 = {"-o", (dir / "vst2.wav").string(), "--tail", "3"};
        vst2.insert(vst2.end(), settings.begin(), settings.end());
        std::vector<std::string> vst3 = vst2;
        vst3[1] = (dir / "vst3.wav").string();
        vst3.insert(vst3.end(), {"--format", "vst3", "--plugin", QL_VST3_BUNDLE});
        const ToolResult a = runTool(vst2), b = runTool(vst3);
        ASSERT_EQ(a.exitCode, 0) << a.err;
        ASSERT_EQ(b.exitCode, 0) << b.err;
        const auto expected = bytesOf(dir / "vst2.wav");
        EXPECT_GT(expected.size(), 44u * 1000);
        EXPECT_TRUE(bytesOf(dir / "vst3.wav") == expected) << settings[1];
    }
}
#endif

} // namespace qltest

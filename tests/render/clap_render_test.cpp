// The render through the CLAP build against its oracle, the render through the VST 2 build: the
// same bytes for every factory program, with the host's tempo and with no host time.
#include "toolrun.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace qltest {
namespace {

namespace fs = std::filesystem;

constexpr int kFactoryPrograms = 36;

std::string bytesOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ClapRender : public ::testing::TestWithParam<bool> {};

TEST_P(ClapRender, EveryFactoryProgramIsTheVst2BuildsBytes) {
    ScratchFolder dir;
    const bool hostTime = GetParam();
    std::string previous;
    for (int program = 0; program < kFactoryPrograms; ++program) {
        std::string files[2];
        for (int f = 0; f < 2; ++f) {
            const fs::path out = dir / (std::to_string(f) + ".wav");
            // The demo, shortened: two seconds of echoes after it are plenty for a comparison.
            std::vector<std::string> args = {"-o",        out.string(),
                                             "--format",  f ? "clap" : "vst2",
                                             "--program", std::to_string(program),
                                             "--tail",    "2"};
            if (hostTime) {
                args.insert(args.end(), {"--tempo", "97"});
            } else {
                args.push_back("--no-host-time");
            }
            const ToolResult run = runTool(args);
            ASSERT_EQ(run.exitCode, 0) << run.err;
            files[f] = bytesOf(out);
        }
        ASSERT_GT(files[0].size(), 100000u);
        EXPECT_TRUE(files[0] == files[1]) << "program " << program;
        EXPECT_NE(files[0], previous) << "program " << program << " sounds as the one before";
        previous = files[0];
    }
}

INSTANTIATE_TEST_SUITE_P(HostTime, ClapRender, ::testing::Bool(),
                         [](const auto& p) { return p.param ? "Tempo97" : "NoHostTime"; });

} // namespace
} // namespace qltest

// The effect's parameters, programs and identity, seen from inside: who is told about a change,
// what the construction keeps from the host, and the user's decimal separator.
#include "effect/aplugin.h"
#include "effect/presets.h"
#include "valuemodel/numtext.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Request {
    VstInt32 opcode, index;
    VstIntPtr value;
    float opt;
};
std::vector<Request> gRequests;
VstTimeInfo* gTimeInfo = nullptr;
std::string gVendor = "Vendor";

VstIntPtr QL_VSTCALL host(AEffect*, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                          float opt) {
    gRequests.push_back({opcode, index, value, opt});
    if (opcode == audioMasterGetTime) return reinterpret_cast<VstIntPtr>(gTimeInfo);
    if (opcode == audioMasterGetVendorString) {
        // a host that fills its whole 64-byte allowance
        std::memcpy(ptr, gVendor.data(), gVendor.size() + 1);
        return 1;
    }
    return 0;
}

using TestPlugin = APlugin;

// The indices marked for the editor since the last take.
std::vector<int> Marked(APlugin& plugin) {
    const APlugin::ChangeMask mask = plugin.takeEditorChanges();
    std::vector<int> marked;
    for (int i = 0; i < 128; ++i)
        if (mask[size_t(i) / 64] >> (i % 64) & 1) marked.push_back(i);
    return marked;
}

class PluginTest : public ::testing::Test {
  protected:
    void SetUp() override {
        gRequests.clear();
        gTimeInfo = nullptr;
        gVendor = "Vendor";
        plugin = std::make_unique<TestPlugin>(host);
        gRequests.clear();
    }
    void TearDown() override { ql::setDecimalSeparator('.'); }
    std::unique_ptr<TestPlugin> plugin;
};

} // namespace

TEST_F(PluginTest, EveryAcceptedChangeIsMarkedForTheEditorAndReachesTheCurrentProgram) {
    Marked(*plugin); // the construction's own program load
    plugin->setParameter(5, 1.5f);
    plugin->setParameter(79, 0.5f);
    EXPECT_EQ(plugin->program(0).getValue(5), 1.0f);
    plugin->setParameter(80, 0.5f);
    plugin->setParameter(-1, 0.5f);
    EXPECT_EQ(Marked(*plugin), (std::vector<int>{5, 79})) << "ignored indices mark nothing";
    EXPECT_TRUE(Marked(*plugin).empty()) << "a take clears the marks";
    EXPECT_TRUE(gRequests.empty()) << "the host is not told of its own changes";
}

TEST_F(PluginTest, ProgramChangeMarksEveryValue) {
    Marked(*plugin);
    plugin->setProgram(12);
    EXPECT_EQ(Marked(*plugin).size(), 80u);
    EXPECT_EQ(plugin->getParameter(ql::DryOn), 1.0f);
    EXPECT_EQ(plugin->getParameter(ql::LeftDelayLevel), 0.4f);

    plugin->setProgram(40);
    plugin->setProgram(-1);
    EXPECT_EQ(plugin->getProgram(), 12);
    EXPECT_TRUE(Marked(*plugin).empty());
    EXPECT_TRUE(gRequests.empty()) << "program loads are not automation";
}

TEST_F(PluginTest, AutomationStoresTheClampedValueAndTellsTheHostTheOriginal) {
    plugin->setParameterAutomated(3, 1.5f);
    EXPECT_EQ(plugin->getParameter(3), 1.0f);
    ASSERT_EQ(gRequests.size(), 1u);
    EXPECT_EQ(gRequests[0].opcode, audioMasterAutomate);
    EXPECT_EQ(gRequests[0].index, 3);
    EXPECT_EQ(gRequests[0].opt, 1.5f);
}

TEST_F(PluginTest, DisplayUsesTheUsersDecimalSeparator) {
    ql::setDecimalSeparator(',');
    char text[16] = {};
    plugin->setParameter(20, 0.14f);
    plugin->getParameterDisplay(20, text);
    EXPECT_STREQ(text, "0,14");
}

TEST_F(PluginTest, ProgramNameCapacity) {
    char longName[64];
    std::memset(longName, 'n', sizeof longName - 1);
    longName[sizeof longName - 1] = '\0';
    plugin->setProgramName(longName);
    EXPECT_EQ(std::strlen(plugin->program(0).getName()),
              static_cast<size_t>(APluginProgram::kNameCapacity));
    EXPECT_GE(APluginProgram::kNameCapacity, 27);
    char out[64];
    std::memset(out, '#', sizeof out);
    plugin->getProgramName(out);
    EXPECT_EQ(std::strlen(out), 24u);
    EXPECT_EQ(out[25], '#');
}

TEST(PluginConstruction, StartsOnTheFirstPresetAndKeepsWhatTheHostSaid) {
    VstTimeInfo info{};
    info.sampleRate = 96000.0;
    gTimeInfo = &info;
    gVendor = std::string(63, 'v');
    gRequests.clear();
    auto plugin = std::make_unique<APlugin>(host);
    EXPECT_EQ(plugin->getProgram(), 0);
    for (int i = 0; i < ql::kNumParams; ++i)
        EXPECT_EQ(plugin->getParameter(i), plugin->program(0).getValue(i)) << i;
    EXPECT_STREQ(plugin->program(0).getName(), "SEND PingPong 6/16");
    EXPECT_EQ(plugin->getCurrentSampleRate(), 96000.0);
    EXPECT_EQ(plugin->getCurrentTempo(), 140.0);
    EXPECT_FALSE(plugin->getHostHasTimeInfo());
    EXPECT_EQ(std::string(plugin->getHostVendor()), gVendor);
    gTimeInfo = nullptr;
}

TEST(PluginConstruction, WorksWithoutAHost) {
    auto plugin = std::make_unique<APlugin>(nullptr);
    EXPECT_EQ(plugin->getCurrentSampleRate(), 44100.0);
    EXPECT_STREQ(plugin->getHostVendor(), "");
    EXPECT_EQ(plugin->getAeffect()->flags, 25);
    plugin->setParameterAutomated(7, 0.25f);
    EXPECT_EQ(plugin->getParameter(7), 0.25f);
}

TEST(FactoryPresets, RulesProduceTheTable) {
    // The ping-pong rule: offset = 0.5 - t/2, so 6/16 gives 0.3125; stereo swaps the sides.
    auto p0 = ql::makeFactoryPreset(0);
    EXPECT_EQ(p0->getValue(ql::LeftInitialDelayTime), 0.3125f);
    EXPECT_EQ(p0->getValue(ql::RightInitialDelayTime), 0.5f);
    auto p4 = ql::makeFactoryPreset(4);
    EXPECT_STREQ(p4->getName(), "SEND Stereo 5/3/16");
    EXPECT_EQ(p4->getValue(ql::LeftDelayTime), 0.3125f);
    EXPECT_EQ(p4->getValue(ql::RightDelayTime), 0.1875f);
    auto p35 = ql::makeFactoryPreset(35);
    EXPECT_STREQ(p35->getName(), "INSERT Mono 8/16 DUCKER");
    EXPECT_EQ(p35->getValue(ql::DuckerOn), 1.0f);
    EXPECT_EQ(p35->getValue(ql::DuckerRange), 0.3f);
    EXPECT_EQ(ql::makeFactoryPreset(36), nullptr);
    EXPECT_EQ(ql::makeFactoryPreset(-1), nullptr);
}

// The headless backend as the window system of the plug-in's test build (Quillantrope_headless):
// hosts without a display (memcheck and soak runs) open the real editor on it. Nothing observes
// its windows there, and nothing but the host's idle calls moves its clock.
#include "framework/platform/headless/headless.h"
#include "framework/platform/native.h"

namespace {
// One idle call stands for one period of the editor's refresh timer, so a host idling at 10 Hz of
// its audio time sees the editor refresh at that rate.
constexpr uint64_t kIdleStepMs = 100;
} // namespace

std::unique_ptr<IPlatform> NewNativePlatform() {
    auto platform = std::make_unique<THeadlessPlatform>();
    platform->SetPumpAdvance(kIdleStepMs);
    platform->SetLogBlits(false);
    return platform;
}

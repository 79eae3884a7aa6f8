// Making the one effect for a host: the VST 2 entry points and the other formats' bridge both
// come here, so every format sees the same start-up.
#include "shell/pluginfactory.h"
#include "sys/userlocale.h"
#include "valuemodel/numtext.h"

#include <atomic>

namespace ql {

AEffect* createVstEffect(audioMasterCallback audioMaster) {
    // A missing callback, or a host answering 0, is not a VST host: make nothing.
    if (!audioMaster) return nullptr;
    try {
        if (audioMaster(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) return nullptr;
        // The user's decimal separator is read once, before the first effect exists.
        static std::atomic<bool> separatorRead{false};
        if (!separatorRead.exchange(true)) setDecimalSeparator(sys::userDecimalSeparator());
        AudioEffect* effect = createEffectInstance(audioMaster);
        return effect ? effect->getAeffect() : nullptr;
    } catch (...) {
        return nullptr;
    }
}

} // namespace ql

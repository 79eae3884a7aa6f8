// libFuzzer target for the saved-state loader. An input is either a whole blob (first byte even)
// or edits of a valid blob (first byte odd: a length to cut it to, then offset/value pairs), so
// the fuzzer reaches both the first checks and the deep ones. Every input is loaded into one
// long-lived effect; the host checks that a refused blob changed nothing and an accepted one
// gives back, when saved again, exactly the state it held (the current program taking the
// current values, as every edit does).
#include "formats/bridge/pluginbridge.h"
#include "fuzzcheck.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static ql::formats::PluginBridge bridge;
    static const std::vector<std::uint8_t> valid = [] {
        ql::formats::PluginBridge source;
        source.selectProgram(5);
        return source.saveState();
    }();
    if (size == 0) return 0;

    std::vector<std::uint8_t> blob;
    if (data[0] % 2 == 0) {
        blob.assign(data + 1, data + size);
    } else {
        blob = valid;
        std::size_t at = 1;
        if (size >= 3) {
            const std::size_t cut = std::size_t(data[1]) | std::size_t(data[2]) << 8;
            if (cut < blob.size() && data[1] != 0xFF) blob.resize(cut);
            at = 3;
        }
        for (; at + 2 < size && !blob.empty(); at += 3) {
            const std::size_t offset = (std::size_t(data[at]) | std::size_t(data[at + 1]) << 8);
            blob[offset % blob.size()] = data[at + 2];
        }
    }

    const auto before = bridge.saveState();
    const ql::StateResult result = bridge.loadState(blob.data(), blob.size());
    const auto after = bridge.saveState();
    if (result != ql::StateResult::Ok) {
        QL_FUZZ_CHECK(after == before);
    } else {
        ql::EffectState loaded;
        QL_FUZZ_CHECK(ql::decodeState(blob.data(), blob.size(), loaded) == ql::StateResult::Ok);
        // The current program holds what is heard: it takes the current values.
        std::copy(std::begin(loaded.values), std::end(loaded.values),
                  loaded.programs[loaded.currentProgram].values);
        QL_FUZZ_CHECK(after == ql::encodeState(loaded));
    }
    return 0;
}

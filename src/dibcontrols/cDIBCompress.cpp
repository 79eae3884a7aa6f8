#include "dibcontrols/cDIBCompress.h"

#include <algorithm>
#include <cstring>

namespace {

std::vector<std::shared_ptr<TDIBDecompressor>>& decompressors() {
    static std::vector<std::shared_ptr<TDIBDecompressor>> list;
    return list;
}

std::shared_ptr<TDIBCompressor>& activeCompressor() {
    static std::shared_ptr<TDIBCompressor> active;
    return active;
}

uint32_t readU32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Largest plain block a stored image can have (65535 x 65535 pixels plus the header); a stated
// size beyond it is corrupt and must not drive an allocation.
constexpr uint64_t kMaxPlainSize = 4ull + 65535ull * 65535ull * 4ull;

} // namespace

void RegisterDIBDecompressor(std::shared_ptr<TDIBDecompressor> decompressor) {
    if (decompressor) decompressors().push_back(std::move(decompressor));
}

void UnregisterDIBDecompressor(const TDIBDecompressor* decompressor) {
    auto& list = decompressors();
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const auto& d) { return d.get() == decompressor; }),
               list.end());
}

const TDIBDecompressor* FindDIBDecompressor(const TDIBCompressorID& id) {
    const auto& list = decompressors();
    for (auto it = list.rbegin(); it != list.rend(); ++it)
        if ((*it)->Accepts(id)) return it->get();
    return nullptr;
}

void SetActiveDIBCompressor(std::shared_ptr<TDIBCompressor> compressor) {
    activeCompressor() = std::move(compressor);
}

std::shared_ptr<TDIBCompressor> ActiveDIBCompressor() {
    return activeCompressor();
}

bool IsDIBEnvelope(std::span<const uint8_t> block) {
    return block.size() >= kDIBEnvelopeHeaderSize &&
           std::memcmp(block.data(), kDIBEnvelopeTag, sizeof kDIBEnvelopeTag) == 0;
}

std::vector<uint8_t> UnwrapDIBEnvelope(std::span<const uint8_t> block) {
    if (!IsDIBEnvelope(block)) throw EDIBCompressError("Compressed image data is truncated.");
    TDIBCompressorID id;
    std::memcpy(id.data(), block.data() + 6, id.size());
    const uint32_t plainSize = readU32(block.data() + 22);
    const TDIBDecompressor* decompressor = FindDIBDecompressor(id);
    if (!decompressor) throw EDIBCompressError("Could not find a suitable decompressor.");
    if (plainSize > kMaxPlainSize)
        throw EDIBCompressError("Compressed image data states an impossible size.");
    std::vector<uint8_t> plain =
        decompressor->Decompress(block.subspan(kDIBEnvelopeHeaderSize), plainSize);
    if (plain.size() != plainSize)
        throw EDIBCompressError("Compressed image data does not expand to its stated size.");
    return plain;
}

std::vector<uint8_t> WrapDIBBlock(std::vector<uint8_t> plain) {
    const std::shared_ptr<TDIBCompressor> compressor = activeCompressor();
    if (!compressor || plain.size() > 0xFFFFFFFFu) return plain;
    std::vector<uint8_t> packed = compressor->Compress(plain);
    if (packed.empty()) return plain;
    std::vector<uint8_t> out;
    out.reserve(kDIBEnvelopeHeaderSize + packed.size());
    out.insert(out.end(), kDIBEnvelopeTag, kDIBEnvelopeTag + sizeof kDIBEnvelopeTag);
    const TDIBCompressorID id = compressor->ID();
    out.insert(out.end(), id.begin(), id.end());
    const auto size = uint32_t(plain.size());
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(uint8_t(size >> shift));
    out.insert(out.end(), packed.begin(), packed.end());
    return out;
}

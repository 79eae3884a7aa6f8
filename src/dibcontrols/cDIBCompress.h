// Compression of stored image blocks. A block may come wrapped in an envelope that names the
// compressor by GUID; readers find a matching decompressor in a process-wide registry. The
// program itself registers none, so every block it writes is plain; the registry exists so that
// blocks written by a build that had one fail with a clear message instead of being misread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

class EDIBCompressError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A GUID in its 16-byte binary form, as it appears in the envelope.
using TDIBCompressorID = std::array<uint8_t, 16>;

class TDIBDecompressor {
  public:
    virtual ~TDIBDecompressor() = default;
    virtual bool Accepts(const TDIBCompressorID& id) const = 0;
    // Expands `packed` into exactly `plainSize` bytes, or throws.
    virtual std::vector<uint8_t> Decompress(std::span<const uint8_t> packed,
                                            size_t plainSize) const = 0;
};

class TDIBCompressor {
  public:
    virtual ~TDIBCompressor() = default;
    virtual TDIBCompressorID ID() const = 0;
    // An empty result means "store plain".
    virtual std::vector<uint8_t> Compress(std::span<const uint8_t> plain) const = 0;
};

// Registry (user-interface thread only). Lookups go from the most recently registered backwards.
void RegisterDIBDecompressor(std::shared_ptr<TDIBDecompressor> decompressor);
void UnregisterDIBDecompressor(const TDIBDecompressor* decompressor);
const TDIBDecompressor* FindDIBDecompressor(const TDIBCompressorID& id);

// The compressor used when blocks are written; none by default.
void SetActiveDIBCompressor(std::shared_ptr<TDIBCompressor> compressor);
std::shared_ptr<TDIBCompressor> ActiveDIBCompressor();

// Envelope layout: "DIBCMP", 16-byte id, 4-byte little-endian plain size, packed bytes.
inline constexpr char kDIBEnvelopeTag[6] = {'D', 'I', 'B', 'C', 'M', 'P'};
inline constexpr size_t kDIBEnvelopeHeaderSize = 26;

bool IsDIBEnvelope(std::span<const uint8_t> block);
// Unwraps an envelope into the plain form; throws EDIBCompressError when no decompressor
// accepts it or the result does not have the stated size.
std::vector<uint8_t> UnwrapDIBEnvelope(std::span<const uint8_t> block);
// Wraps `plain` with the active compressor if one is set and it compresses; otherwise returns
// `plain` unchanged.
std::vector<uint8_t> WrapDIBBlock(std::vector<uint8_t> plain);

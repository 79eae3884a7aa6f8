// The stored DIB.Data block: plain form, compression envelope and malformed blocks.
#include "dib_test_util.h"

#include "dibcontrols/cDIBCompress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

std::vector<uint8_t> plainBlock(int w, int h, uint8_t fill) {
    std::vector<uint8_t> block(4 + size_t(w) * size_t(h) * 4, fill);
    block[0] = uint8_t(w);
    block[1] = uint8_t(w >> 8);
    block[2] = uint8_t(h);
    block[3] = uint8_t(h >> 8);
    return block;
}

TDIBCompressorID idOf(uint8_t tag) {
    TDIBCompressorID id{};
    id.fill(tag);
    return id;
}

// "Compresses" by storing the plain form reversed, so a misread would be visible.
struct ReversingCodec : TDIBDecompressor, TDIBCompressor {
    uint8_t tag;
    mutable int decompressCalls = 0;
    bool refuse = false;
    explicit ReversingCodec(uint8_t t) : tag(t) {}
    bool Accepts(const TDIBCompressorID& id) const override { return id == idOf(tag); }
    std::vector<uint8_t> Decompress(std::span<const uint8_t> packed, size_t) const override {
        ++decompressCalls;
        return {packed.rbegin(), packed.rend()};
    }
    TDIBCompressorID ID() const override { return idOf(tag); }
    std::vector<uint8_t> Compress(std::span<const uint8_t> plain) const override {
        if (refuse) return {};
        return {plain.rbegin(), plain.rend()};
    }
};

std::vector<uint8_t> envelope(uint8_t tag, uint32_t statedSize, std::vector<uint8_t> packed) {
    std::vector<uint8_t> out;
    out.reserve(kDIBEnvelopeHeaderSize + packed.size());
    for (char c : kDIBEnvelopeTag)
        out.push_back(uint8_t(c));
    for (uint8_t b : idOf(tag))
        out.push_back(b);
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(uint8_t(statedSize >> shift));
    out.insert(out.end(), packed.begin(), packed.end());
    return out;
}

// Registers codecs for one test and removes them afterwards.
class DIBDataEnvelope : public ::testing::Test {
  protected:
    std::vector<std::shared_ptr<ReversingCodec>> codecs;
    std::shared_ptr<ReversingCodec> add(uint8_t tag) {
        auto codec = std::make_shared<ReversingCodec>(tag);
        codecs.push_back(codec);
        RegisterDIBDecompressor(codec);
        return codec;
    }
    void TearDown() override {
        for (auto& codec : codecs)
            UnregisterDIBDecompressor(codec.get());
        SetActiveDIBCompressor(nullptr);
    }
};

TEST(DIBData, PlainBlockSizesAndLayout) {
    TMemoryDIB knob(27, 16);
    EXPECT_EQ(knob.SaveToStream().size(), 1732u);
    TMemoryDIB small(16, 3);
    fillCoords(small);
    const std::vector<uint8_t> block = small.SaveToStream();
    ASSERT_EQ(block.size(), 196u);
    EXPECT_EQ(block[0], 16);
    EXPECT_EQ(block[1], 0);
    EXPECT_EQ(block[2], 3);
    EXPECT_EQ(block[3], 0);
    // First stored pixel: bottom-left, bytes B, G, R, A.
    EXPECT_EQ(block[4], 0); // x
    EXPECT_EQ(block[5], 2); // y of the bottom row
    EXPECT_EQ(block[6], 0x77);
    EXPECT_EQ(block[7], 0xFF);
}

TEST(DIBData, RoundTripKeepsEveryByte) {
    TMemoryDIB source(300, 7);
    fillCoords(source);
    TMemoryDIB copy;
    int changes = 0;
    copy.SetOnChange([&](TAbstractSuperDIB&) { ++changes; });
    copy.LoadFromStream(source.SaveToStream());
    EXPECT_EQ(changes, 1);
    ASSERT_EQ(copy.Width(), 300);
    ASSERT_EQ(copy.Height(), 7);
    EXPECT_EQ(std::memcmp(copy.Pixels(), source.Pixels(), source.ByteSize()), 0);
}

TEST(DIBData, EmptyBlockAndStoreData) {
    TMemoryDIB image(2, 2);
    fillPixels(image, 3);
    image.LoadFromStream({});
    EXPECT_EQ(image.ScanLine(0)[0], 3u);
    image.SetStoreData(false);
    EXPECT_TRUE(image.SaveToStream().empty());
    EXPECT_TRUE(TMemoryDIB().SaveToStream().empty());
}

TEST(DIBData, MalformedBlocksFailAndLeaveTheImage) {
    TMemoryDIB image(2, 2);
    fillPixels(image, 3);
    std::vector<uint8_t> shortHeader = {5, 0, 1};
    std::vector<uint8_t> truncated = plainBlock(27, 16, 0);
    truncated.pop_back();
    std::vector<uint8_t> tooLong = plainBlock(2, 2, 0);
    tooLong.push_back(0);
    std::vector<uint8_t> zeroWidth = {0, 0, 5, 0};
    std::vector<uint8_t> huge = {0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3, 4};
    for (const auto* block : {&shortHeader, &truncated, &tooLong, &zeroWidth, &huge}) {
        EXPECT_THROW(image.LoadFromStream(*block), EDIBError);
        EXPECT_EQ(image.Width(), 2);
        EXPECT_EQ(image.ScanLine(1)[1], 3u);
    }
}

TEST_F(DIBDataEnvelope, UnknownCompressorIsNeverReadAsPixels) {
    TMemoryDIB image(2, 2);
    // 26 bytes of envelope header and 4 more: as a plain block it would even look plausible.
    const std::vector<uint8_t> block = envelope(7, 20, {1, 0, 1, 0});
    try {
        image.LoadFromStream(block);
        FAIL() << "an envelope without a decompressor must fail";
    } catch (const EDIBCompressError& e) {
        EXPECT_STREQ(e.what(), "Could not find a suitable decompressor.");
    }
    EXPECT_EQ(image.Width(), 2);
}

TEST_F(DIBDataEnvelope, DecompressorsAreSearchedNewestFirst) {
    auto older = add(7);
    auto newer = add(7);
    TMemoryDIB source(3, 2);
    fillCoords(source);
    std::vector<uint8_t> plain = source.SaveToStream();
    const auto size = uint32_t(plain.size());
    std::reverse(plain.begin(), plain.end());
    TMemoryDIB image;
    image.LoadFromStream(envelope(7, size, plain));
    EXPECT_EQ(newer->decompressCalls, 1);
    EXPECT_EQ(older->decompressCalls, 0);
    EXPECT_EQ(image.ScanLine(1)[2], coordPixel(2, 1));
}

TEST_F(DIBDataEnvelope, WrongStatedSizeFails) {
    add(7);
    std::vector<uint8_t> plain = plainBlock(2, 2, 9);
    std::reverse(plain.begin(), plain.end());
    TMemoryDIB image(1, 1);
    EXPECT_THROW(image.LoadFromStream(envelope(7, 19, plain)), EDIBCompressError);
    EXPECT_THROW(image.LoadFromStream(envelope(7, 0xFFFFFFFF, plain)), EDIBCompressError);
    EXPECT_EQ(image.Width(), 1);
}

TEST_F(DIBDataEnvelope, ActiveCompressorWrapsAndPlainStaysReadable) {
    auto codec = add(5);
    SetActiveDIBCompressor(codec);
    TMemoryDIB source(4, 4);
    fillCoords(source);
    const std::vector<uint8_t> wrapped = source.SaveToStream();
    ASSERT_GE(wrapped.size(), kDIBEnvelopeHeaderSize);
    EXPECT_EQ(std::memcmp(wrapped.data(), "DIBCMP", 6), 0);
    EXPECT_EQ(wrapped[22] | wrapped[23] << 8, 4 + 4 * 4 * 4);
    TMemoryDIB copy;
    copy.LoadFromStream(wrapped);
    EXPECT_EQ(std::memcmp(copy.Pixels(), source.Pixels(), source.ByteSize()), 0);

    codec->refuse = true; // a compressor that gives nothing back means "write plain"
    EXPECT_EQ(source.SaveToStream().size(), 4u + 64u);
}

} // namespace

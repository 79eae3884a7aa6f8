// A short text that one thread may replace while others read it: a sequence lock over atomic
// bytes, so neither side allocates, blocks the reader, or races. Used for label captions that the
// editor rewrites from whichever thread changed a parameter.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class TSharedText {
  public:
    // Longer texts are cut to this many bytes, at a UTF-8 character boundary.
    static constexpr size_t Capacity = 255;

    TSharedText() = default;
    explicit TSharedText(std::string_view text) { Store(text); }
    TSharedText(const TSharedText&) = delete;
    TSharedText& operator=(const TSharedText&) = delete;

    // Answers whether the text changed.
    bool Store(std::string_view text);
    // A consistent copy into buffer (at least Capacity bytes); answers its length.
    size_t Load(char* buffer) const;
    std::string Load() const;

  private:
    std::atomic<uint32_t> fSequence{0}; // odd while a writer is inside
    std::atomic<uint32_t> fLength{0};
    std::array<std::atomic<char>, Capacity> fBytes{};
};

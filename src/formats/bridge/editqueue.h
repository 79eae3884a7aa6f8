// The editor's edits on their way to a plug-in format: produced on the user-interface thread,
// taken by one thread of the format's choosing (the audio thread, or the UI thread itself).
// Lock-free and allocation-free on both sides.
#pragma once

#include "effect/parameters.h"

#include <array>
#include <atomic>
#include <bitset>
#include <cstddef>
#include <cstdint>

namespace ql::formats {

struct EditEvent {
    enum class Kind : std::uint8_t { Begin, Value, End };
    Kind kind = Kind::Value;
    std::int32_t index = 0;
    float value = 0.0f;
    bool operator==(const EditEvent&) const = default;
};

// Gestures, values and their order, as the editor made them. The first edit of a parameter begins
// its gesture; endGesture() ends every open one (the bridge calls it when an idle call passed
// without edits). Gestures of different parameters overlap, as a linked pair of controls moves
// both at once.
//
// A consumer that falls behind never makes the producer wait or lose the last word: when the ring
// is full, the latest value of a parameter is kept aside and delivered as a gesture of its own
// once every older event of that parameter was taken and its gesture has ended.
class EditQueue {
  public:
    static constexpr std::size_t kCapacity = 1024;

    // Producer (user-interface thread).
    void edit(std::int32_t index, float value);
    void endGesture();

    // Consumer (one thread). False when nothing is waiting.
    bool next(EditEvent& event);

  private:
    std::size_t freeSlots() const {
        return kCapacity - (tail - head.load(std::memory_order_acquire));
    }
    void push(const EditEvent& event);
    bool pop(EditEvent& event);
    void keepAside(std::int32_t index, float value);
    bool asidePending(std::int32_t index) const;
    bool takeAside(std::int32_t index, float& value);

    std::array<EditEvent, kCapacity> ring{};
    std::atomic<std::size_t> head{0}; // next to read; written by the consumer
    std::atomic<std::size_t> tailPublished{0};
    std::size_t tail = 0; // producer's own copy of tailPublished

    // Producer: its open gestures. Every open gesture keeps a ring slot free for its end.
    std::bitset<kNumParams> producerOpen;
    std::size_t producerOpenCount = 0;

    // Values kept aside: the latest value, the ring position they must wait for, a bit each.
    std::array<std::atomic<float>, kNumParams> asideValue{};
    std::array<std::atomic<std::size_t>, kNumParams> asideAfter{};
    std::array<std::atomic<std::uint64_t>, (kNumParams + 63) / 64> asideBits{};

    // Consumer: the gestures it has begun, and the events it still owes (a triple at most).
    std::bitset<kNumParams> consumerOpen;
    std::array<EditEvent, 3> owed{};
    int owedCount = 0, owedNext = 0;
};

} // namespace ql::formats

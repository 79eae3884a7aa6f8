#include "formats/bridge/editqueue.h"

namespace ql::formats {

namespace {
std::size_t word(std::int32_t index) {
    return static_cast<std::size_t>(index) / 64;
}
std::uint64_t bit(std::int32_t index) {
    return std::uint64_t{1} << (index % 64);
}
std::size_t slot(std::int32_t index) {
    return static_cast<std::size_t>(index);
}
} // namespace

void EditQueue::push(const EditEvent& event) {
    ring[tail % kCapacity] = event;
    ++tail;
    tailPublished.store(tail, std::memory_order_release);
}

bool EditQueue::pop(EditEvent& event) {
    const std::size_t h = head.load(std::memory_order_relaxed);
    if (h == tailPublished.load(std::memory_order_acquire)) return false;
    event = ring[h % kCapacity];
    head.store(h + 1, std::memory_order_release);
    return true;
}

void EditQueue::keepAside(std::int32_t index, float value) {
    asideValue[slot(index)].store(value, std::memory_order_relaxed);
    // Everything already in the ring is older: the value waits until the consumer is past it.
    asideAfter[slot(index)].store(tail, std::memory_order_relaxed);
    asideBits[word(index)].fetch_or(bit(index), std::memory_order_release);
}

bool EditQueue::asidePending(std::int32_t index) const {
    return (asideBits[word(index)].load(std::memory_order_acquire) & bit(index)) != 0;
}

bool EditQueue::takeAside(std::int32_t index, float& value) {
    if (consumerOpen[slot(index)] || !asidePending(index)) return false;
    if (head.load(std::memory_order_relaxed) <
        asideAfter[slot(index)].load(std::memory_order_relaxed))
        return false;
    if (!(asideBits[word(index)].fetch_and(~bit(index), std::memory_order_acquire) & bit(index)))
        return false;
    value = asideValue[slot(index)].load(std::memory_order_relaxed);
    return true;
}

void EditQueue::edit(std::int32_t index, float value) {
    if (index < 0 || index >= kNumParams) return;
    // While a value of this parameter waits aside, its later values wait there too (only its
    // gesture's end still goes through the ring): the one delivered is then always the newest.
    const bool aside = asidePending(index);
    const std::size_t reserved = producerOpenCount; // one end per open gesture
    if (!producerOpen[slot(index)]) {
        // Room for the begin, this value and the end this gesture will need.
        if (!aside && freeSlots() >= reserved + 3) {
            push({EditEvent::Kind::Begin, index, 0.0f});
            producerOpen[slot(index)] = true;
            ++producerOpenCount;
        }
    }
    if (producerOpen[slot(index)] && !aside && freeSlots() >= producerOpenCount + 1)
        push({EditEvent::Kind::Value, index, value});
    else
        keepAside(index, value);
}

void EditQueue::endGesture() {
    if (producerOpenCount == 0) return;
    for (std::int32_t index = 0; index < kNumParams; ++index) {
        if (!producerOpen[slot(index)]) continue;
        push({EditEvent::Kind::End, index, 0.0f}); // its slot was kept free
        producerOpen[slot(index)] = false;
    }
    producerOpenCount = 0;
}

bool EditQueue::next(EditEvent& event) {
    if (owedNext < owedCount) {
        event = owed[static_cast<std::size_t>(owedNext++)];
        return true;
    }
    owedCount = owedNext = 0;
    if (pop(event)) {
        if (event.kind == EditEvent::Kind::Begin) consumerOpen[slot(event.index)] = true;
        if (event.kind == EditEvent::Kind::End) consumerOpen[slot(event.index)] = false;
        return true;
    }
    // Drained: a value kept aside, once its parameter's older events are taken and its gesture
    // has ended, becomes a gesture of its own.
    for (std::int32_t index = 0; index < kNumParams; ++index) {
        float last;
        if (!takeAside(index, last)) continue;
        owed[0] = {EditEvent::Kind::Value, index, last};
        owed[1] = {EditEvent::Kind::End, index, 0.0f};
        owedCount = 2;
        event = {EditEvent::Kind::Begin, index, 0.0f};
        return true;
    }
    return false;
}

} // namespace ql::formats

#include "formats/bridge/editqueue.h"

namespace ql::formats {

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
    asideValue[static_cast<std::size_t>(index)].store(value, std::memory_order_relaxed);
    asideBits[static_cast<std::size_t>(index) / 64].fetch_or(std::uint64_t{1} << (index % 64),
                                                              std::memory_order_release);
}

bool EditQueue::takeAside(std::int32_t index, float& value) {
    const std::uint64_t bit = std::uint64_t{1} << (index % 64);
    if (!(asideBits[static_cast<std::size_t>(index) / 64].fetch_and(~bit,
                                                                    std::memory_order_acquire) &
          bit))
        return false;
    value = asideValue[static_cast<std::size_t>(index)].load(std::memory_order_relaxed);
    return true;
}

bool EditQueue::asidePending(std::int32_t index) const {
    return (asideBits[static_cast<std::size_t>(index) / 64].load(std::memory_order_acquire) >>
            (index % 64)) & 1u;
}

void EditQueue::edit(std::int32_t index, float value) {
    if (index < 0 || index >= kNumParams) return;
    // While a value of this parameter waits aside, its later values wait there too: the one
    // delivered is then always the newest.
    const bool aside = asidePending(index);
    if (producerOpen != index) {
        endGesture();
        // Room for the begin, this value and the end the gesture will need.
        if (!aside && freeSlots() >= 3) {
            push({EditEvent::Kind::Begin, index, 0.0f});
            producerOpen = index;
        }
    }
    // A value keeps one slot free for its gesture's end.
    if (producerOpen == index && !aside && freeSlots() >= 2)
        push({EditEvent::Kind::Value, index, value});
    else
        keepAside(index, value);
}

void EditQueue::endGesture() {
    if (producerOpen < 0) return;
    push({EditEvent::Kind::End, producerOpen, 0.0f}); // its slot was kept free
    producerOpen = -1;
}

bool EditQueue::next(EditEvent& event) {
    if (owedNext < owedCount) {
        event = owed[static_cast<std::size_t>(owedNext++)];
        return true;
    }
    owedCount = owedNext = 0;
    if (pop(event)) {
        if (event.kind == EditEvent::Kind::Begin) consumerOpen = event.index;
        if (event.kind == EditEvent::Kind::End) consumerOpen = -1;
        return true;
    }
    // Drained, and between gestures: a value kept aside becomes a gesture of its own. (While
    // the producer holds a gesture open, its begin or end is still to be taken, so the values
    // kept aside always come after every older value of theirs.)
    if (consumerOpen >= 0) return false;
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

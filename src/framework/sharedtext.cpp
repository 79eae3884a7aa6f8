#include "framework/sharedtext.h"

#include <thread>

bool TSharedText::Store(std::string_view text) {
    size_t n = std::min(text.size(), Capacity);
    // Never cut a multi-byte character in half.
    if (n < text.size())
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
            --n;

    // Writers take turns: make the sequence odd, or wait for the other writer.
    uint32_t seq = fSequence.load(std::memory_order_relaxed);
    for (;;) {
        if (seq & 1) {
            std::this_thread::yield();
            seq = fSequence.load(std::memory_order_relaxed);
            continue;
        }
        if (fSequence.compare_exchange_weak(seq, seq + 1, std::memory_order_acquire,
                                            std::memory_order_relaxed))
            break;
    }
    // Release stores keep the odd sequence ahead of the bytes, and acquire loads on the reading
    // side keep its second sequence check behind them (no fences: the thread sanitizer cannot
    // follow those).

    bool changed = fLength.load(std::memory_order_relaxed) != n;
    for (size_t i = 0; i < n && !changed; ++i)
        changed = fBytes[i].load(std::memory_order_relaxed) != text[i];
    if (changed) {
        for (size_t i = 0; i < n; ++i)
            fBytes[i].store(text[i], std::memory_order_release);
        fLength.store(uint32_t(n), std::memory_order_release);
    }
    fSequence.store(seq + 2, std::memory_order_release);
    return changed;
}

size_t TSharedText::Load(char* buffer) const {
    for (;;) {
        const uint32_t before = fSequence.load(std::memory_order_acquire);
        if (before & 1) {
            std::this_thread::yield();
            continue;
        }
        const size_t n = std::min<size_t>(fLength.load(std::memory_order_acquire), Capacity);
        for (size_t i = 0; i < n; ++i)
            buffer[i] = fBytes[i].load(std::memory_order_acquire);
        if (fSequence.load(std::memory_order_relaxed) == before) return n;
    }
}

std::string TSharedText::Load() const {
    char buffer[Capacity];
    return std::string(buffer, Load(buffer));
}

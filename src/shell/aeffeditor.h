// Base class of the object that answers the host's editor opcodes for an effect. Every operation
// has a harmless default so an effect whose editor does nothing still answers the host correctly.
#pragma once

#include "shell/vst2abi.h"

#include <atomic>

class AudioEffect;

class AEffEditor {
  public:
    explicit AEffEditor(AudioEffect* effect) : effect(effect) {}
    virtual ~AEffEditor() = default;
    AEffEditor(const AEffEditor&) = delete;
    AEffEditor& operator=(const AEffEditor&) = delete;

    // Writes the address of the editor's rectangle into *rect; the base has none.
    virtual VstInt32 getRect(ERect** rect) {
        if (rect) *rect = nullptr;
        return 0;
    }
    virtual VstInt32 open(void* ptr) {
        systemWindow = ptr;
        return 0;
    }
    virtual void close() {}
    virtual void idle() {
        // exchange, so an update posted from another thread is never lost or run twice
        if (updateFlag.exchange(0, std::memory_order_relaxed) != 0) update();
    }
    virtual void update() {}
    virtual void postUpdate() { updateFlag.store(1, std::memory_order_relaxed); }
    virtual VstInt32 onKeyDown(VstKeyCode& keyCode) { return -1; }
    virtual VstInt32 onKeyUp(VstKeyCode& keyCode) { return -1; }
    virtual VstInt32 setKnobMode(VstInt32 val) { return 0; }
    virtual bool onWheel(float distance) { return false; }
    // The file descriptor of the open window's window-system connection, or -1: a host may wait
    // on it and then call idle().
    virtual int connectionFd() const { return -1; }

    AudioEffect* getEffect() const { return effect; }
    void* getSystemWindow() const { return systemWindow; }

  protected:
    AudioEffect* effect;
    void* systemWindow = nullptr;
    std::atomic<VstInt32> updateFlag{0};
};

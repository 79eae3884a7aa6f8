// The effect's editor object: creates the editor window inside the host's window when the host
// opens the editor, feeds it parameter values and timing, and destroys it on close.
//
// Threads: getRect, open, close and idle come from the host's user-interface thread; update may
// come from any thread (a host automating from its audio thread). update never calls the window
// system: it only stores values in the window's components. The window is published through an
// atomic pointer and close waits for updates in flight before destroying it, so an update racing a
// close never touches a freed window; the updating thread itself never waits.
#pragma once

#include "shell/aeffeditor.h"

#include <atomic>
#include <cstdint>
#include <memory>

class APlugin;

// The effect's timing as the window shows it, copied on every idle call.
struct TEditorTiming {
    bool HostCanSync = false;
    bool SyncActive = false;
    double LastSampleRate = 0.0;
    float SyncTempo = 0.0f;
    float HostTempo = 0.0f;
    int32_t MsRange = 0;
};

// What the bridge needs of an open editor: the window and the window-system connection it lives
// on. Destroying the view destroys the window, then the connection.
class IEditorView {
  public:
    virtual ~IEditorView() = default;
    virtual int32_t ClientWidth() const = 0;
    virtual int32_t ClientHeight() const = 0;
    // Position and size in the parent window.
    virtual void SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) = 0;
    // Any thread.
    virtual void SetParameterValue(int32_t index, float value) = 0;
    virtual void SetEffect(APlugin* effect) = 0;
    virtual void SetTiming(const TEditorTiming& timing) = 0;
    virtual void Repaint() = 0;
    virtual void EnableUpdater() = 0;
    // One run of the window's refresh, as its timer would.
    virtual void UpdaterTimer() = 0;
    // Input, timer ticks and paints; the host's idle call drives it.
    virtual void PumpEvents() = 0;
    // The window-system connection's file descriptor, or -1.
    virtual int ConnectionFd() const { return -1; }
};

// Makes the view for a host's parent window, or answers null when no window can be made there
// (no display, a parent that does not exist).
using TEditorViewFactory = std::unique_ptr<IEditorView> (*)(void* parent);

class APluginEditor : public AEffEditor {
  public:
    APluginEditor(APlugin* effect, TEditorViewFactory factory);
    ~APluginEditor() override;

    VstInt32 getRect(ERect** place) override;
    VstInt32 open(void* parent) override;
    void close() override;
    void idle() override;
    void update() override;
    int connectionFd() const override;

    int32_t getOpenCount() const { return openCount; }
    void* getParentWindow() const { return parentWindow; }
    bool hasWindow() const { return window.load(std::memory_order_relaxed) != nullptr; }

  private:
    APlugin& plugin() const;
    void pushValues(IEditorView& view);
    void destroyWindow();

    ERect rect{0, 0, 0, 0};
    int32_t openCount = 0;
    void* parentWindow = nullptr;
    TEditorViewFactory factory;

    std::atomic<IEditorView*> window{nullptr};
    // Updates now writing into the window; close waits for them to leave.
    std::atomic<int32_t> updatesInFlight{0};
    // Counts update calls. An update that lost a race with open (it saw no window yet) or with
    // another thread's push is made good by the next idle, which pushes again when this moved.
    std::atomic<uint32_t> updateRequests{0};
    uint32_t requestsPushed = 0;
    // A close that arrives while idle pumps the window's events (from a handler's call into the
    // host) leaves the view here for idle to destroy after the pump returns.
    bool pumping = false;
    std::unique_ptr<IEditorView> closedWhilePumping;
};

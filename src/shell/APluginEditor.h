// The effect's editor object: creates the editor window inside the host's window when the host
// opens the editor, feeds it parameter values and timing, and destroys it on close.
//
// Threads: every call comes from the host's user-interface thread. A parameter set on any other
// thread only marks its bit in the effect's change mask; idle takes the marked values into the
// window, so nothing but the user-interface thread ever touches the window.
#pragma once

#include "shell/aeffeditor.h"
#include "shell/editortiming.h"

#include <cstdint>
#include <memory>

class APlugin;

// What the bridge needs of an open editor: the window and the window-system connection it lives
// on. Destroying the view destroys the window, then the connection.
class IEditorView {
  public:
    virtual ~IEditorView() = default;
    virtual int32_t ClientWidth() const = 0;
    virtual int32_t ClientHeight() const = 0;
    // Position and size in the parent window.
    virtual void SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) = 0;
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
    int connectionFd() const override;

    int32_t getOpenCount() const { return openCount; }
    void* getParentWindow() const { return parentWindow; }
    bool hasWindow() const { return window != nullptr; }

  private:
    APlugin& plugin() const;
    // The values of the indices marked since the last take (all of them with `all`).
    void pushValues(IEditorView& view, bool all);
    void destroyWindow();

    ERect rect{0, 0, 0, 0};
    int32_t openCount = 0;
    void* parentWindow = nullptr;
    TEditorViewFactory factory;

    std::unique_ptr<IEditorView> window;
    // A close that arrives while idle pumps the window's events (from a handler's call into the
    // host) leaves the view here for idle to destroy after the pump returns.
    bool pumping = false;
    std::unique_ptr<IEditorView> closedWhilePumping;
};

// Forms: the top-level windowed control a stored form description builds, usually a child of a
// window the host hands over.
#pragma once

#include "framework/controls.h"

#include <string>

enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };

class TForm : public TWinControl {
  public:
    // parentWindow: the native window to live in (null for a top-level window); platform: null
    // for the default platform.
    explicit TForm(TComponent* owner, TNativeHandle parentWindow = nullptr,
                   IPlatform* platform = nullptr);
    ~TForm() override;
    std::string_view ClassName() const override { return "TForm"; }

    const std::string& Caption() const { return fCaption; }
    void SetCaption(std::string caption) { fCaption = std::move(caption); }
    // Stored for the form loader; the window never draws a frame of its own.
    TFormBorderStyle BorderStyle() const { return fBorderStyle; }
    void SetBorderStyle(TFormBorderStyle style) { fBorderStyle = style; }
    // The form sees key events before the focused control.
    bool KeyPreview() const { return fKeyPreview; }
    void SetKeyPreview(bool preview) { fKeyPreview = preview; }
    // Stored for the form loader; drawing is always at 96 pixels per inch.
    bool Scaled() const { return fScaled; }
    void SetScaled(bool scaled) { fScaled = scaled; }

    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }

    // A key the form takes as a shortcut before the focused control sees it. None by default.
    virtual bool IsShortCut(uint16_t key, TShiftState shift) { return false; }
    // Moves keyboard focus to the next (or previous) windowed tab stop after current, wrapping.
    // Answers whether focus moved.
    bool SelectNext(TWinControl* current, bool forward);

  private:
    std::string fCaption;
    TFormBorderStyle fBorderStyle = bsSizeable;
    bool fKeyPreview = false;
    bool fScaled = true;
};

// The form a control lives in, or null.
TForm* GetParentForm(const TControl* control);

// The windowed container of the skinned controls. It keeps an off-screen image of its whole
// client area; every paint fills the update rectangle with Color, composes the children in
// z-order (skinned controls through one shared scratch image, labels and pictures through the
// framework's drawing) and copies the rectangle to the window in one blit. It also holds the DIB
// focus of its controls and routes the keyboard to the active one.
#pragma once

#include "dibcontrols/cDIB.h"
#include "dibcontrols/cDIBControl.h"
#include "framework/extctrls.h"

#include <functional>
#include <vector>

using TDIBPaintEvent = std::function<void(TComponent* sender, TAbstractSuperDIB& dib)>;

class TCustomDIBContainer : public TCustomPanel {
  public:
    explicit TCustomDIBContainer(TComponent* owner);
    ~TCustomDIBContainer() override;
    std::string_view ClassName() const override { return "TCustomDIBContainer"; }

    void SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) override;
    void Loaded() override;

    TWinDIB& BackBuffer() { return fBackBuffer; }
    TWinDIB& ControlBuffer() { return fControlBuffer; }

    // The control holding DIB focus, or null.
    TCustomDIBControl* ActiveControl() const { return fActiveControl; }
    // Skinned children with DIBTabOrder >= 0, by that value (ties in the order they joined).
    const std::vector<TCustomDIBControl*>& FocusOrder() const { return fFocusOrder; }

    const TDIBPaintEvent& BeforePaint() const { return fBeforePaint; }
    void SetBeforePaint(TDIBPaintEvent e) { fBeforePaint = std::move(e); }
    const TDIBPaintEvent& AfterPaint() const { return fAfterPaint; }
    void SetAfterPaint(TDIBPaintEvent e) { fAfterPaint = std::move(e); }
    const TNotifyEvent& OnActiveControlChange() const { return fOnActiveControlChange; }
    void SetOnActiveControlChange(TNotifyEvent e) { fOnActiveControlChange = std::move(e); }

    // The update rectangle of the paint in progress (client coordinates, Right/Bottom exclusive).
    const TRect& UpdateRect() const { return fUpdateRect; }

  protected:
    friend class TCustomDIBControl;

    virtual void DoAfterPaint();
    virtual void DoBeforePaint();
    // Re-sorts the focus order from the children's DIBTabOrder.
    virtual void ApplyTabOrders();
    // Moves DIB focus (null: none). The old control loses it before the new one gets it.
    virtual void SetActiveControl(TCustomDIBControl* control);

    void PaintWindow(const TRect& update) override;
    void KeyDown(uint16_t& key, TShiftState shift) override;
    void KeyUp(uint16_t& key, TShiftState shift) override;
    void KeyPress(char32_t& key) override;
    void DoEnter() override;

  private:
    // From the controls.
    void ApplyTabOrder(TCustomDIBControl* control);
    void ControlLeaving(TCustomDIBControl* control);
    void ResizeBackBuffer();
    // Next enabled, visible control of the focus order after (or before) from; null at the end.
    TCustomDIBControl* NextFocus(TCustomDIBControl* from, bool forward) const;
    TCustomDIBControl* ActiveForKeys() const;

    std::vector<TCustomDIBControl*> fFocusOrder;
    TWinDIB fControlBuffer{1, 1};
    TWinDIB fBackBuffer{1, 1};
    TCustomDIBControl* fActiveControl = nullptr;
    bool fChangingFocus = false;
    bool fRepaintPass = false;
    TRect fUpdateRect;
    TDIBPaintEvent fBeforePaint, fAfterPaint;
    TNotifyEvent fOnActiveControlChange;
};

class TDIBContainer : public TCustomDIBContainer {
  public:
    using TCustomDIBContainer::TCustomDIBContainer;
    std::string_view ClassName() const override { return "TDIBContainer"; }
};

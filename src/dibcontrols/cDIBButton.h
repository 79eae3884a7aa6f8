// The common part of skinned buttons: a visible state (up, pressed, disabled, hover, down) kept
// up to date from the mouse, Enabled and Down; Down that a click can toggle; and groups in which
// a button going down releases the others.
#pragma once

#include "dibcontrols/cDIBControl.h"

#include <cstdint>

class EDIBButtonError : public Exception {
  public:
    using Exception::Exception;
};

enum TDIBButtonState : uint8_t { dbUp, dbPressed, dbDisabled, dbHover, dbDown };

class TAbstractDIBButton : public TCustomDIBControl {
  public:
    explicit TAbstractDIBButton(TComponent* owner);
    std::string_view ClassName() const override { return "TAbstractDIBButton"; }

    void Loaded() override;

    TDIBButtonState State() const { return fState; }
    // 0 = no group. A negative value raises EDIBButtonError "Invalid group.".
    int32_t Group() const { return fGroup; }
    void SetGroup(int32_t value);
    bool Down() const { return fDown; }
    // Stored even when equal; a button going down releases the others of its group.
    virtual void SetDown(bool value);
    // A click flips Down (after OnClick).
    bool ToggleDown() const { return fToggleDown; }
    void SetToggleDown(bool value) { fToggleDown = value; }

    void Click() override;

  protected:
    virtual void SetState(TDIBButtonState state);
    // Recomputes the state from Enabled, Down, the mouse and DIB focus; invalidates.
    virtual void UpdateState();

    void HandleMouseDown(TMouseButton button, TShiftState shift, int32_t x, int32_t y) override;
    void HandleMouseUp(TMouseButton button, TShiftState shift, int32_t x, int32_t y) override;
    void MouseEnter() override;
    void MouseLeave() override;
    void EnabledChanged() override;
    void GetProperties(std::vector<TDIBPropertyInfo>& list) const override;

  private:
    // Every other button of the same owner and group that is down goes up.
    void ReleaseGroup();

    TDIBButtonState fState = dbUp;
    int32_t fGroup = 0;
    bool fDown = false;
    bool fToggleDown = false;
};

// A non-visual component that calls OnTimer at a fixed interval on the user-interface thread.
// Unlike the framework's TTimer it starts disabled: its owner switches it on when it is needed
// (the editor's refresh, a control's press auto-repeat).
#pragma once

#include "framework/extctrls.h"

#include <cstdint>

class TDIBTimer : public TComponent {
  public:
    explicit TDIBTimer(TComponent* owner);
    ~TDIBTimer() override;
    std::string_view ClassName() const override { return "TDIBTimer"; }

    // Runs only while Enabled, Interval is not 0 and OnTimer is set. Changing Enabled or Interval
    // (to a new value) or setting OnTimer restarts the period from now. When the platform refuses
    // a timer, EOutOfResources "Not enough timers available" is raised and Enabled turns false.
    bool Enabled() const { return fEnabled; }
    void SetEnabled(bool enabled);
    uint32_t Interval() const { return fInterval; }
    void SetInterval(uint32_t interval);
    const TNotifyEvent& OnTimer() const { return fOnTimer; }
    void SetOnTimer(TNotifyEvent e);
    bool Running() const { return fTimer.Running(); }

  private:
    void UpdateTimer();

    uint32_t fInterval = 1000;
    TPlatformTimer fTimer; // stands for the hidden message window: exists only while running
    TNotifyEvent fOnTimer;
    bool fEnabled = false;
};

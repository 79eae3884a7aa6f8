// A non-visual component that calls OnTimer at a fixed interval on the user-interface thread.
// Unlike the framework's TTimer it starts disabled: its owner switches it on when it is needed
// (the editor's refresh, a control's press auto-repeat).
//
// Runs only while Enabled, Interval is not 0 and OnTimer is set. Changing Enabled or Interval (to
// a new value) or setting OnTimer restarts the period from now. When the platform refuses a
// timer, EOutOfResources "Not enough timers available" is raised and Enabled turns false.
#pragma once

#include "framework/extctrls.h"

class TDIBTimer : public TTimer {
  public:
    explicit TDIBTimer(TComponent* owner) : TTimer(owner, false) {}
    std::string_view ClassName() const override { return "TDIBTimer"; }
};

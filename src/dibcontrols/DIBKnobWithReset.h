// The knob class the editor's form names; it behaves exactly as TDIBKnob.
#pragma once

#include "dibcontrols/cDIBKnob.h"

class TDIBKnobWithReset : public TDIBKnob {
  public:
    using TDIBKnob::TDIBKnob;
    std::string_view ClassName() const override { return "TDIBKnobWithReset"; }
};

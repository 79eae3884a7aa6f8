// A form on the headless platform, and a window-less control that logs what it hears.
#pragma once

#include "framework/extctrls.h"
#include "framework/forms.h"
#include "framework/platform/headless/headless.h"
#include "framework/stdctrls.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

class Probe : public TGraphicControl {
  public:
    Probe(TWinControl* parent, std::string name, std::vector<std::string>& log, TRect bounds)
        : TGraphicControl(parent), fName(std::move(name)), fLog(log) {
        SetParent(parent);
        SetBoundsRect(bounds);
    }
    int Paints = 0;
    void Paint(TCanvas&) override { ++Paints; }

  protected:
    void MouseDown(TMouseButton b, TShiftState s, int32_t x, int32_t y) override {
        Say("down", x, y, (s & ssDouble) ? " double" : "");
        TGraphicControl::MouseDown(b, s, x, y);
    }
    void MouseMove(TShiftState, int32_t x, int32_t y) override { Say("move", x, y); }
    void MouseUp(TMouseButton, TShiftState, int32_t x, int32_t y) override { Say("up", x, y); }
    void Click() override {
        fLog.push_back(fName + ":click");
        TGraphicControl::Click();
    }
    void DblClick() override { fLog.push_back(fName + ":dblclick"); }
    void MouseEnter() override { fLog.push_back(fName + ":enter"); }
    void MouseLeave() override { fLog.push_back(fName + ":leave"); }

  private:
    void Say(const char* what, int32_t x, int32_t y, const char* extra = "") {
        fLog.push_back(fName + ":" + what + " " + std::to_string(x) + "," + std::to_string(y) +
                       extra);
    }
    std::string fName;
    std::vector<std::string>& fLog;
};

class FormTest : public ::testing::Test {
  protected:
    void SetUp() override {
        form = std::make_unique<TForm>(nullptr, nullptr, &platform);
        form->SetBounds(0, 0, 200, 100);
        form->SetColor(clBlack);
        form->Show();
        platform.PumpEvents();
        platform.ClearLog();
    }
    void TearDown() override { form.reset(); }

    TNativeHandle Window() { return form->Handle(); }
    THeadlessImage Screen() {
        platform.PumpEvents();
        return platform.Screenshot(Window());
    }

    THeadlessPlatform platform; // outlives the form
    std::unique_ptr<TForm> form;
    std::vector<std::string> log;
};

inline uint32_t Opaque(TColor c) {
    return ColorToOpaquePixel(c);
}

// A form with one skinned-control container on the headless platform, and a skinned control that
// fills itself with a colour and logs what it hears.
#pragma once

#include "dibcontrols/cDIBControl.h"
#include "dibcontrols/cDIBPanel.h"
#include "framework/forms.h"
#include "framework/platform/headless/headless.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

using Log = std::vector<std::string>;

class Painter : public TCustomDIBControl {
  public:
    Painter(TComponent* owner, TRect bounds, TColor fill, Log* log = nullptr, std::string name = "")
        : TCustomDIBControl(owner), Fill(fill), fLog(log), fName(std::move(name)) {
        SetBoundsRect(bounds);
        if (!fLog) return;
        SetOnMouseEnter([this](TComponent*) { Say("enter"); });
        SetOnMouseLeave([this](TComponent*) { Say("leave"); });
        SetOnClick([this](TComponent*) { Say("click"); });
        SetOnDblClick([this](TComponent*) { Say("dblclick"); });
        SetOnMouseDown([this](TComponent*, TMouseButton, TShiftState, int32_t x, int32_t y) {
            Say("down " + std::to_string(x) + "," + std::to_string(y));
        });
        SetOnEnter([this](TComponent*) { Say("dibenter"); });
        SetOnExit([this](TComponent*) { Say("dibexit"); });
        SetOnKeyDown(
            [this](TComponent*, uint16_t& key, TShiftState) { Say("key " + std::to_string(key)); });
    }
    std::string_view ClassName() const override { return "Painter"; }

    using TCustomDIBControl::CreateImageLink;
    using TCustomDIBControl::RegisterTemplateProperty;

    TColor Fill; // clNone: leave the scratch image as it came
    int Paints = 0;
    int ImageChanges = 0;
    std::function<void(TAbstractSuperDIB&)> Extra;
    std::function<void(TRect&)> Prepare;

  protected:
    void PaintControl() override {
        ++Paints;
        if (Fill != clNone) ScratchDIB().FillRect(Fill, 0, 0, Width(), Height());
        if (Extra) Extra(ScratchDIB());
    }
    void PreparePaint(TRect& r) override {
        if (Prepare) Prepare(r);
    }
    void HighlightOn() override { Say("highlight on"); }
    void HighlightOff() override { Say("highlight off"); }
    void ImageChanged(TDIBImageLink&, int, TDIBImageChange) override { ++ImageChanges; }

  private:
    void Say(const std::string& what) {
        if (fLog) fLog->push_back(fName + ":" + what);
    }
    Log* fLog;
    std::string fName;
};

class ContainerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        form = std::make_unique<TForm>(nullptr, nullptr, &platform);
        form->SetBounds(0, 0, 200, 100);
        form->Show();
        container = new TDIBContainer(form.get());
        container->SetParent(form.get());
        container->SetBounds(0, 0, 200, 100);
        container->SetColor(clBlack);
        platform.PumpEvents();
        platform.ClearLog();
    }
    void TearDown() override { form.reset(); }

    THeadlessImage Screen() {
        platform.PumpEvents();
        return platform.Screenshot(form->Handle());
    }
    TNativeHandle ContainerWindow() { return container->Handle(); }

    THeadlessPlatform platform; // outlives the form
    std::unique_ptr<TForm> form;
    TDIBContainer* container = nullptr; // owned by the form
    Log log;
};

// The colour bytes of a screen pixel, as a pixel image holds them (alpha dropped).
inline uint32_t Rgb(const THeadlessImage& s, int x, int y) {
    return s.At(x, y) & 0xFFFFFFu;
}
inline uint32_t Px(TColor c) {
    return ColorToPixel(c) & 0xFFFFFFu;
}

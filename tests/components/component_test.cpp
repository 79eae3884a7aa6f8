// Parameter-linked components against real knobs, sliders, glyph buttons and labels on the
// headless backend: value to position and back, which operations refresh the labels, setters left
// alone when nothing changes, fit-to-grid and links.
#include "dibcontrols/container_fixture.h"

#include "dibcontrols/DIBKnobWithReset.h"
#include "dibcontrols/cDIBGlyphButton.h"
#include "dibcontrols/cDIBSlider.h"
#include "framework/stdctrls.h"
#include "valuemodel/qlcparametercomponent.h"
#include "valuemodel/qlcvaluescale.h"
#include "valuemodel/qlcvaluetype.h"

namespace {

// Every position setter call ends in Change(), so this counts calls, not only effective changes.
class CountingSlider : public TDIBSlider {
  public:
    using TDIBSlider::TDIBSlider;
    int Calls = 0;

  protected:
    void Change() override {
        ++Calls;
        TDIBSlider::Change();
    }
};

class CountingButton : public TDIBGlyphButton {
  public:
    using TDIBGlyphButton::TDIBGlyphButton;
    int Calls = 0;
    void SetDown(bool value) override {
        ++Calls;
        TDIBGlyphButton::SetDown(value);
    }
};

class ComponentTest : public ContainerTest {
  protected:
    TDIBKnobWithReset* NewKnob(int32_t max, int* changes) {
        auto* knob = new TDIBKnobWithReset(container);
        knob->SetMax(max);
        knob->SetOnChange([changes](TComponent*) { ++*changes; });
        return knob;
    }
    CountingSlider* NewSlider(int32_t max) {
        auto* slider = new CountingSlider(container);
        slider->SetSliderType(stVertical);
        slider->SetBounds(0, 0, 10, 80);
        slider->SetMax(max);
        return slider;
    }
    TLabel* NewLabel() { return new TLabel(form.get()); }

    QLCpercentValueType percent;
    QLCmsValueType ms{1000};
    QLCinvertValueScale invert;
    QLCsquareValueScale square;
};

} // namespace

TEST_F(ComponentTest, KnobFollowsTheValueAndReadsItBackThroughTheLabel) {
    int changes = 0;
    TDIBKnobWithReset* knob = NewKnob(400, &changes);
    TLabel* label = NewLabel();
    QLCknobLabelPComponent c(21, label, &percent, knob, nullptr);
    EXPECT_EQ(knob->Tag(), 21);

    // The knob's SetValue stores only; the text catches up with the control.
    c.SetValue(0.5f);
    EXPECT_EQ(label->Caption(), "");
    EXPECT_EQ(knob->Position(), 0);
    c.UpdateControl();
    EXPECT_EQ(knob->Position(), 200);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(c.Text.Load(), "50");
    EXPECT_EQ(label->Caption(), "50");

    knob->SetPosition(100);
    EXPECT_FLOAT_EQ(c.ReadControl(), 0.25f);
    EXPECT_EQ(c.Value, 0.25f);
    EXPECT_EQ(label->Caption(), "25");

    // A value that lands on the position the knob already has raises no change event.
    changes = 0;
    c.SetValue(0.2501f);
    c.UpdateControl();
    EXPECT_EQ(knob->Position(), 100);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(label->Caption(), "25");
}

TEST_F(ComponentTest, PositionsRoundHalvesToEvenAndGoThroughTheScale) {
    int changes = 0;
    TDIBKnobWithReset* knob = NewKnob(4, &changes);
    QLCknobLabelPComponent c(3, nullptr, &percent, knob, nullptr);
    for (auto [value, position] : {std::pair{0.625f, 2}, {0.875f, 4}, {0.125f, 0}, {0.375f, 2}}) {
        c.SetValue(value);
        c.UpdateControl();
        EXPECT_EQ(knob->Position(), position) << value;
    }

    // Square law: a quarter of the range sits at half the travel, and reads back exactly.
    TDIBKnobWithReset* sq = NewKnob(400, &changes);
    QLCknobLabelPComponent s(4, nullptr, &percent, sq, &square);
    s.SetValue(0.25f);
    s.UpdateControl();
    EXPECT_EQ(sq->Position(), 200);
    sq->SetPosition(100);
    EXPECT_EQ(s.ReadControl(), 0.0625f);
    EXPECT_EQ(s.Text.Load(), "6");
}

TEST_F(ComponentTest, InvertedSliderAndItsImmediateText) {
    CountingSlider* slider = NewSlider(10000);
    TLabel* label = NewLabel();
    QLCsliderLabelPComponent c(30, label, &percent, slider, &invert);
    EXPECT_EQ(slider->Tag(), 30);

    // Unlike the knob's, the slider's SetValue refreshes the text at once.
    c.SetValue(0.3f);
    EXPECT_EQ(label->Caption(), "30");
    EXPECT_EQ(slider->Calls, 0);
    c.UpdateControl();
    EXPECT_EQ(slider->Position(), 7000);
    EXPECT_EQ(slider->Calls, 1);

    // Unchanged position: the setter is not called at all.
    c.UpdateControl();
    c.SetValue(0.30001f);
    c.UpdateControl();
    EXPECT_EQ(slider->Calls, 1);

    slider->SetPosition(2500);
    EXPECT_EQ(c.ReadControl(), 0.75f);
    EXPECT_EQ(label->Caption(), "75");
}

TEST_F(ComponentTest, ButtonIsDownOnlyAtExactlyOne) {
    auto* button = new CountingButton(container);
    QLCbuttonPComponent c(9, button);
    EXPECT_EQ(button->Tag(), 9);

    c.Value = 0.5f;
    c.Toggle();
    EXPECT_EQ(c.Value, 1.0f);
    EXPECT_EQ(c.ReadControl(), 1.0f);
    c.Toggle();
    EXPECT_EQ(c.Value, 0.0f);
    c.Toggle();
    EXPECT_EQ(c.Value, 1.0f);

    c.UpdateControl();
    EXPECT_TRUE(button->Down());
    EXPECT_EQ(button->Calls, 1);
    c.UpdateControl(); // already down: no setter call
    EXPECT_EQ(button->Calls, 1);
    for (float v : {0.99f, 0.5f, 0.0f}) {
        c.SetValue(v);
        c.UpdateControl();
        EXPECT_FALSE(button->Down()) << v;
    }
    EXPECT_EQ(button->Calls, 2);
}

TEST_F(ComponentTest, LabelAndTwoLabelComponentsFormatEveryText) {
    TLabel* label = NewLabel();
    QLClabelPComponent plain(50, label, &ms);
    plain.SetValue(0.25f);
    EXPECT_EQ(label->Caption(), "250");
    QLClabelPComponent unlabelled(51, nullptr, &ms);
    unlabelled.SetValue(0.5f);
    EXPECT_EQ(unlabelled.Text.Load(), "500");

    int changes = 0;
    TDIBKnobWithReset* knob = NewKnob(100, &changes);
    TLabel* a = NewLabel();
    TLabel* b = NewLabel();
    QLCknob2LabelsPComponent k(5, a, &percent, b, &ms, knob, nullptr);
    k.SetValue(0.75f);
    EXPECT_EQ(b->Caption(), "");
    k.UpdateControl();
    EXPECT_EQ(a->Caption(), "75");
    EXPECT_EQ(b->Caption(), "750");

    CountingSlider* slider = NewSlider(100);
    QLCslider2LabelsPComponent s(6, a, &percent, b, &ms, slider, nullptr);
    slider->SetPosition(10);
    EXPECT_FLOAT_EQ(s.ReadControl(), 0.1f);
    EXPECT_EQ(s.Text.Load(), "10");
    EXPECT_EQ(s.Text2.Load(), "100");
    EXPECT_EQ(b->Caption(), "100");
}

class FitTest : public ComponentTest {
  protected:
    void SetUp() override {
        ComponentTest::SetUp();
        visible = NewSlider(10000);
        mouse = NewSlider(10000);
        label2 = NewLabel();
        fit = std::make_unique<QLCfitSlider2LabelsPComponent>(7, nullptr, &ms, label2, &rhythm,
                                                              visible, mouse, nullptr, nullptr);
    }
    QLCrhythmValueType rhythm{16};
    CountingSlider* visible = nullptr;
    CountingSlider* mouse = nullptr;
    TLabel* label2 = nullptr;
    std::unique_ptr<QLCfitSlider2LabelsPComponent> fit;
};

TEST_F(FitTest, FitPositionSnapsToWholeSixteenths) {
    EXPECT_EQ(mouse->Tag(), 7);
    for (auto [p, snapped] :
         {std::pair{3300, 3125}, {9700, 10000}, {0, 0}, {312, 0}, {313, 625}, {10000, 10000}}) {
        mouse->SetPosition(p);
        EXPECT_EQ(fit->FitPosition(), snapped) << p;
    }
}

TEST_F(FitTest, BothFitRoundingsTakeHalvesToEven) {
    // Max 10, grid 4: P 2 -> n 1 -> 2.5 -> 2; P 7 -> n 3 -> 7.5 -> 8; P 5 -> n 2 -> 5.
    QLCrhythmValueType four(4);
    CountingSlider* s = NewSlider(10);
    QLCfitSlider2LabelsPComponent c(12, nullptr, &ms, nullptr, &four, NewSlider(10), s, nullptr,
                                    nullptr);
    for (auto [p, snapped] : {std::pair{2, 2}, {7, 8}, {5, 5}, {6, 5}}) {
        s->SetPosition(p);
        EXPECT_EQ(c.FitPosition(), snapped) << p;
    }
    // Max 16, grid 8: P 1 -> 0.5 -> n 0; P 3 -> 1.5 -> n 2 -> 4.
    QLCrhythmValueType eight(8);
    CountingSlider* t = NewSlider(16);
    QLCfitSlider2LabelsPComponent d(12, nullptr, &ms, nullptr, &eight, NewSlider(16), t, nullptr,
                                    nullptr);
    t->SetPosition(1);
    EXPECT_EQ(d.FitPosition(), 0);
    t->SetPosition(3);
    EXPECT_EQ(d.FitPosition(), 4);
}

TEST_F(FitTest, FreeModeFollowsTheDraggedSlider) {
    // SetValue may come from a host thread: texts only, the sliders wait for UpdateControl.
    fit->SetValue(0.5f);
    EXPECT_EQ(label2->Caption(), "8.0");
    EXPECT_EQ(visible->Calls, 0);
    EXPECT_EQ(mouse->Calls, 0);
    fit->UpdateControl();
    EXPECT_EQ(visible->Position(), 5000);
    EXPECT_EQ(mouse->Position(), 5000);

    // Nothing moved: the visible slider's own setter is skipped; the dragged one is set regardless.
    visible->Calls = mouse->Calls = 0;
    fit->UpdateControl();
    EXPECT_EQ(mouse->Calls, 1);
    EXPECT_EQ(visible->Calls, 1); // only RefreshText's placement, not UpdateControl's

    mouse->SetPosition(3300);
    EXPECT_FLOAT_EQ(fit->ReadControl(), 0.33f);
    EXPECT_EQ(visible->Position(), 3300);
    EXPECT_EQ(label2->Caption(), "5.3");
}

TEST_F(FitTest, FitModeSnapsTheVisibleSliderAndTheValue) {
    mouse->SetPosition(3300);
    fit->ReadControl();

    fit->ToggleFit();
    EXPECT_TRUE(fit->Fit);
    EXPECT_EQ(visible->Position(), 3125);
    EXPECT_EQ(fit->ReadControl(), 0.3125f);
    EXPECT_EQ(label2->Caption(), "5.0");

    // Dragging the transparent slider moves the value in whole sixteenths only.
    mouse->SetPosition(9700);
    EXPECT_EQ(fit->ReadControl(), 1.0f);
    EXPECT_EQ(visible->Position(), 10000);
    EXPECT_EQ(mouse->Position(), 9700);
    mouse->SetPosition(4000);
    EXPECT_EQ(fit->ReadControl(), 0.375f);
    EXPECT_EQ(label2->Caption(), "6.0");

    // Off again: the value follows the slider freely.
    fit->ToggleFit();
    EXPECT_FALSE(fit->Fit);
    mouse->SetPosition(4000);
    EXPECT_FLOAT_EQ(fit->ReadControl(), 0.4f);
    EXPECT_EQ(visible->Position(), 4000);
}

class LinkTest : public ComponentTest {
  protected:
    void SetUp() override {
        ComponentTest::SetUp();
        leftKnob = NewKnob(400, &changes);
        rightKnob = NewKnob(400, &changes);
        left = std::make_unique<QLCknobLabelPComponent>(1, NewLabel(), &percent, leftKnob, nullptr);
        right =
            std::make_unique<QLCknobLabelPComponent>(2, NewLabel(), &percent, rightKnob, nullptr);
        button = std::make_unique<QLCbuttonPComponent>(17, new TDIBGlyphButton(container));
        link = std::make_unique<QLClinkedPComponent>(3, left.get(), right.get(), button.get());
        left->SetValue(0.75f);
        left->UpdateControl();
        right->SetValue(0.25f);
        right->UpdateControl();
    }
    int changes = 0;
    TDIBKnobWithReset* leftKnob = nullptr;
    TDIBKnobWithReset* rightKnob = nullptr;
    std::unique_ptr<QLCknobLabelPComponent> left, right;
    std::unique_ptr<QLCbuttonPComponent> button;
    std::unique_ptr<QLClinkedPComponent> link;
};

TEST_F(LinkTest, SwitchingOnCopiesLeftToRightAndOffLeavesBoth) {
    EXPECT_EQ(link->Group, 3);
    EXPECT_EQ(link->FirstIndex(), 1);
    EXPECT_EQ(link->SecondIndex(), 2);
    EXPECT_EQ(link->ButtonIndex(), 17);

    link->Toggle();
    EXPECT_TRUE(link->Linked);
    EXPECT_EQ(button->Value, 1.0f);
    EXPECT_EQ(right->Value, 0.75f);
    EXPECT_EQ(rightKnob->Position(), 300);
    EXPECT_EQ(right->Text.Load(), "75");

    left->SetValue(0.5f);
    link->Toggle();
    EXPECT_FALSE(link->Linked);
    EXPECT_EQ(button->Value, 0.0f);
    EXPECT_EQ(left->Value, 0.5f);
    EXPECT_EQ(right->Value, 0.75f);

    // SetLinked only switches: no copy, no button change.
    right->SetValue(0.25f);
    link->SetLinked(true);
    EXPECT_TRUE(link->Linked);
    EXPECT_EQ(right->Value, 0.25f);
    EXPECT_EQ(button->Value, 0.0f);
}

TEST_F(LinkTest, SyncCopiesTheMovedMemberOnlyWhileLinked) {
    // Unlinked: each member just reads its own control.
    leftKnob->SetPosition(100);
    EXPECT_EQ(link->SyncFirst(1), 0.25f);
    EXPECT_EQ(link->SyncSecond(1), 0.25f);
    EXPECT_EQ(rightKnob->Position(), 100); // set up at 0.25

    leftKnob->SetPosition(200);
    link->SetLinked(true);
    EXPECT_EQ(link->SyncSecond(1), 0.5f);
    EXPECT_EQ(rightKnob->Position(), 200);
    EXPECT_EQ(right->Text.Load(), "50");

    // A change of some other parameter copies nothing.
    leftKnob->SetPosition(40);
    EXPECT_EQ(link->SyncSecond(2), 0.5f);
    EXPECT_EQ(rightKnob->Position(), 200);

    // The mirror: the right knob moved, the left follows.
    rightKnob->SetPosition(360);
    EXPECT_EQ(link->SyncFirst(2), 0.9f);
    EXPECT_EQ(leftKnob->Position(), 360);
    EXPECT_EQ(left->Value, 0.9f);
    EXPECT_EQ(link->SyncSecond(2), 0.9f);
}

// Published properties: a knob or slider described in a form, set up in code or copied through a
// template ends in the same state, and a value the control refuses is refused by the same rule
// on every path.
#include "container_fixture.h"

#include "dibcontrols/DIBKnobWithReset.h"
#include "dibcontrols/cDIBGlyphButton.h"
#include "dibcontrols/cDIBSlider.h"
#include "dibcontrols/registerclasses.h"
#include "framework/formloader.h"

#include <sstream>

namespace {

class Published : public ContainerTest {
  protected:
    void SetUp() override {
        ContainerTest::SetUp();
        RegisterFrameworkFormClasses(classes);
        RegisterDIBFormClasses(classes);
        context.Classes = &classes;
        context.Handlers["Changed"] = [this](TComponent*) { ++changes; };
    }
    // Loads controls (indented as children of a container) into a fresh form.
    void Load(const std::string& controls) {
        loaded = std::make_unique<TForm>(nullptr, nullptr, &platform);
        LoadForm(*loaded, "object F: TForm\n  object Panel: TDIBContainer\n" + controls + "  end\nend\n",
                 context);
    }
    std::string Error(const std::string& controls) {
        try {
            Load(controls);
        } catch (const EFormError& e) {
            return e.what();
        }
        return "(loaded)";
    }
    // Every readable property of the class agrees between the two controls.
    template <class T> void ExpectSameState(const T& a, const T& b) {
        for (const TDIBPropertyInfo& p : T::PublishedProperties())
            if (p.Get) {
                EXPECT_EQ(p.Get(a), p.Get(b)) << p.Name;
            }
        EXPECT_EQ(a.Opacity(), b.Opacity());
        EXPECT_EQ(a.BoundsRect(), b.BoundsRect());
    }
    // A template carries the appearance, not the place.
    template <class T> void CopyThroughATemplate(T& source, T& target) {
        std::stringstream stream;
        source.SaveTemplate(stream);
        target.SetBounds(source.Left(), source.Top(), target.Width(), target.Height());
        target.LoadTemplate(stream);
    }

    TFormClassRegistry classes;
    TFormLoadContext context;
    std::unique_ptr<TForm> loaded;
    int changes = 0;
};

} // namespace

TEST_F(Published, AKnobFromAFormIsTheKnobSetUpInCodeAndItsTemplateCopy) {
    Load(R"(    object K: TDIBKnobWithReset
      Left = 4
      Top = 6
      Width = 28
      Height = 20
      AutoSize = False
      Min = -50
      Max = 350
      Position = 120
      SmallChange = 3
      PageSize = 7
      NumGlyphs = 4
      Orientation = koHorizontal
      DrawTweens = True
      LoopLastFrame = True
      Opacity = 90
      OnChange = Changed
    end
)");
    auto& fromForm = FindFormComponent<TDIBKnobWithReset>(*loaded, "K");
    TDIBKnobWithReset inCode(container);
    inCode.SetBounds(4, 6, 28, 20);
    inCode.SetAutoSize(false);
    inCode.SetMin(-50);
    inCode.SetMax(350);
    inCode.SetPosition(120);
    inCode.SetSmallChange(3);
    inCode.SetPageSize(7);
    inCode.SetNumGlyphs(4);
    inCode.SetOrientation(koHorizontal);
    inCode.SetDrawTweens(true);
    inCode.SetLoopLastFrame(true);
    inCode.SetOpacity(90);
    ExpectSameState<TCustomDIBKnob>(fromForm, inCode);
    EXPECT_EQ(fromForm.Position(), 120);
    TDIBKnobWithReset copy(container);
    CopyThroughATemplate(inCode, copy);
    ExpectSameState<TCustomDIBKnob>(copy, inCode);

    fromForm.SetPosition(121);
    EXPECT_EQ(changes, 1);
}

TEST_F(Published, ASliderFromAFormIsTheSliderSetUpInCodeAndItsTemplateCopy) {
    Load(R"(    object S: TDIBSlider
      Left = 10
      Top = 3
      Width = 16
      Height = 95
      AutoSize = False
      SliderType = stVertical
      Min = 10
      Max = 10000
      Position = 5000
      SmallChange = 2
      LargeChange = 9
      PageSize = 40
      PointerOffset = -3
      OverlayBorderX = 2
      OverlayBorderY = 1
      OverlayOpacity = 100
      PointerOpacityLow = 120
      PointerOpacityHigh = 250
      StretchBackground = False
      OnChange = Changed
    end
)");
    auto& fromForm = FindFormComponent<TDIBSlider>(*loaded, "S");
    TDIBSlider inCode(container);
    inCode.SetBounds(10, 3, 16, 95);
    inCode.SetAutoSize(false);
    inCode.SetSliderType(stVertical);
    inCode.SetMin(10);
    inCode.SetMax(10000);
    inCode.SetPosition(5000);
    inCode.SetSmallChange(2);
    inCode.SetLargeChange(9);
    inCode.SetPageSize(40);
    inCode.SetPointerOffset(-3);
    inCode.SetOverlayBorderX(2);
    inCode.SetOverlayBorderY(1);
    inCode.SetOverlayOpacity(100);
    inCode.SetPointerOpacityLow(120);
    inCode.SetPointerOpacityHigh(250);
    inCode.SetStretchBackground(false);
    ExpectSameState<TCustomDIBSlider>(fromForm, inCode);
    EXPECT_EQ(fromForm.Position(), 5000);
    TDIBSlider copy(container);
    CopyThroughATemplate(inCode, copy);
    ExpectSameState<TCustomDIBSlider>(copy, inCode);

    fromForm.SetPosition(10);
    EXPECT_EQ(changes, 1);
}

TEST_F(Published, ABadNumGlyphsIsRefusedAlikeInCodeByNameAndFromAForm) {
    struct Case {
        const char* cls;
        int value;
        const char* message;
    };
    const Case cases[] = {
        {"TDIBKnob", 0, "NumGlyphs must be greater than 0."},
        {"TDIBKnob", -3, "NumGlyphs must be greater than 0."},
        {"TDIBGlyphButton", 1, "NumGlyphs must be between 2 and 5."},
        {"TDIBGlyphButton", 6, "NumGlyphs must be between 2 and 5."},
    };
    for (const Case& c : cases) {
        const std::string cls = c.cls;
        std::unique_ptr<TCustomDIBControl> control;
        std::function<void()> inCode;
        if (cls == "TDIBKnob") {
            auto* knob = new TDIBKnob(container);
            control.reset(knob);
            inCode = [knob, &c] { knob->SetNumGlyphs(c.value); };
        } else {
            auto* button = new TDIBGlyphButton(container);
            control.reset(button);
            inCode = [button, &c] { button->SetNumGlyphs(c.value); };
        }
        const TDIBPropertyValue before = control->FindProperty("NumGlyphs")->Get(*control);
        auto refusal = [](const std::function<void()>& set) -> std::string {
            try {
                set();
            } catch (const Exception& e) {
                return e.what();
            }
            return "(accepted)";
        };
        EXPECT_EQ(refusal(inCode), c.message) << cls;
        EXPECT_EQ(refusal([&] {
                      control->FindProperty("NumGlyphs")->Set(*control, int64_t(c.value));
                  }),
                  c.message)
            << cls;
        EXPECT_EQ(control->FindProperty("NumGlyphs")->Get(*control), before) << cls;
        EXPECT_EQ(Error("    object X: " + cls + "\n      NumGlyphs = " + std::to_string(c.value) +
                        "\n    end\n"),
                  "line 4: X.NumGlyphs: " + std::string(c.message));
    }
}

TEST_F(Published, AFormMustKeepInsideAPropertysTypeWhichCodeBringsIntoIt) {
    EXPECT_EQ(Error("    object X: TDIBSlider\n      SmallChange = 0\n    end\n"),
              "line 4: 0 is out of range (1..32767)");
    EXPECT_EQ(Error("    object X: TDIBKnob\n      Orientation = koDiagonal\n    end\n"),
              "line 4: unknown value koDiagonal (one of koVertical, koHorizontal)");
    TDIBSlider s(container);
    s.FindProperty("SmallChange")->Set(s, int64_t(0));
    EXPECT_EQ(s.SmallChange(), 1);
}

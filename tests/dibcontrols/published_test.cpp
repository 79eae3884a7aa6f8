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
        LoadForm(*loaded,
                 "object F: TForm\n  object Panel: TDIBContainer\n" + controls + "  end\nend\n",
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
    // One property as a description line and as the setter call a program makes.
    template <class T> struct Setting {
        std::string Line;
        void (*InCode)(T&);
    };
    // A control of class T loaded from the settings, one set up by the same calls in code, and a
    // copy of that through a template agree in every readable property.
    template <class Base, class T>
    T& ExpectTheWaysAgree(const std::string& cls, std::initializer_list<Setting<T>> settings) {
        std::string description = "    object X: " + cls + "\n";
        for (const Setting<T>& s : settings)
            description += "      " + s.Line + "\n";
        Load(description + "      OnChange = Changed\n    end\n");
        T& fromForm = FindFormComponent<T>(*loaded, "X");
        T inCode(container), copy(container);
        for (const Setting<T>& s : settings)
            s.InCode(inCode);
        std::stringstream stream;
        inCode.SaveTemplate(stream);
        copy.SetBounds(inCode.Left(), inCode.Top(), copy.Width(), copy.Height()); // not templated
        copy.LoadTemplate(stream);
        for (const TDIBPropertyInfo& p : Base::PublishedProperties()) {
            if (!p.Get) continue;
            EXPECT_EQ(p.Get(fromForm), p.Get(inCode)) << p.Name;
            EXPECT_EQ(p.Get(copy), p.Get(inCode)) << p.Name << " through a template";
        }
        for (const T* c : {&fromForm, &copy}) {
            EXPECT_EQ(c->Opacity(), inCode.Opacity());
            EXPECT_EQ(c->BoundsRect(), inCode.BoundsRect());
        }
        return fromForm;
    }

    TFormClassRegistry classes;
    TFormLoadContext context;
    std::unique_ptr<TForm> loaded;
    int changes = 0;
};

} // namespace

TEST_F(Published, AKnobFromAFormIsTheKnobSetUpInCodeAndItsTemplateCopy) {
    using K = TDIBKnobWithReset;
    K& knob = ExpectTheWaysAgree<TCustomDIBKnob, K>(
        "TDIBKnobWithReset",
        {
            {"Left = 4", [](K& c) { c.SetLeft(4); }},
            {"Height = 20", [](K& c) { c.SetHeight(20); }},
            {"AutoSize = False", [](K& c) { c.SetAutoSize(false); }},
            {"Min = -50", [](K& c) { c.SetMin(-50); }},
            {"Max = 350", [](K& c) { c.SetMax(350); }},
            {"Position = 120", [](K& c) { c.SetPosition(120); }},
            {"SmallChange = 3", [](K& c) { c.SetSmallChange(3); }},
            {"PageSize = 7", [](K& c) { c.SetPageSize(7); }},
            {"NumGlyphs = 4", [](K& c) { c.SetNumGlyphs(4); }},
            {"Orientation = koHorizontal", [](K& c) { c.SetOrientation(koHorizontal); }},
            {"DrawTweens = True", [](K& c) { c.SetDrawTweens(true); }},
            {"LoopLastFrame = True", [](K& c) { c.SetLoopLastFrame(true); }},
            {"Opacity = 90", [](K& c) { c.SetOpacity(90); }},
        });
    EXPECT_EQ(knob.Position(), 120);
    knob.SetPosition(121);
    EXPECT_EQ(changes, 1);
}

TEST_F(Published, ASliderFromAFormIsTheSliderSetUpInCodeAndItsTemplateCopy) {
    using S = TDIBSlider;
    S& slider = ExpectTheWaysAgree<TCustomDIBSlider, S>(
        "TDIBSlider",
        {
            {"Top = 3", [](S& c) { c.SetTop(3); }},
            {"Width = 16", [](S& c) { c.SetWidth(16); }},
            {"Height = 95", [](S& c) { c.SetHeight(95); }},
            {"AutoSize = False", [](S& c) { c.SetAutoSize(false); }},
            {"SliderType = stVertical", [](S& c) { c.SetSliderType(stVertical); }},
            {"Min = 10", [](S& c) { c.SetMin(10); }},
            {"Max = 10000", [](S& c) { c.SetMax(10000); }},
            {"Position = 5000", [](S& c) { c.SetPosition(5000); }},
            {"SmallChange = 2", [](S& c) { c.SetSmallChange(2); }},
            {"LargeChange = 9", [](S& c) { c.SetLargeChange(9); }},
            {"PageSize = 40", [](S& c) { c.SetPageSize(40); }},
            {"PointerOffset = -3", [](S& c) { c.SetPointerOffset(-3); }},
            {"OverlayBorderX = 2", [](S& c) { c.SetOverlayBorderX(2); }},
            {"OverlayBorderY = 1", [](S& c) { c.SetOverlayBorderY(1); }},
            {"OverlayOpacity = 100", [](S& c) { c.SetOverlayOpacity(100); }},
            {"PointerOpacityLow = 120", [](S& c) { c.SetPointerOpacityLow(120); }},
            {"PointerOpacityHigh = 250", [](S& c) { c.SetPointerOpacityHigh(250); }},
            {"StretchBackground = False", [](S& c) { c.SetStretchBackground(false); }},
        });
    EXPECT_EQ(slider.Position(), 5000);
    slider.SetPosition(10);
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
        EXPECT_EQ(
            refusal([&] { control->FindProperty("NumGlyphs")->Set(*control, int64_t(c.value)); }),
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

// The form loader on small descriptions: the tree it builds, the order it sets properties in,
// references and handlers, the value syntax, and descriptions it must refuse with a message that
// names the culprit and its line.
#include "fixture.h"

#include "framework/formloader.h"

#include <cstring>

namespace {

// A component whose properties log the order they arrive in and when it is told it is loaded.
class Recorder : public TComponent {
  public:
    Recorder(TComponent* owner, std::vector<std::string>* log) : TComponent(owner), fLog(log) {}
    std::string_view ClassName() const override { return "Recorder"; }
    void Say(const std::string& s) { fLog->push_back(Name() + ":" + s); }
    void Loaded() override {
        Say(Loading() ? "loaded" : "loaded twice");
        TComponent::Loaded();
    }
    TComponent* Buddy = nullptr;

  private:
    std::vector<std::string>* fLog;
};

class FormLoader : public FormTest {
  protected:
    void SetUp() override {
        FormTest::SetUp();
        RegisterFrameworkFormClasses(classes);
        classes
            .Register("Recorder", "TComponent",
                      [this](TComponent* owner) { return new Recorder(owner, &log); })
            .Property<Recorder>("Value",
                                [](Recorder& r, const TFormValue& v, TFormReader& reader) {
                                    r.Say("value " + std::to_string(reader.Integer(v)));
                                })
            .Property<Recorder>("Buddy", [](Recorder& r, const TFormValue& v, TFormReader& reader) {
                reader.Reference(v, [&r](TComponent& c) {
                    r.Buddy = &c;
                    r.Say("buddy " + c.Name());
                });
            });
        context.Classes = &classes;
        context.Handlers["Clicked"] = [this](TComponent* s) {
            log.push_back("clicked " + s->Name());
        };
        context.Resources = [this](std::string_view name) -> std::span<const uint8_t> {
            if (name == "tiny") return bmp;
            return {};
        };
    }
    void Load(const std::string& body) {
        LoadForm(*form, "object Main: TForm\n" + body + "end\n", context);
    }
    // The message of the error loading body raises (the body starts on line 2).
    std::string Error(const std::string& body) {
        try {
            Load(body);
        } catch (const EFormError& e) {
            return e.what();
        }
        return "(loaded)";
    }
    template <class T> T& Get(const char* name) { return FindFormComponent<T>(*form, name); }

    TFormClassRegistry classes;
    TFormLoadContext context;
    // A 2 x 1 24-bit bitmap: blue, then red.
    std::vector<uint8_t> bmp = [] {
        std::vector<uint8_t> b(62, 0);
        b[0] = 'B', b[1] = 'M', b[2] = 62, b[10] = 54, b[14] = 40, b[18] = 2, b[22] = 1, b[26] = 1,
        b[28] = 24, b[34] = 8;
        const uint8_t pixels[8] = {255, 0, 0, 0, 0, 255, 0, 0};
        std::memcpy(b.data() + 54, pixels, 8);
        return b;
    }();
};

} // namespace

TEST_F(FormLoader, BuildsOwnedComponentsWithParentsAndStackingOrder) {
    Load(R"(
  Caption = "Editor \"one\" \\ two"
  BorderStyle = bsNone
  Scaled = False
  ClientWidth = 300
  object Side: TPanel
    Left = 10
    Top = 20
    Width = 100
    Height = 50
    Color = rgb(166, 166, 166)
    object Title: TLabel   # a child of the panel, owned by the form
      Caption = "Gate"
      Font.Name = "Verdana"
      Font.Height = -8
      Font.Color = $00FF8000
      Font.Style = [fsBold, fsItalic]
      Alignment = taRightJustify
      Transparent = True
      Tag = -2
    end
    object Under: TLabel
      Visible = False
      Cursor = crSizeNS
    end
  end
  object Tick: TTimer
    Enabled = False
    Interval = 250
  end
)");
    EXPECT_EQ(form->Name(), "Main");
    EXPECT_EQ(form->Caption(), "Editor \"one\" \\ two");
    EXPECT_EQ(form->BorderStyle(), bsNone);
    EXPECT_FALSE(form->Scaled());
    EXPECT_EQ(form->ClientWidth(), 300);

    auto& side = Get<TPanel>("Side");
    auto& title = Get<TLabel>("Title");
    auto& under = Get<TLabel>("under"); // names are found regardless of case
    EXPECT_EQ(side.Owner(), form.get());
    EXPECT_EQ(side.Parent(), form.get());
    EXPECT_EQ(side.BoundsRect(), Bounds(10, 20, 100, 50));
    EXPECT_EQ(side.Color(), RGB(166, 166, 166));
    EXPECT_EQ(title.Owner(), form.get());
    EXPECT_EQ(title.Parent(), &side);
    ASSERT_EQ(side.ControlCount(), 2);
    EXPECT_EQ(side.Controls(0), &title);
    EXPECT_EQ(side.Controls(1), &under);

    EXPECT_EQ(title.Font(), (TFont{"Verdana", -8, RGB(0, 0x80, 0xFF), fsBold | fsItalic}));
    EXPECT_FALSE(title.ParentFont());
    EXPECT_EQ(title.Alignment(), taRightJustify);
    EXPECT_TRUE(title.Transparent());
    EXPECT_EQ(title.Tag(), -2);
    EXPECT_FALSE(under.Visible());
    EXPECT_EQ(under.Cursor(), crSizeNS);
    EXPECT_TRUE(under.ParentFont());

    auto& tick = Get<TTimer>("Tick");
    EXPECT_EQ(tick.Owner(), form.get());
    EXPECT_EQ(tick.Interval(), 250u);
    EXPECT_FALSE(tick.Enabled());
    EXPECT_FALSE(form->Loading());
    EXPECT_FALSE(title.Loading());
}

TEST_F(FormLoader, SetsPropertiesInOrderResolvesLaterReferencesThenRunsLoaded) {
    Load(R"(
  object First: Recorder
    Value = 1
    Buddy = Second      # not created yet
    Value = 2
  end
  object Second: Recorder
    Buddy = First
    Value = 3
  end
)");
    EXPECT_EQ(log, (std::vector<std::string>{"First:value 1", "First:value 2", "Second:buddy First",
                                             "Second:value 3", "First:buddy Second", "First:loaded",
                                             "Second:loaded"}));
    EXPECT_EQ(Get<Recorder>("First").Buddy, &Get<Recorder>("Second"));
}

TEST_F(FormLoader, BindsEventsByHandlerNameAndReadsResources) {
    Load(R"(
  object Pic: TImage
    Picture.Data = resource("tiny")
    OnClick = Clicked
  end
  object Raw: TImage
    Picture.Data = {424D3E00000000000000360000002800000001000000010000000100180000000000
                    0400000000000000000000000000000000000000000000FF000000}
  end
)");
    auto& pic = Get<TImage>("Pic");
    ASSERT_EQ(pic.Picture().Width(), 2);
    EXPECT_EQ(pic.Picture().ScanLine(0)[0] & 0xFFFFFF, 0x0000FFu); // blue
    EXPECT_EQ(pic.Picture().ScanLine(0)[1] & 0xFFFFFF, 0xFF0000u); // red
    EXPECT_EQ(Get<TImage>("Raw").Picture().Width(), 1);
    ASSERT_TRUE(pic.OnClick());
    pic.OnClick()(&pic);
    EXPECT_EQ(log, (std::vector<std::string>{"clicked Pic"}));
}

TEST(FormDescription, ParsesEveryKindOfValue) {
    const TFormObject root = ParseFormDescription(R"(// leading comment
object A: TForm
  I = -42
  H = $1F
  F = 2.5e1
  S = ""
  N = Ident
  E = []
  C = <
    item
      X.Y = 1
    end
    item
    end>
  object B: TLabel end
end)");
    ASSERT_EQ(root.Properties.size(), 7u);
    EXPECT_EQ(root.Line, 2);
    EXPECT_EQ(root.Properties[0].Value.Int, -42);
    EXPECT_EQ(root.Properties[1].Value.Int, 31);
    EXPECT_EQ(root.Properties[2].Value.Kind, TFormValue::vaFloat);
    EXPECT_EQ(root.Properties[2].Value.Real, 25.0L);
    EXPECT_EQ(root.Properties[3].Value.Kind, TFormValue::vaString);
    EXPECT_EQ(root.Properties[4].Value.Kind, TFormValue::vaIdent);
    EXPECT_EQ(root.Properties[5].Value.Kind, TFormValue::vaSet);
    EXPECT_TRUE(root.Properties[5].Value.Names.empty());
    const TFormValue& c = root.Properties[6].Value;
    ASSERT_EQ(c.Items.size(), 2u);
    EXPECT_EQ(c.Items[0].Properties.at(0).Name, "X.Y");
    EXPECT_EQ(c.Items[0].Properties.at(0).Line, 11);
    EXPECT_TRUE(c.Items[1].Properties.empty());
    ASSERT_EQ(root.Children.size(), 1u);
    EXPECT_EQ(root.Children[0].ClassName, "TLabel");
}

// Each bad description fails with the line and the thing at fault in the message.
TEST_F(FormLoader, RefusesWhatItCannotCarryOut) {
    struct Case {
        const char* body;
        const char* expected;
    };
    const Case cases[] = {
        {"  object X: TKnobb\n  end\n", "line 2: unknown class TKnobb of object X"},
        {"  object X: TLabel\n    Captoin = \"a\"\n  end\n",
         "line 3: TLabel has no property Captoin"},
        {"  object X: TLabel\n    OnClick = Clickd\n  end\n",
         "line 3: unknown event handler Clickd"},
        {"  object X: TImage\n    Picture.Data = resource(\"huge\")\n  end\n",
         "line 3: unknown resource \"huge\""},
        {"  object X: Recorder\n    Buddy = Nobody\n  end\n", "line 3: no component named Nobody"},
        {"  Color = clSilverish\n", "line 2: unknown colour clSilverish"},
        {"  BorderStyle = bsRound\n", "line 2: unknown value bsRound"},
        {"  Scaled = 1\n", "line 2: expected True or False"},
        {"  ClientWidth = \"600\"\n", "line 2: expected a whole number, found a string"},
        {"  ClientWidth = 99999\n", "line 2: 99999 is out of range"},
        {"  Color = rgb(1, 2, 300)\n", "line 2: rgb() takes three numbers from 0 to 255"},
        {"  object X: TLabel\n  end\n  object x: TLabel\n  end\n",
         "line 4: a second component named x"},
        {"  object X: TLabel\n    object Y: TLabel\n    end\n  end\n",
         "line 3: X (TLabel) cannot hold control Y"},
        {"  object X: TControl\n  end\n", "line 2: class TControl of object X cannot be created"},
        {"  Caption = \"open\n", "line 2: unterminated string"},
        {"  Caption \"x\"\n", "line 2: expected '=' after property Caption"},
        {"  Left = 1 2\n", "line 2: expected a property, 'object' or 'end' in object Main"},
        {"  Left = 12px\n", "line 2: malformed number '12p'"},
        {"  Left = ;\n", "line 2: unexpected character ';'"},
        // The closing "end" closes X; the form's own end is missing.
        {"  object X: TLabel\n", "line 4: expected a property, 'object' or 'end' in object Main, "
                                 "found the end of the description"},
        {"  Picture = {ABC}\n", "line 2: binary block with an odd number"},
    };
    for (const Case& c : cases) {
        form = std::make_unique<TForm>(nullptr, nullptr, &platform);
        const std::string message = Error(c.body);
        EXPECT_NE(message.find(c.expected), std::string::npos) << "description:\n"
                                                               << c.body << "message: " << message;
        // A failed load leaves nothing marked as loading; what was built goes with the form.
        EXPECT_FALSE(form->Loading());
        for (int i = 0; i < form->ComponentCount(); ++i)
            EXPECT_FALSE(form->Components(i)->Loading()) << c.body;
    }
}

TEST_F(FormLoader, RefusesADescriptionOfAnotherFormOrTrailingText) {
    try {
        LoadForm(*form, "object W: TPluginEditorWindow\nend\n", context);
        FAIL();
    } catch (const EFormError& e) {
        EXPECT_STREQ(e.what(), "line 1: the description is of class TPluginEditorWindow, the form "
                               "being loaded is a TForm");
        EXPECT_EQ(e.Line(), 1);
    }
    EXPECT_THROW(LoadForm(*form, "object W: TForm\nend\nobject V: TForm\nend\n", context),
                 EFormError);
    EXPECT_THROW(LoadForm(*form, "", context), EFormError);
}

TEST_F(FormLoader, WrapsASetterThatRefusesWithTheLine) {
    // The bitmap reader's own error arrives with the property and the line.
    const std::string message = Error("  object X: TImage\n    Picture.Data = {424D00}\n  end\n");
    EXPECT_EQ(message.rfind("line 3: X.Picture.Data: ", 0), 0u) << message;
}

TEST(FormClasses, RegistryInheritsPropertiesAndKeepsThemOnReregistration) {
    TFormClassRegistry registry;
    RegisterFrameworkFormClasses(registry);
    EXPECT_NE(registry.Find("TLabel")->FindProperty("Left"), nullptr); // from TControl
    EXPECT_NE(registry.Find("TLabel")->FindProperty("Tag"), nullptr);  // from TComponent
    EXPECT_EQ(registry.Find("TTimer")->FindProperty("Left"), nullptr); // not a control
    EXPECT_EQ(registry.Find("TPanel")->FindProperty("Caption"), nullptr);
    EXPECT_THROW(registry.Register("TThing", "TMissing", nullptr), EFormError);
    // A unit may replace a factory; the properties stay.
    registry.Register<TLabel>("TLabel", "TGraphicControl");
    EXPECT_NE(registry.Find("TLabel")->FindProperty("Caption"), nullptr);
}

// The editor's stored form, loaded by the form loader into a window on the headless platform:
// the components of the layout with their classes, places, images, settings and handlers.
#include "dibcontrols/DIBKnobWithReset.h"
#include "dibcontrols/cDIBGlyphButton.h"
#include "dibcontrols/cDIBImage.h"
#include "dibcontrols/cDIBPanel.h"
#include "dibcontrols/cDIBSlider.h"
#include "dibcontrols/cDIBTimer.h"
#include "dibcontrols/registerclasses.h"
#include "editor/editorlayout.h"
#include "framework/extctrls.h"
#include "framework/forms.h"
#include "framework/platform/headless/headless.h"
#include "framework/stdctrls.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

// Stands in for the real window class: the description's root class is TPluginEditorWindow.
class TestWindow : public TForm {
  public:
    TestWindow(IPlatform* platform) : TForm(nullptr, nullptr, platform) {}
    std::string_view ClassName() const override { return "TPluginEditorWindow"; }
};

const char* const kHandlers[] = {"UpdaterTimer",       "SimpleButtonClick",  "SimpleKnobChange",
                                 "SimpleSliderChange", "LinkedSliderChange", "LinkedKnobChange",
                                 "LinkButtonClick",    "FitButtonClick",     "LogoImageClick",
                                 "BackSideImageClick"};

class EditorLayout : public ::testing::Test {
  protected:
    // Handlers that record their name and the sender's name.
    TFormHandlers Recording() {
        TFormHandlers handlers;
        for (const char* name : kHandlers)
            handlers[name] = [this, name](TComponent* sender) {
                calls.push_back(std::string(name) + " " + (sender ? sender->Name() : "-"));
            };
        return handlers;
    }
    void Load(TFormHandlers handlers) {
        window = std::make_unique<TestWindow>(&platform);
        LoadPluginEditorWindowLayout(*window, std::move(handlers));
    }
    template <class T> T& Get(const char* name) { return FindFormComponent<T>(*window, name); }

    THeadlessPlatform platform;
    std::unique_ptr<TestWindow> window;
    std::vector<std::string> calls;
};

void CollectObjects(const TFormObject& o, std::vector<const TFormObject*>& out) {
    out.push_back(&o);
    for (const TFormObject& c : o.Children)
        CollectObjects(c, out);
}

} // namespace

TEST(EditorLayoutDescription, NamesEachComponentOnceWithRegisteredClasses) {
    const TFormObject root = ParseFormDescription(PluginEditorWindowDescription());
    std::vector<const TFormObject*> all;
    CollectObjects(root, all);
    std::set<std::string> names;
    for (const TFormObject* o : all) {
        EXPECT_TRUE(names.insert(o->Name).second) << "twice: " << o->Name;
        if (o != &root) {
            EXPECT_NE(EditorFormClasses().Find(o->ClassName), nullptr) << o->ClassName;
        }
    }
    // The form, 2 non-visual members, 2 containers, the back side's 13 and the front side's 78.
    EXPECT_EQ(all.size(), 1u + 2 + 2 + 13 + 78);
}

TEST_F(EditorLayout, BuildsTheFormItsMembersAndBothSides) {
    Load(Recording());
    EXPECT_EQ(window->ClientWidth(), 600);
    EXPECT_EQ(window->ClientHeight(), 369);
    EXPECT_EQ(window->BorderStyle(), bsNone);
    EXPECT_EQ(window->Color(), clBlack);
    EXPECT_FALSE(window->Scaled());
    EXPECT_EQ(window->Font(), (TFont{"MS Sans Serif", -11, clWhite, 0}));
    EXPECT_FALSE(window->Loading());

    auto& updater = Get<TDIBTimer>("updater");
    EXPECT_EQ(updater.Interval(), 100u);
    EXPECT_FALSE(updater.Enabled());
    updater.OnTimer()(&updater);

    // Stored back side first, so the front side lies on top.
    auto& back = Get<TDIBContainer>("BackSideContainer");
    auto& front = Get<TDIBContainer>("FrontSideContainer");
    ASSERT_EQ(window->ControlCount(), 2);
    EXPECT_EQ(window->Controls(0), &back);
    EXPECT_EQ(window->Controls(1), &front);
    EXPECT_EQ(back.BoundsRect(), Bounds(0, 0, 453, 280));
    EXPECT_EQ(back.Color(), RGB(166, 166, 166));
    EXPECT_EQ(front.BoundsRect(), Bounds(0, 0, 600, 371));
    EXPECT_EQ(front.Color(), clSilver);
    EXPECT_EQ(front.ControlCount(), 1 + 43 + 34);
    EXPECT_EQ(front.Controls(0)->Name(), "bg");
    EXPECT_EQ(front.Controls(front.ControlCount() - 1)->Name(), "LevelLinkLabel");

    // Stored bitmaps at their sizes, drawn from the top left.
    EXPECT_EQ(Get<TImage>("bg").Picture().Width(), 600);
    EXPECT_EQ(Get<TImage>("bg").Picture().Height(), 371);
    EXPECT_EQ(Get<TImage>("bg").BoundsRect(), Bounds(0, 0, 601, 369));
    auto& backImage = Get<TImage>("BackSideImage");
    EXPECT_EQ(backImage.Parent(), &back);
    EXPECT_EQ(backImage.Picture().Width(), 436);
    EXPECT_EQ(backImage.Picture().Height(), 106);
    backImage.OnClick()(&backImage);
    back.OnClick()(&back);

    auto& small = Get<TDIBContainer>("DIBContainer1");
    EXPECT_EQ(small.Parent(), &back);
    EXPECT_EQ(small.Color(), RGB(4, 0, 0));
    EXPECT_EQ(Get<TLabel>("BackSideVersionLabel").Parent(), &small);
    EXPECT_EQ(Get<TLabel>("BackSideVersionLabel").Caption(), "v0");
    EXPECT_EQ(Get<TLabel>("Label8").Caption(), "plugin version:");
    EXPECT_EQ(Get<TLabel>("Label1").Caption(), "programming and grafical user interface");
    EXPECT_EQ(Get<TLabel>("Label1").Font().Color, clWhite);
    EXPECT_EQ(Get<TLabel>("Label2").Font().Color, clBlack);
    EXPECT_EQ(Get<TDIBSlider>("DIBSlider5").Max(), 100);
    EXPECT_FALSE(Get<TDIBSlider>("DIBSlider5").OnChange());

    EXPECT_EQ(calls,
              (std::vector<std::string>{"UpdaterTimer updater", "BackSideImageClick BackSideImage",
                                        "BackSideImageClick BackSideContainer"}));
}

TEST_F(EditorLayout, ImageListHoldsThe13SkinImagesAsStored) {
    Load(Recording());
    struct Expected {
        const char* name;
        int w, h;
        bool transparent;
        TColor colour;
        TTransparentMode mode;
    };
    const Expected expected[] = {
        {"slider hori", 27, 16, false, RGB(49, 49, 49), tmAuto},
        {"slider verti", 16, 27, false, RGB(49, 49, 49), tmAuto},
        {"trackbar_hori", 3, 16, true, clWhite, tmFixed},
        {"trackbar verti", 16, 3, true, clWhite, tmAuto},
        {"sync button", 60, 20, false, RGB(180, 182, 186), tmAuto},
        {"NO SYNC image", 65, 7, false, RGB(141, 141, 151), tmAuto},
        {"knob_tiny_2", 1708, 28, true, RGB(128, 129, 128), tmFixed},
        {"MANUAL image", 38, 21, false, RGB(188, 50, 53), tmAuto},
        {"knob_tiny_3", 1708, 28, true, RGB(128, 129, 128), tmFixed},
        {"small on button", 42, 16, false, RGB(180, 182, 186), tmAuto},
        {"link button", 60, 20, false, RGB(180, 182, 186), tmAuto},
        {"on button", 60, 20, false, RGB(180, 182, 186), tmAuto},
        {"fit button", 42, 16, false, RGB(180, 182, 186), tmAuto},
    };
    TDIBImages& images = FindFormImageList(*window, "qlDIBImages").DIBImages();
    ASSERT_EQ(images.Count(), 13);
    for (int i = 0; i < 13; ++i) {
        SCOPED_TRACE(expected[i].name);
        TDIBImagesItem& item = images[i];
        const TMemoryDIB& dib = item.StoredDIB();
        EXPECT_EQ(item.DisplayName(), expected[i].name);
        EXPECT_EQ(dib.Width(), expected[i].w);
        EXPECT_EQ(dib.Height(), expected[i].h);
        EXPECT_EQ(dib.Transparent(), expected[i].transparent);
        EXPECT_EQ(dib.TransparentColor(), expected[i].colour);
        EXPECT_EQ(dib.TransparentMode(), expected[i].mode);
        EXPECT_EQ(dib.Opacity(), 255);
        EXPECT_EQ(dib.Angle(), 0);
        EXPECT_FALSE(dib.Masked());
        EXPECT_EQ(item.ImageRetrieval(), irInternal);
    }
    // The pixels are the generated skin's, not a blank of the right size.
    const std::vector<TDIBStoredProperty> stored = images[6].StoredProperties();
    bool sawData = false;
    for (const TDIBStoredProperty& p : stored)
        if (p.Name == "DIB.Data") {
            const auto& bytes = std::get<std::vector<uint8_t>>(p.Value);
            const std::span<const uint8_t> skin = EditorResource("knob_tiny_2");
            EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), skin.begin(), skin.end()));
            sawData = true;
        }
    EXPECT_TRUE(sawData);
}

TEST_F(EditorLayout, SkinnedControlsCarryTheirImagesSettingsAndHandlers) {
    Load(Recording());
    TDIBImageList* list = &FindFormImageList(*window, "qlDIBImages");

    auto& sync = Get<TDIBGlyphButton>("TempoSyncButton");
    EXPECT_EQ(sync.BoundsRect(), Bounds(190, 254, 30, 20));
    EXPECT_EQ(sync.Glyph().DIBImageList(), list);
    EXPECT_EQ(sync.Glyph().DIBIndex(), 4);
    EXPECT_TRUE(sync.ToggleDown());
    EXPECT_FALSE(sync.Down());

    // Only the two stored down.
    for (const char* name : {"FilterFreqLinkButton", "FilterResoLinkButton"})
        EXPECT_TRUE(Get<TDIBGlyphButton>(name).Down()) << name;
    EXPECT_FALSE(Get<TDIBGlyphButton>("FeedbackLinkButton").Down());
    auto& delayLink = Get<TDIBGlyphButton>("DelayTimeLinkButton");
    EXPECT_FALSE(delayLink.Visible());
    EXPECT_FALSE(delayLink.Enabled());
    EXPECT_EQ(Get<TDIBGlyphButton>("LeftDelayFitButton").Glyph().DIBIndex(), 12);
    EXPECT_EQ(Get<TDIBGlyphButton>("GateOnButton").Glyph().DIBIndex(), 11);
    EXPECT_EQ(Get<TDIBGlyphButton>("LoCutOnButton").BoundsRect(), Bounds(237, 254, 21, 16));

    auto& freq = Get<TDIBSlider>("LeftFilterFreqSlider");
    EXPECT_EQ(freq.BoundsRect(), Bounds(144, 58, 16, 95));
    EXPECT_EQ(freq.SliderType(), stVertical);
    EXPECT_EQ(freq.IndexMain().DIBIndex(), 3);
    EXPECT_EQ(freq.IndexPointer().DIBIndex(), 1);
    EXPECT_EQ(freq.IndexPointer().DIBImageList(), list);
    EXPECT_EQ(freq.Max(), 10000);
    EXPECT_EQ(freq.Tag(), 1);
    EXPECT_EQ(freq.Cursor(), crSizeNS);
    EXPECT_EQ(freq.SmallChange(), 1);
    EXPECT_EQ(freq.LargeChange(), 5);
    EXPECT_EQ(freq.PageSize(), 5);

    auto& hiCut = Get<TDIBSlider>("HiCutSlider");
    EXPECT_EQ(hiCut.SliderType(), stHorizontal);
    EXPECT_EQ(hiCut.Max(), 1000);
    EXPECT_EQ(hiCut.Position(), 1000);
    EXPECT_EQ(hiCut.IndexMain().DIBIndex(), 2);
    EXPECT_EQ(hiCut.IndexPointer().DIBIndex(), 0);
    EXPECT_EQ(hiCut.Cursor(), crSizeWE);

    // The invisible delay-time sliders lie exactly over the disabled ones that show the value.
    auto& visible = Get<TDIBSlider>("RightDelayTimeVisibleSlider");
    auto& dragged = Get<TDIBSlider>("RightDelayTimeSlider");
    EXPECT_EQ(visible.BoundsRect(), dragged.BoundsRect());
    EXPECT_FALSE(visible.Enabled());
    EXPECT_EQ(visible.Tag(), 1);
    EXPECT_EQ(dragged.Opacity(), 0);
    EXPECT_EQ(dragged.Tag(), 2);
    EXPECT_FALSE(visible.OnChange());
    auto& front = Get<TDIBContainer>("FrontSideContainer");
    EXPECT_EQ(front.ControlAtPos({90, 100}), &dragged);

    auto& knob = Get<TDIBKnobWithReset>("RightFilterResoKnob");
    EXPECT_EQ(knob.BoundsRect(), Bounds(193, 179, 28, 28));
    EXPECT_EQ(knob.IndexMain().DIBIndex(), 6);
    EXPECT_EQ(knob.NumGlyphs(), 61);
    EXPECT_EQ(knob.Max(), 400);
    EXPECT_EQ(knob.Tag(), 2);

    auto& logo = Get<TDIBImage>("LogoImage");
    EXPECT_EQ(logo.IndexMain().DIBIndex(), -1);
    EXPECT_EQ(Get<TDIBImage>("ManualImage").IndexMain().DIBIndex(), 7);

    // One control per handler.
    freq.OnChange()(&freq);
    Get<TDIBSlider>("DryLevelSlider").OnChange()(nullptr);
    knob.OnChange()(&knob);
    Get<TDIBKnobWithReset>("GateSpeedKnob").OnChange()(nullptr);
    sync.OnClick()(&sync);
    Get<TDIBGlyphButton>("FeedbackLinkButton").OnClick()(nullptr);
    Get<TDIBGlyphButton>("RightDelayFitButton").OnClick()(nullptr);
    logo.OnClick()(&logo);
    EXPECT_EQ(calls, (std::vector<std::string>{
                         "LinkedSliderChange LeftFilterFreqSlider", "SimpleSliderChange -",
                         "LinkedKnobChange RightFilterResoKnob", "SimpleKnobChange -",
                         "SimpleButtonClick TempoSyncButton", "LinkButtonClick -",
                         "FitButtonClick -", "LogoImageClick LogoImage"}));
}

TEST_F(EditorLayout, LabelsShowTheirStoredCaptionsInThreeStyles) {
    Load(Recording());
    const std::map<std::string, std::string> captions = {
        {"VersionLabel", "v0.00"},
        {"kHzLabel", "xxxxx kHz"},
        {"BPMLabel", "0 BPM"},
        {"HostCanSyncLabel", "Host Sync: NO"},
        {"LeftDelayTimeInMsLabel", "9999"},
        {"RightDelayLevelLabel", "-20,0"},
        {"HiCutLabel", "22,1k"},
        {"GateSpeedLabel", "100"},
        {"RightInitialDelayTimeRhythmicLabel", "4,0"},
        {"Label9", "/ 16"},
        {"BpmSyncLabel", "140,00"},
        {"LevelLinkLabel", "LevelLinkDbglabel"},
        {"DuckerDebugLabel", "-"}};
    for (const auto& [name, caption] : captions)
        EXPECT_EQ(Get<TLabel>(name.c_str()).Caption(), caption) << name;

    auto& value = Get<TLabel>("LeftFilterResoLabel");
    EXPECT_EQ(value.BoundsRect(), Bounds(134, 208, 25, 14));
    EXPECT_EQ(value.Font(), (TFont{"Estrangelo Edessa", -11, RGB(63, 63, 63), 0}));
    EXPECT_EQ(value.Alignment(), taRightJustify);
    EXPECT_TRUE(value.Transparent());
    EXPECT_EQ(Get<TLabel>("Label10").Font().Color, clSilver);

    auto& status = Get<TLabel>("kHzLabel");
    EXPECT_EQ(status.BoundsRect(), Bounds(520, 11, 43, 10));
    EXPECT_EQ(status.Font(), (TFont{"Verdana", -8, clWhite, 0}));
    EXPECT_EQ(status.Alignment(), taLeftJustify);
    EXPECT_TRUE(status.Transparent());

    auto& plain = Get<TLabel>("MilliLabel");
    EXPECT_FALSE(plain.Visible());
    EXPECT_TRUE(plain.ParentFont());
    EXPECT_EQ(plain.Font(), window->Font());
    EXPECT_TRUE(Get<TLabel>("VersionLabel").Visible());
}

TEST_F(EditorLayout, AMissingHandlerIsNamed) {
    TFormHandlers handlers = Recording();
    handlers.erase("FitButtonClick");
    try {
        Load(std::move(handlers));
        FAIL() << "loaded without FitButtonClick";
    } catch (const EFormError& e) {
        EXPECT_NE(std::string(e.what()).find("FitButtonClick"), std::string::npos) << e.what();
        EXPECT_GT(e.Line(), 0);
    }
    window.reset(); // what was built before the error goes with the window
}

TEST_F(EditorLayout, PaintsTheFrontSideWithItsPanelAndSkins) {
    Load(Recording());
    window->Show();
    window->Repaint();
    platform.PumpEvents();
    const THeadlessImage screen = platform.Screenshot(window->Handle());
    ASSERT_EQ(screen.Width, 600);
    ASSERT_EQ(screen.Height, 369);
    const TBitmap& panel = Get<TImage>("bg").Picture();
    // Where no control lies the panel artwork shows, not the back side or the form's black.
    for (TPoint p : {TPoint{5, 300}, TPoint{300, 5}, TPoint{590, 360}})
        EXPECT_EQ(screen.At(p.X, p.Y) & 0xFFFFFF, panel.ScanLine(p.Y)[p.X] & 0xFFFFFF)
            << p.X << "," << p.Y;
    // A knob draws its first frame over the panel: the knob's area is not the bare panel.
    int differing = 0;
    for (int y = 244; y < 272; ++y)
        for (int x = 22; x < 50; ++x)
            differing += (screen.At(x, y) & 0xFFFFFF) != (panel.ScanLine(y)[x] & 0xFFFFFF);
    EXPECT_GT(differing, 100);
}

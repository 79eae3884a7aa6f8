// The skinned-control container: construction rules, composition, mouse and hot state, press
// auto-repeat, DIB focus and keys, moving children, image links and templates.
#include "container_fixture.h"

#include "dibcontrols/cDIBImage.h"
#include "framework/stdctrls.h"

#include <sstream>

// --- construction

TEST_F(ContainerTest, ControlNeedsAnOwnerThatIsOrOwnsAContainer) {
    try {
        Painter p(nullptr, Bounds(0, 0, 1, 1), clRed);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Owner cannot be nil");
    }
    TForm bare(nullptr, nullptr, &platform);
    try {
        Painter p(&bare, Bounds(0, 0, 1, 1), clRed);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Parent must be a TDIBContainer");
    }
    EXPECT_EQ(bare.ComponentCount(), 0); // a refused control leaves nothing behind

    Painter byForm(form.get(), Bounds(0, 0, 5, 5), clRed); // the form owns a container
    EXPECT_EQ(byForm.Parent(), container);
    EXPECT_EQ(byForm.Opacity(), 255);
    EXPECT_EQ(byForm.DIBTabOrder(), -1);

    byForm.SetParent(form.get()); // a non-container parent is replaced by the container it owns
    EXPECT_EQ(byForm.Parent(), container);
    TPanel other(&bare);
    EXPECT_THROW(byForm.SetParent(&other), Exception);
    EXPECT_EQ(byForm.Parent(), container);
    byForm.SetParent(nullptr);
    EXPECT_EQ(byForm.Parent(), nullptr);
}

// --- composition

TEST_F(ContainerTest, ComposesControlsInZOrderWithOpacity) {
    Painter under(container, Bounds(10, 10, 40, 20), clRed);
    Painter over(container, Bounds(30, 10, 40, 20), clWhite);
    over.SetOpacity(128);
    Painter hidden(container, Bounds(100, 10, 20, 20), clLime);
    hidden.SetOpacity(0);
    const THeadlessImage s = Screen();
    EXPECT_EQ(Rgb(s, 5, 5), Px(clBlack));
    EXPECT_EQ(Rgb(s, 15, 15), Px(clRed));
    // (s*k + d*(255-k) + 255) >> 8 per byte: white over red and over black.
    EXPECT_EQ(Rgb(s, 35, 15), 0xFF8080u);
    EXPECT_EQ(Rgb(s, 60, 15), 0x808080u);
    EXPECT_EQ(Rgb(s, 110, 15), Px(clBlack)); // opacity 0 shows nothing
    EXPECT_EQ(hidden.Paints, 1);             // ... though it still paints
}

TEST_F(ContainerTest, ControlPartlyOutsideTopLeftComposesVisiblePartInPlace) {
    Painter p(container, Bounds(-5, -3, 20, 10), clRed);
    // Control pixel (7, 5) marked green: it belongs at container (2, 2).
    p.Extra = [](TAbstractSuperDIB& dib) { dib.FillRect(clLime, 7, 5, 1, 1); };
    const THeadlessImage s = Screen();
    EXPECT_EQ(Rgb(s, 0, 0), Px(clRed));
    EXPECT_EQ(Rgb(s, 14, 6), Px(clRed));
    EXPECT_EQ(Rgb(s, 15, 0), Px(clBlack));
    EXPECT_EQ(Rgb(s, 0, 7), Px(clBlack));
    EXPECT_EQ(Rgb(s, 2, 2), Px(clLime));
    EXPECT_EQ(Rgb(s, 1, 2), Px(clRed));
}

TEST_F(ContainerTest, ScratchImageStartsAsTheBackgroundBeneath) {
    Painter back(container, Bounds(0, 0, 50, 50), clBlue);
    Painter front(container, Bounds(10, 10, 20, 20), clNone);
    front.Extra = [](TAbstractSuperDIB& dib) { dib.FillRect(clRed, 0, 0, 5, 5); };
    int starts = 0, ends = 0;
    front.SetOnPaintStart([&](TComponent*) { ++starts; });
    front.SetOnPaintEnd([&](TComponent*) {
        ++ends;
        EXPECT_NE(front.Canvas(), nullptr);
    });
    const THeadlessImage s = Screen();
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(front.Canvas(), nullptr); // bound only while painting
    EXPECT_EQ(Rgb(s, 12, 12), Px(clRed));
    EXPECT_EQ(Rgb(s, 20, 20), Px(clBlue));
    EXPECT_EQ(Rgb(s, 45, 45), Px(clBlue));
}

TEST_F(ContainerTest, OnlyControlsMeetingTheUpdateRectangleAreComposed) {
    Painter a(container, Bounds(0, 0, 28, 28), clRed);
    Painter b(container, Bounds(40, 0, 28, 28), clLime);
    Painter c(container, Bounds(80, 0, 28, 28), clBlue);
    TLabel label(container);
    label.SetParent(container);
    label.SetBounds(120, 0, 60, 20);
    label.SetAutoSize(false);
    label.SetCaption("Hz");
    label.SetTransparent(false);
    label.SetColor(clWhite);
    Screen();
    EXPECT_EQ(a.Paints + b.Paints + c.Paints, 3);
    platform.ClearLog();

    b.Invalidate();
    const THeadlessImage s = Screen();
    EXPECT_EQ(a.Paints, 1);
    EXPECT_EQ(b.Paints, 2);
    EXPECT_EQ(c.Paints, 1);
    // One blit of exactly the invalidated area.
    ASSERT_EQ(platform.Blits(ContainerWindow()).size(), 1u);
    EXPECT_EQ(platform.Blits(ContainerWindow())[0], b.BoundsRect());
    EXPECT_EQ(Rgb(s, 50, 10), Px(clLime));
    EXPECT_EQ(Rgb(s, 179, 19), Px(clWhite)); // the label paints into the container's buffer
}

TEST_F(ContainerTest, PreparePaintThatEnlargesTheRectangleRepaintsOnTheNextPass) {
    Painter a(container, Bounds(0, 0, 10, 10), clRed);
    Painter b(container, Bounds(100, 50, 10, 10), clLime);
    Screen();
    platform.ClearLog();
    int prepares = 0;
    a.Prepare = [&](TRect& r) {
        ++prepares;
        r = UnionRect(r, b.BoundsRect());
    };
    a.Invalidate();
    platform.PumpEvents(); // asks again with the larger rectangle, blits nothing
    EXPECT_TRUE(platform.Blits(ContainerWindow()).empty());
    platform.PumpEvents();
    ASSERT_EQ(platform.Blits(ContainerWindow()).size(), 1u);
    EXPECT_EQ(platform.Blits(ContainerWindow())[0], (TRect{0, 0, 110, 60}));
    EXPECT_EQ(b.Paints, 2);
    EXPECT_EQ(prepares, 1); // the repeat pass does not ask again

    // A bottom edge moved by up to 2 pixels is not a change.
    a.Prepare = [](TRect& r) { r.Bottom += 2; };
    platform.ClearLog();
    a.Invalidate();
    platform.PumpEvents();
    EXPECT_EQ(platform.Blits(ContainerWindow()).size(), 1u);
}

// --- mouse

TEST_F(ContainerTest, OpacityZeroControlTakesTheClickNotTheOneBeneath) {
    Painter beneath(container, Bounds(10, 10, 40, 40), clRed, &log, "B");
    Painter glass(container, Bounds(10, 10, 40, 40), clLime, &log, "G");
    glass.SetOpacity(0);
    EXPECT_EQ(Rgb(Screen(), 20, 20), Px(clRed));
    log.clear();
    platform.Click({20, 20});
    EXPECT_EQ(log, (Log{"G:highlight on", "G:enter", "G:down 10,10", "G:click"}));
}

TEST_F(ContainerTest, DisabledOrInvisibleControlPassesThePressBeneath) {
    Painter beneath(container, Bounds(10, 10, 40, 40), clRed, &log, "B");
    Painter top(container, Bounds(10, 10, 40, 40), clLime, &log, "T");
    int containerPresses = 0;
    container->SetOnMouseDown(
        [&](TComponent*, TMouseButton, TShiftState, int32_t, int32_t) { ++containerPresses; });
    top.SetEnabled(false);
    platform.Click({20, 20});
    EXPECT_EQ(log, (Log{"B:highlight on", "B:enter", "B:down 10,10", "B:click"}));
    log.clear();
    top.SetEnabled(true);
    top.SetVisible(false);
    beneath.SetVisible(false);
    platform.Click({21, 20});
    EXPECT_EQ(containerPresses, 1);
    EXPECT_EQ(log, (Log{"B:leave", "B:highlight off"}));
}

TEST_F(ContainerTest, PressDragOutsideReleaseKeepsHotUntilReleaseThenLeaveAndEnter) {
    Painter a(container, Bounds(10, 10, 20, 20), clRed, &log, "A");
    Painter b(container, Bounds(50, 10, 20, 20), clLime, &log, "B");
    platform.MouseMove({15, 15});
    platform.MouseDown({15, 15});
    EXPECT_TRUE(a.Hot());
    log.clear();

    platform.MouseMove({55, 15}); // over B, the press goes on
    platform.MouseMove({56, 15});
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(a.Hot());
    EXPECT_FALSE(a.MouseOver());
    EXPECT_FALSE(b.Hot());

    platform.MouseUp({56, 15});
    EXPECT_EQ(log, (Log{"A:leave", "A:highlight off", "B:highlight on", "B:enter"}));
    EXPECT_FALSE(a.Hot());
    EXPECT_TRUE(b.Hot());

    // Coming back before the release: no leave, no second enter, and a click.
    platform.AdvanceTime(1000); // not a double click
    log.clear();
    platform.MouseMove({15, 15});
    platform.MouseDown({15, 15});
    platform.MouseMove({100, 80});
    platform.MouseMove({15, 15});
    platform.MouseUp({15, 15});
    EXPECT_EQ(log, (Log{"B:leave", "B:highlight off", "A:highlight on", "A:enter", "A:down 5,5",
                        "A:click"}));
}

TEST_F(ContainerTest, AutoRepeatRedeliversThePressEvery250msAtTheCursor) {
    Painter p(container, Bounds(10, 10, 50, 50), clRed, &log, "P");
    p.SetAutoRepeat(true);
    platform.MouseMove({15, 15});
    platform.MouseDown({15, 15});
    EXPECT_TRUE(p.AutoRepeatRunning());
    platform.MouseMove({30, 22});
    log.clear();
    platform.AdvanceTime(249);
    EXPECT_TRUE(log.empty());
    platform.AdvanceTime(1);
    EXPECT_EQ(log, (Log{"P:down 20,12"}));
    platform.MouseMove({40, 25});
    platform.AdvanceTime(250);
    EXPECT_EQ(log, (Log{"P:down 20,12", "P:down 30,15"}));

    // Leaving stops it, coming back with the button still held restarts the period.
    log.clear();
    platform.MouseMove({150, 80});
    platform.AdvanceTime(1000);
    EXPECT_TRUE(log.empty());
    platform.MouseMove({20, 20});
    platform.AdvanceTime(250);
    EXPECT_EQ(log, (Log{"P:down 10,10"}));

    log.clear();
    platform.MouseUp({20, 20});
    platform.AdvanceTime(1000);
    EXPECT_EQ(log, (Log{"P:click"}));
    EXPECT_FALSE(p.AutoRepeatRunning());

    // A stop request ends it at the next tick.
    log.clear();
    platform.MouseDown({20, 20});
    p.StopAutoRepeat();
    platform.AdvanceTime(1000);
    EXPECT_FALSE(p.AutoRepeatRunning());
    platform.MouseUp({20, 20});
}

TEST_F(ContainerTest, AutoRepeatOfADoubleClickPressDoesNotDoubleClickAgain) {
    Painter p(container, Bounds(10, 10, 50, 50), clRed, &log, "P");
    p.SetAutoRepeat(true);
    platform.Click({20, 20});
    platform.MouseDown({20, 20}); // the second press of a double click
    platform.AdvanceTime(600);
    platform.MouseUp({20, 20});
    int dbl = int(std::count(log.begin(), log.end(), "P:dblclick"));
    int downs = int(std::count(log.begin(), log.end(), "P:down 10,10"));
    EXPECT_EQ(dbl, 1);
    EXPECT_EQ(downs, 4); // two presses and two repeats
}

// --- DIB focus and keys

TEST_F(ContainerTest, PressGivesDIBFocusOnlyInTheFocusOrderAndTabWalksIt) {
    Painter none(container, Bounds(0, 0, 10, 10), clRed, &log, "N");
    Painter second(container, Bounds(20, 0, 10, 10), clRed, &log, "S");
    Painter first(container, Bounds(40, 0, 10, 10), clRed, &log, "F");
    second.SetDIBTabOrder(1);
    first.SetDIBTabOrder(0);
    EXPECT_EQ(container->FocusOrder(), (std::vector<TCustomDIBControl*>{&first, &second}));
    int changes = 0;
    container->SetOnActiveControlChange([&](TComponent*) { ++changes; });

    platform.Click({5, 5});
    EXPECT_EQ(container->ActiveControl(), nullptr);
    platform.KeyDown(vkUp); // the keyboard never reaches a control of order -1
    EXPECT_EQ(std::count(log.begin(), log.end(), "N:key 38"), 0);

    platform.Click({45, 5});
    EXPECT_EQ(container->ActiveControl(), &first);
    EXPECT_TRUE(first.DIBFocused());
    EXPECT_EQ(platform.FocusWindow(), ContainerWindow());
    log.clear();
    platform.KeyDown(vkTab);
    EXPECT_EQ(container->ActiveControl(), &second);
    // F stays highlighted: the cursor is still over it.
    EXPECT_EQ(log, (Log{"F:dibexit", "S:highlight on", "S:dibenter"}));
    EXPECT_EQ(changes, 2);

    // Nothing follows: the key goes on, and the container's own handler sees it.
    int containerKeys = 0;
    container->SetOnKeyDown([&](TComponent*, uint16_t&, TShiftState) { ++containerKeys; });
    platform.KeyDown(vkTab);
    EXPECT_EQ(container->ActiveControl(), &second);
    EXPECT_EQ(containerKeys, 1);
    platform.SetModifiers(ssShift);
    platform.KeyDown(vkTab);
    platform.SetModifiers(0);
    EXPECT_EQ(container->ActiveControl(), &first);

    // Disabling the focused control takes its focus.
    first.SetEnabled(false);
    EXPECT_FALSE(first.DIBFocused());
    EXPECT_EQ(container->ActiveControl(), nullptr);
}

TEST_F(ContainerTest, KeysReachTheActiveControlOnlyWhenWished) {
    Painter p(container, Bounds(0, 0, 10, 10), clRed, &log, "P");
    p.SetDIBTabOrder(0);
    std::vector<uint16_t> containerKeys;
    container->SetOnKeyDown(
        [&](TComponent*, uint16_t& key, TShiftState) { containerKeys.push_back(key); });
    platform.Click({5, 5});
    log.clear();
    platform.KeyDown(vkUp);     // arrows are wished for by default
    platform.KeyDown(vkReturn); // Return needs the wish for all keys
    platform.KeyDown('A');
    EXPECT_EQ(log, (Log{"P:key 38", "P:key 65"}));
    EXPECT_EQ(containerKeys, (std::vector<uint16_t>{vkReturn}));
    p.SetDialogKeys(dkAllKeys);
    platform.KeyDown(vkReturn);
    EXPECT_EQ(log.back(), "P:key 13");
    p.SetDialogKeys(0);
    platform.KeyDown(vkDown);
    EXPECT_EQ(containerKeys.back(), vkDown);
}

TEST_F(ContainerTest, AltAcceleratorClicksAnEnabledVisibleControl) {
    Painter p(container, Bounds(0, 0, 10, 10), clRed, &log, "P");
    p.SetAccelerator(U'k');
    container->SetFocus();
    platform.SetModifiers(ssAlt);
    platform.KeyDown('K');
    EXPECT_EQ(log, (Log{"P:click"}));
    p.SetVisible(false);
    platform.KeyDown('K');
    platform.SetModifiers(0);
    EXPECT_EQ(log.size(), 1u);
}

// --- children, image links, templates

TEST_F(ContainerTest, ChildrenMoveWithTheControlAndLeaveTheListWhenFreed) {
    Painter a(container, Bounds(10, 10, 10, 10), clRed);
    auto* b = new Painter(container, Bounds(30, 40, 5, 6), clRed);
    a.AddChild(b);
    b->AddChild(&a); // each other's child: the bounds guard stops the loop
    a.SetBounds(15, 8, 12, 12);
    EXPECT_EQ(b->BoundsRect(), Bounds(35, 38, 5, 6));
    a.SetWidth(20); // a size change alone moves nobody
    EXPECT_EQ(b->BoundsRect(), Bounds(35, 38, 5, 6));
    delete b;
    EXPECT_TRUE(a.Children().empty());
    a.SetLeft(0);
}

TEST_F(ContainerTest, ImageLinksReportChangesUntilTheControlOrListGoes) {
    auto list = std::make_unique<TDIBImageList>();
    list->DIBImages().Add();
    list->DIBImages().Add();
    auto* p = new Painter(container, Bounds(0, 0, 10, 10), clRed);
    TDIBImageLink& link = p->CreateImageLink();
    link.SetDIBIndex(1);
    p->ImageChanges = 0;
    p->SetDIBImageList(list.get());
    EXPECT_EQ(link.DIBImageList(), list.get());
    EXPECT_EQ(p->ImageChanges, 1); // attaching reports its own image only
    list->DIBImages()[1].DIB().Fill(clRed);
    list->DIBImages()[0].DIB().Fill(clRed);
    EXPECT_EQ(p->ImageChanges, 2);
    delete p;
    list->DIBImages()[1].DIB().Fill(clBlue); // reaches nobody

    Painter q(container, Bounds(0, 0, 10, 10), clRed);
    q.SetDIBImageList(list.get());
    list.reset();
    EXPECT_EQ(q.DIBImageList(), nullptr);
}

TEST_F(ContainerTest, TemplatePropertiesMustBePublishedAndOfAStorableKind) {
    Painter p(container, Bounds(0, 0, 10, 10), clRed);
    EXPECT_EQ(p.TemplateProperties(), (std::vector<std::string>{"Width", "Height"}));
    try {
        p.RegisterTemplateProperty("Colour");
        FAIL();
    } catch (const EDIBControlError& e) {
        EXPECT_STREQ(e.what(), "Class Painter is trying to register Colour as a template "
                               "property, and that property does not exist.");
    }
    try {
        p.RegisterTemplateProperty("OnClick");
        FAIL();
    } catch (const EDIBControlError& e) {
        EXPECT_STREQ(e.what(), "Attempting to template an invalid property type.");
    }
}

TEST_F(ContainerTest, TemplateRoundTripCarriesImagesAndAppearance) {
    TDIBImageList list;
    TMemoryDIB& dib = list.DIBImages().Add().DIB();
    dib.SetSize(6, 4);
    dib.Fill(clRed);
    dib.SetTransparent(true);
    TDIBImage source(container);
    source.SetDIBImageList(&list);
    source.IndexMain().SetDIBIndex(0);
    source.SetAngle(90);
    source.SetScale(150.5L);
    source.SetBounds(0, 0, 40, 30);
    std::stringstream stream;
    source.SaveTemplate(stream);

    TDIBImage target(container);
    std::stringstream copy(stream.str());
    try {
        target.LoadTemplate(copy);
        FAIL();
    } catch (const EDIBControlError& e) {
        EXPECT_STREQ(e.what(), "No DIB image list has been assigned.");
    }
    TDIBImageList other;
    target.SetDIBImageList(&other);
    std::stringstream again(stream.str());
    target.LoadTemplate(again);
    EXPECT_EQ(target.Angle(), 90);
    EXPECT_EQ(target.Scale(), 150.5L);
    EXPECT_EQ(target.Width(), 40);
    EXPECT_EQ(target.Height(), 30);
    ASSERT_EQ(other.DIBImages().Count(), 1);
    EXPECT_EQ(target.IndexMain().DIBIndex(), 0);
    const TDIBImagesItem& item = other.DIBImages()[0];
    EXPECT_EQ(item.StoredDIB().Width(), 6);
    EXPECT_TRUE(item.StoredDIB().Transparent());
    EXPECT_EQ(item.TemplateFilename().size(), 38u + 2u); // "{GUID}:0"
    EXPECT_EQ(item.TemplateFilename().substr(38), ":0");

    std::stringstream cut(stream.str().substr(0, 30));
    EXPECT_THROW(target.LoadTemplate(cut), EDIBControlError);
}

// The glyph button: size and faces from the strip, state from mouse, Enabled and Down, toggling
// on click, groups, and the misuse errors.
#include "container_fixture.h"

#include "dibcontrols/cDIBGlyphButton.h"

namespace {

// Face f of the strip: red = 0x40 + f, green = row, blue = column within the face.
int AddStrip(TDIBImageList& list, int faces, int faceWidth, int height) {
    TDIBImagesItem& item = list.DIBImages().Add();
    item.DIB().SetSize(faces * faceWidth, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < faces * faceWidth; ++x)
            item.DIB().ScanLine(y)[x] = 0xFF000000u | uint32_t(0x40 + x / faceWidth) << 16 |
                                        uint32_t(y) << 8 | uint32_t(x % faceWidth);
    return item.Index();
}

class GlyphButtonTest : public ContainerTest {
  protected:
    void SetUp() override {
        ContainerTest::SetUp();
        twoFaces = AddStrip(list, 2, 30, 20); // 60 x 20, like the editor's buttons
        fiveFaces = AddStrip(list, 5, 30, 20);
    }
    TDIBGlyphButton* Make(int left, int top, int strip) {
        auto* b = new TDIBGlyphButton(container);
        b->SetBounds(left, top, 10, 10);
        b->SetDIBImageList(&list);
        b->Glyph().SetDIBIndex(strip);
        return b;
    }
    // Whether the screen shows, at b, the strip's rectangle of b's size starting at x = faceX.
    bool Shows(TDIBGlyphButton* b, int strip, int faceX) {
        const THeadlessImage s = Screen();
        const TMemoryDIB& dib = list.DIBImages()[strip].StoredDIB();
        for (int y = 0; y < b->Height(); ++y)
            for (int x = 0; x < b->Width(); ++x)
                if (Rgb(s, b->Left() + x, b->Top() + y) != (dib.PixelAt(faceX + x, y) & 0xFFFFFFu))
                    return false;
        return true;
    }
    TPoint Inside(TDIBGlyphButton* b) const { return {b->Left() + 5, b->Top() + 5}; }

    TDIBImageList list; // TearDown frees the form, and with it the buttons, before the list
    int twoFaces = 0, fiveFaces = 0;
};

} // namespace

TEST_F(GlyphButtonTest, SizesToOneFaceAndTakesTheDownFaceFromTheSecond) {
    TDIBGlyphButton* b = Make(20, 30, twoFaces);
    EXPECT_EQ(b->ClassName(), "TDIBGlyphButton");
    EXPECT_EQ(b->NumGlyphs(), 2);
    EXPECT_EQ(b->Width(), 30);
    EXPECT_EQ(b->Height(), 20);
    EXPECT_TRUE(Shows(b, twoFaces, 0));
    b->SetDown(true);
    EXPECT_EQ(b->State(), dbDown);
    EXPECT_TRUE(Shows(b, twoFaces, 30));
    b->SetNumGlyphs(3); // 60 div 3: faces of 20 pixels, down falls back to face 1
    EXPECT_EQ(b->Width(), 20);
    EXPECT_TRUE(Shows(b, twoFaces, 20));
}

TEST_F(GlyphButtonTest, ToggleClickFlipsDownAfterOnClick) {
    TDIBGlyphButton* b = Make(20, 30, twoFaces);
    b->SetToggleDown(true);
    Log seen;
    b->SetOnClick([&](TComponent*) { seen.push_back(b->Down() ? "click down" : "click up"); });
    b->SetOnMouseUp([&](TComponent*, TMouseButton, TShiftState, int32_t, int32_t) {
        seen.push_back(b->Down() ? "mouseup down" : "mouseup up");
    });
    platform.MouseDown(Inside(b));
    EXPECT_EQ(b->State(), dbPressed);
    EXPECT_TRUE(Shows(b, twoFaces, 30));
    platform.MouseUp(Inside(b));
    EXPECT_EQ(seen, (Log{"click up", "mouseup down"}));
    EXPECT_TRUE(b->Down());
    EXPECT_EQ(b->State(), dbDown);
    EXPECT_TRUE(Shows(b, twoFaces, 30));
    platform.Click(Inside(b));
    EXPECT_FALSE(b->Down());
    EXPECT_EQ(b->State(), dbHover); // the cursor is still over it
    EXPECT_TRUE(Shows(b, twoFaces, 0));

    b->SetToggleDown(false);
    platform.Click(Inside(b));
    EXPECT_FALSE(b->Down());
    EXPECT_EQ(seen.size(), 6u);
}

TEST_F(GlyphButtonTest, PressMovedOffAndReleasedOutsideDoesNotClick) {
    TDIBGlyphButton* b = Make(20, 30, twoFaces);
    b->SetToggleDown(true);
    int clicks = 0;
    b->SetOnClick([&](TComponent*) { ++clicks; });
    platform.MouseDown(Inside(b));
    platform.MouseMove({120, 80});
    EXPECT_EQ(b->State(), dbUp);
    EXPECT_TRUE(Shows(b, twoFaces, 0));
    platform.MouseMove(Inside(b)); // back over it: pressed again
    EXPECT_EQ(b->State(), dbPressed);
    platform.MouseMove({120, 80});
    platform.MouseUp({120, 80});
    EXPECT_EQ(clicks, 0);
    EXPECT_FALSE(b->Down());
    EXPECT_EQ(b->State(), dbUp);
    EXPECT_TRUE(Shows(b, twoFaces, 0));

    b->SetDown(true); // and a down button goes back to its down face
    platform.MouseDown(Inside(b));
    platform.MouseMove({120, 80});
    platform.MouseUp({120, 80});
    EXPECT_TRUE(b->Down());
    EXPECT_TRUE(Shows(b, twoFaces, 30));
}

TEST_F(GlyphButtonTest, DisabledWithTwoGlyphsShowsTheUpFaceEvenWhenDown) {
    TDIBGlyphButton* b = Make(20, 30, twoFaces);
    b->SetDown(true);
    b->SetEnabled(false);
    EXPECT_EQ(b->State(), dbDisabled);
    EXPECT_TRUE(Shows(b, twoFaces, 0));
    platform.Click(Inside(b)); // passed over: no toggle
    EXPECT_TRUE(b->Down());
    b->SetEnabled(true);
    EXPECT_TRUE(Shows(b, twoFaces, 30));
}

TEST_F(GlyphButtonTest, GlyphChoiceByStateAndFaceCount) {
    TDIBGlyphButton* b = Make(20, 30, fiveFaces);
    // Faces shown for up, pressed, disabled, hover, down with 2..5 faces.
    const int expected[4][5] = {{0, 1, 0, 0, 1}, {0, 1, 2, 0, 1}, {0, 1, 2, 3, 1}, {0, 1, 2, 3, 4}};
    for (int n = 2; n <= 5; ++n) {
        b->SetNumGlyphs(n);
        const int* row = expected[n - 2];
        EXPECT_EQ(b->GlyphIndex(), row[dbUp]) << n;
        platform.MouseMove(Inside(b));
        EXPECT_EQ(b->State(), dbHover);
        EXPECT_EQ(b->GlyphIndex(), row[dbHover]) << n;
        EXPECT_TRUE(Shows(b, fiveFaces, b->Width() * row[dbHover])) << n;
        platform.MouseDown(Inside(b));
        EXPECT_EQ(b->GlyphIndex(), row[dbPressed]) << n;
        platform.MouseUp(Inside(b));
        platform.MouseMove({150, 90});
        b->SetEnabled(false);
        EXPECT_EQ(b->GlyphIndex(), row[dbDisabled]) << n;
        b->SetEnabled(true);
        b->SetDown(true);
        EXPECT_EQ(b->GlyphIndex(), row[dbDown]) << n;
        EXPECT_TRUE(Shows(b, fiveFaces, b->Width() * row[dbDown])) << n;
        b->SetDown(false);
        EXPECT_EQ(b->State(), dbUp);
    }
    for (int bad : {0, 1, 6})
        EXPECT_THROW(b->SetNumGlyphs(bad), EDIBButtonError);
    EXPECT_EQ(b->NumGlyphs(), 5);
}

TEST_F(GlyphButtonTest, ButtonsOfAGroupReleaseEachOther) {
    TDIBGlyphButton* a = Make(0, 0, twoFaces);
    TDIBGlyphButton* b = Make(40, 0, twoFaces);
    TDIBGlyphButton* c = Make(80, 0, twoFaces);
    TDIBGlyphButton* loose = Make(120, 0, twoFaces);
    for (TDIBGlyphButton* x : {a, b, c}) {
        x->SetGroup(1);
        x->SetToggleDown(true);
    }
    a->SetDown(true);
    b->SetDown(true);
    c->SetDown(true);
    loose->SetDown(true);
    EXPECT_FALSE(a->Down());
    EXPECT_FALSE(b->Down());
    EXPECT_TRUE(c->Down());
    EXPECT_TRUE(loose->Down()); // group 0 is never released by others
    EXPECT_TRUE(Shows(b, twoFaces, 0));

    platform.Click(Inside(a));
    EXPECT_TRUE(a->Down());
    EXPECT_FALSE(c->Down());
    platform.Click(Inside(a)); // clicking the down one again releases it
    EXPECT_FALSE(a->Down());
    EXPECT_FALSE(b->Down());

    // Joining a group while down releases the group's down member.
    b->SetDown(true);
    loose->SetGroup(1);
    EXPECT_FALSE(b->Down());
    EXPECT_TRUE(loose->Down());
}

TEST_F(GlyphButtonTest, NegativeGroupIsRefused) {
    TDIBGlyphButton* b = Make(0, 0, twoFaces);
    b->SetGroup(3);
    try {
        b->SetGroup(-1);
        FAIL() << "no exception";
    } catch (const EDIBButtonError& e) {
        EXPECT_STREQ(e.what(), "Invalid group.");
    }
    EXPECT_EQ(b->Group(), 3);
    EXPECT_THROW(b->FindProperty("Group")->Set(*b, int64_t(-5)), EDIBButtonError);
}

TEST_F(GlyphButtonTest, WithoutAStripDrawsNothingButStillToggles) {
    TDIBGlyphButton* b = Make(20, 30, -1);
    b->SetToggleDown(true);
    EXPECT_EQ(b->Width(), 10);
    const THeadlessImage s = Screen();
    EXPECT_EQ(Rgb(s, 25, 35), Px(clBlack));
    platform.Click(Inside(b));
    EXPECT_TRUE(b->Down());
}

TEST_F(GlyphButtonTest, LoadedInStoredOrderSizesAndShowsTheStoredState) {
    form->SetLoading(true);
    auto* b = new TDIBGlyphButton(form.get());
    for (auto [name, value] :
         std::initializer_list<std::pair<const char*, TDIBPropertyValue>>{{"Left", int64_t(161)},
                                                                          {"Top", int64_t(63)},
                                                                          {"Width", int64_t(30)},
                                                                          {"Height", int64_t(20)},
                                                                          {"Down", true},
                                                                          {"ToggleDown", true},
                                                                          {"Tag", int64_t(2)}})
        b->FindProperty(name)->Set(*b, value);
    b->SetDIBImageList(&list);
    b->Glyph().SetDIBIndex(fiveFaces);
    b->FindProperty("NumGlyphs")->Set(*b, int64_t(5));
    b->Loaded();
    form->SetLoading(false);
    EXPECT_EQ(b->Width(), 30);
    EXPECT_EQ(b->Tag(), 2);
    EXPECT_EQ(b->State(), dbDown);
    EXPECT_TRUE(Shows(b, fiveFaces, 4 * 30));
}

// Owners, parents, destruction notices, bitmap files, shared texts, keyboard focus.
#include "fixture.h"

#include <cstring>

namespace {
struct Watcher : TComponent {
    using TComponent::TComponent;
    std::vector<TComponent*> Gone;
    void Notification(TComponent* c, TOperation op) override {
        if (op == opRemove) Gone.push_back(c);
    }
};
} // namespace

TEST(Component, OwnerFreesOwnedAndFindsThemByName) {
    Watcher owner(nullptr);
    auto* a = new TComponent(&owner);
    a->SetName("LeftDelayTimeSlider");
    auto* b = new TComponent(&owner);
    EXPECT_EQ(owner.FindComponent("leftdelaytimeslider"), a);
    EXPECT_EQ(owner.FindComponent(""), nullptr);
    delete a; // leaves its owner's list
    EXPECT_EQ(owner.ComponentCount(), 1);
    EXPECT_EQ(owner.Components(0), b);
    EXPECT_EQ(owner.Gone, (std::vector<TComponent*>{a}));
}

TEST(Component, FreeNotificationTellsTheOtherSide) {
    Watcher list(nullptr);
    auto watcher = std::make_unique<Watcher>(nullptr);
    {
        TComponent images(nullptr);
        images.FreeNotification(watcher.get());
    }
    EXPECT_EQ(watcher->Gone.size(), 1u);
    // Once removed, nothing is sent.
    auto other = std::make_unique<TComponent>(nullptr);
    other->FreeNotification(&list);
    other->RemoveFreeNotification(&list);
    other.reset();
    EXPECT_TRUE(list.Gone.empty());
}

TEST_F(FormTest, FormFreesControlsAndWindowsInOrder) {
    auto* panel = new TPanel(form.get());
    panel->SetParent(form.get());
    auto* label = new TLabel(form.get());
    label->SetParent(panel);
    auto* timer = new TTimer(form.get());
    timer->SetOnTimer([](TComponent*) {});
    const TNativeHandle panelWindow = panel->Handle();
    const TNativeHandle formWindow = Window();
    EXPECT_EQ(platform.TimerCount(), 1u);
    form.reset();
    EXPECT_FALSE(platform.IsWindow(panelWindow));
    EXPECT_FALSE(platform.IsWindow(formWindow));
    EXPECT_EQ(platform.TimerCount(), 0u);
    platform.PumpEvents(); // the pump hook went with the form
}

TEST_F(FormTest, ReparentingMovesWindowAndRejectsCycles) {
    auto* outer = new TPanel(form.get());
    outer->SetParent(form.get());
    auto* inner = new TPanel(form.get());
    inner->SetParent(outer);
    EXPECT_THROW(outer->SetParent(inner), Exception);
    EXPECT_EQ(outer->Parent(), form.get());
    inner->SetParent(nullptr);
    EXPECT_FALSE(inner->HandleAllocated());
    inner->SetParent(form.get());
    EXPECT_TRUE(inner->HandleAllocated());
    EXPECT_EQ(form->ControlCount(), 2);
}

TEST_F(FormTest, ParentFontAndColourFollowTheParent) {
    auto* panel = new TPanel(form.get());
    panel->SetParent(form.get());
    auto* l = new TLabel(form.get());
    l->SetParent(panel);
    form->SetFont({"Verdana", -8, clWhite, 0});
    EXPECT_EQ(l->Font().Name, "Verdana");
    panel->SetColor(clSilver);
    EXPECT_EQ(l->Color(), clSilver);
    l->SetFont({"Estrangelo Edessa", -11, RGB(63, 63, 63), 0});
    form->SetFont({"MS Sans Serif", -11, clWhite, 0});
    EXPECT_EQ(l->Font().Name, "Estrangelo Edessa");
    EXPECT_FALSE(l->ParentFont());
}

TEST_F(FormTest, KeyboardFocusKeysPreviewAndTab) {
    auto* p1 = new TPanel(form.get());
    p1->SetParent(form.get());
    p1->SetTabStop(true);
    auto* p2 = new TPanel(form.get());
    p2->SetParent(form.get());
    p2->SetTabStop(true);
    std::vector<std::string> events;
    p1->SetOnEnter([&](TComponent*) { events.push_back("p1 enter"); });
    p1->SetOnExit([&](TComponent*) { events.push_back("p1 exit"); });
    p2->SetOnEnter([&](TComponent*) { events.push_back("p2 enter"); });
    p1->SetOnKeyDown([&](TComponent*, uint16_t& key, TShiftState) {
        events.push_back("p1 key " + std::to_string(key));
    });
    p1->SetOnKeyPress(
        [&](TComponent*, char32_t& ch) { events.push_back(std::string("p1 char ") + char(ch)); });

    p1->SetFocus();
    EXPECT_TRUE(p1->Focused());
    platform.KeyDown(vkUp);
    platform.Char(U'x');
    form->SetKeyPreview(true);
    form->SetOnKeyDown([&](TComponent*, uint16_t& key, TShiftState) {
        if (key == vkEscape) key = 0; // the form keeps it
    });
    platform.KeyDown(vkEscape);
    platform.KeyDown(vkTab);
    EXPECT_TRUE(p2->Focused());
    EXPECT_EQ(events, (std::vector<std::string>{"p1 enter", "p1 key 38", "p1 char x", "p1 key 9",
                                                "p1 exit", "p2 enter"}));
}

TEST(Bitmap, ReadsBottomUpAndTopDownFiles) {
    // 2 x 2, 24-bit: rows padded to 8 bytes.
    auto file = [](int32_t height) {
        std::vector<uint8_t> d(54 + 16, 0);
        d[0] = 'B';
        d[1] = 'M';
        d[10] = 54;
        d[14] = 40;
        d[18] = 2;
        std::memcpy(&d[22], &height, 4);
        d[26] = 1;
        d[28] = 24;
        const uint8_t rows[2][6] = {{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}};
        std::memcpy(&d[54], rows[0], 6);
        std::memcpy(&d[62], rows[1], 6);
        return d;
    };
    TBitmap b;
    b.LoadFromBMP(file(2)); // bottom-up: the first stored row is the bottom one
    EXPECT_EQ(b.ScanLine(1)[0], 0xFF030201u);
    EXPECT_EQ(b.ScanLine(0)[1], 0xFF0C0B0Au);
    b.LoadFromBMP(file(-2));
    EXPECT_EQ(b.ScanLine(0)[0], 0xFF030201u);
}

TEST(Bitmap, RejectsMalformedFilesAndKeepsPicture) {
    std::vector<uint8_t> good(54 + 4, 0);
    good[0] = 'B';
    good[1] = 'M';
    good[10] = 54;
    good[14] = 40;
    good[18] = 1;
    good[22] = 1;
    good[26] = 1;
    good[28] = 24;
    TBitmap b;
    b.LoadFromBMP(good);
    ASSERT_EQ(b.Width(), 1);

    auto broken = [&](size_t at, uint8_t value) {
        auto d = good;
        d[at] = value;
        return d;
    };
    EXPECT_THROW(b.LoadFromBMP(std::span<const uint8_t>(good.data(), 40)), EInvalidGraphic);
    EXPECT_THROW(b.LoadFromBMP(broken(0, 'X')), EInvalidGraphic);
    EXPECT_THROW(b.LoadFromBMP(broken(28, 8)), EInvalidGraphic);    // paletted
    EXPECT_THROW(b.LoadFromBMP(broken(30, 1)), EInvalidGraphic);    // RLE
    EXPECT_THROW(b.LoadFromBMP(broken(19, 0x7F)), EInvalidGraphic); // wider than the data
    EXPECT_THROW(b.LoadFromBMP(broken(25, 0x80)), EInvalidGraphic); // absurd height
    EXPECT_THROW(b.LoadFromBMP(broken(10, 250)), EInvalidGraphic);  // pixels past the end
    EXPECT_THROW(b.LoadFromBMP(broken(17, 0x7F)), EInvalidGraphic); // header larger than the file
    EXPECT_EQ(b.Width(), 1);
}

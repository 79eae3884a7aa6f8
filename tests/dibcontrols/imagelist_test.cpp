#include "dib_test_util.h"

#include "dibcontrols/cDIBImageList.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

struct Call {
    int index;
    TDIBImageChange kind;
    bool operator==(const Call&) const = default;
};

// A link that records its callbacks.
struct Recorder {
    TDIBImageLink link;
    std::vector<Call> calls;
    Recorder() {
        link.SetOnChange([this](TDIBImageLink& sender, int index, TDIBImageChange kind) {
            EXPECT_EQ(&sender, &link);
            calls.push_back({index, kind});
        });
    }
};

void addItems(TDIBImageList& list, int count) {
    for (int i = 0; i < count; ++i) {
        TDIBImagesItem& item = list.DIBImages().Add();
        item.StoredDIB().SetSize(2, 2);
        fillPixels(item.StoredDIB(), px(uint8_t(i), 0, 0, 0));
    }
}

// Five links at indices 0..4 of a five-item list.
struct DIBImageListLinks : ::testing::Test {
    TDIBImageList list;
    Recorder links[5];
    void SetUp() override {
        addItems(list, 5);
        for (int i = 0; i < 5; ++i) {
            links[i].link.SetDIBIndex(i);
            links[i].link.SetDIBImageList(&list);
            links[i].calls.clear();
        }
    }
};

TEST_F(DIBImageListLinks, DeletingAnItemShiftsLaterLinksAndClearsItsOwn) {
    list.DIBImages().Delete(2);
    const int expected[5] = {0, 1, -1, 2, 3};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(links[i].link.DIBIndex(), expected[i]) << i;
    EXPECT_EQ(links[2].calls, (std::vector<Call>{{2, dicDeleted}}));
    for (int i : {0, 1, 3, 4})
        EXPECT_TRUE(links[i].calls.empty()) << i;
}

TEST_F(DIBImageListLinks, MovingAnItemCarriesItsLinksWithoutCallbacks) {
    list.DIBImages().Move(0, 3);
    const int forward[5] = {3, 0, 1, 2, 4};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(links[i].link.DIBIndex(), forward[i]) << i;

    list.DIBImages().Items(3).SetIndex(0); // and back
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(links[i].link.DIBIndex(), i) << i;
        EXPECT_TRUE(links[i].calls.empty());
    }
    // The items really moved with them.
    TAbstractSuperDIB* image = nullptr;
    ASSERT_TRUE(links[1].link.GetImage(image));
    EXPECT_EQ(image->ScanLine(0)[0], px(1, 0, 0, 0));
}

TEST_F(DIBImageListLinks, ItemChangesReachOnlyTheLinksToThatItem) {
    list.DIBImages().Items(3).StoredDIB().SetOpacity(7);
    EXPECT_EQ(links[3].calls, (std::vector<Call>{{3, dicChanged}}));
    for (int i : {0, 1, 2, 4})
        EXPECT_TRUE(links[i].calls.empty());
    links[4].link.SetOwnerDestroying(true);
    list.DIBImages().Items(4).StoredDIB().SetOpacity(7);
    EXPECT_TRUE(links[4].calls.empty());
}

TEST_F(DIBImageListLinks, FreeingTheListDetachesItsLinks) {
    auto other = std::make_unique<TDIBImageList>();
    addItems(*other, 1);
    Recorder extra;
    extra.link.SetDIBIndex(0);
    extra.link.SetDIBImageList(other.get());
    other.reset();
    EXPECT_EQ(extra.link.DIBImageList(), nullptr);
    EXPECT_EQ(extra.link.DIBIndex(), 0);
    TAbstractSuperDIB* image = nullptr;
    EXPECT_FALSE(extra.link.GetImage(image));
}

TEST(DIBImageLink, AttachingSendsEveryIndexButCallsBackOnlyForItsOwn) {
    TDIBImageList list;
    addItems(list, 13);
    Recorder at5, none;
    at5.link.SetDIBIndex(5);
    at5.calls.clear();
    none.link.SetDIBImageList(&list);
    at5.link.SetDIBImageList(&list);
    at5.link.SetDIBImageList(&list); // attaching twice registers once
    EXPECT_EQ(at5.calls, (std::vector<Call>{{5, dicChanged}, {5, dicChanged}}));
    EXPECT_TRUE(none.calls.empty());
    list.DIBImages().Items(5).StoredDIB().SetOpacity(1);
    EXPECT_EQ(at5.calls.size(), 3u);
}

TEST(DIBImageLink, SettingTheIndexCallsBackOnChangeOnly) {
    Recorder r;
    r.link.SetDIBIndex(3);
    r.link.SetDIBIndex(3);
    EXPECT_EQ(r.calls, (std::vector<Call>{{3, dicChanged}}));
}

TEST(DIBImageLink, NoImageWithoutListIndexOrPixels) {
    TDIBImageList list;
    addItems(list, 2);
    list.DIBImages().Add(); // 1 x 1 by default
    TDIBImageLink link;
    TAbstractSuperDIB* image = reinterpret_cast<TAbstractSuperDIB*>(&list);
    EXPECT_FALSE(link.GetImage(image));
    EXPECT_EQ(image, nullptr);
    EXPECT_FALSE(link.IsValid());
    link.SetDIBImageList(&list);
    EXPECT_FALSE(link.GetImage(image)); // index -1
    link.SetDIBIndex(3);
    EXPECT_FALSE(link.GetImage(image));
    EXPECT_FALSE(link.IsValid());
    link.SetDIBIndex(2);
    EXPECT_TRUE(link.IsValid());
    EXPECT_TRUE(link.GetImage(image));
    EXPECT_EQ(image->Width(), 1);
}

TEST(DIBImageLink, FetchedImageIsAViewOfTheItem) {
    TDIBImageList list;
    addItems(list, 2);
    TDIBImageLink a, b;
    a.SetDIBImageList(&list);
    b.SetDIBImageList(&list);
    a.SetDIBIndex(0);
    b.SetDIBIndex(1);
    TMemoryDIB& item = list.DIBImages().Items(0).StoredDIB();
    TAbstractSuperDIB* image = nullptr;
    ASSERT_TRUE(a.GetImage(image));
    EXPECT_EQ(image, &list.View());
    EXPECT_EQ(image->Pixels(), item.Pixels());
    image->SetOpacity(100); // the view only
    EXPECT_EQ(item.Opacity(), 255);
    ASSERT_TRUE(b.GetImage(image)); // the same view now shows item 1
    EXPECT_EQ(image->ScanLine(0)[0], px(1, 0, 0, 0));
    EXPECT_EQ(image->Opacity(), 255);

    TDIBImageLink copy;
    copy.Assign(a);
    EXPECT_EQ(copy.DIBIndex(), 0);
    EXPECT_EQ(copy.DIBImageList(), &list);
    EXPECT_TRUE(list.IsAttached(copy));
}

TEST(DIBImageLink, DestroyedLinkLeavesTheRegistry) {
    TDIBImageList list;
    addItems(list, 1);
    {
        TDIBImageLink link;
        link.SetDIBImageList(&list);
        EXPECT_TRUE(list.IsAttached(link));
    }
    list.DIBImages().Items(0).StoredDIB().SetOpacity(3); // must not touch the freed link
    list.DIBImages().Delete(0);
}

TEST(DIBImages, ItemsTemplateKeysAndRetrieval) {
    TDIBImageList list;
    TDIBImages& images = list.DIBImages();
    TDIBImagesItem& first = images.FindOrAdd("{0A1B}", 2);
    EXPECT_EQ(first.TemplateFilename(), "{0A1B}:2");
    EXPECT_EQ(&images.FindOrAdd("{0A1B}", 2), &first);
    EXPECT_EQ(images.FindOrAdd("{0A1B}", 3).Index(), 1);
    EXPECT_EQ(first.DisplayName(), "TDIBImagesItem");
    EXPECT_EQ(first.StoredDIB().Width(), 1);

    first.SetImageRetrieval(irLoadOnDemand);
    EXPECT_FALSE(first.StoredDIB().StoreData());
    first.SetImageRetrieval(irInternal);
    EXPECT_TRUE(first.StoredDIB().StoreData());

    TMemoryDIB picture(3, 3);
    picture.SetImageFilename("x.bmp");
    picture.SetMasked(true);
    first.SetDIB(picture);
    EXPECT_EQ(first.StoredDIB().Width(), 3);
    EXPECT_TRUE(first.StoredDIB().Masked());
    EXPECT_EQ(first.StoredDIB().ImageFilename(), "x.bmp");
}

TEST(DIBImages, FileBackedItemsLoadOnFirstFetchThroughTheTranslatedPath) {
    const TempFile file("skin.bmp", makeBmp(2, 1, 24, false, {px(1, 2, 3), px(4, 5, 6)}));
    const std::string directory = file.path.parent_path().string();
    TDIBImageList list;
    TDIBImagesItem& item = list.DIBImages().Add();
    item.SetImageRetrieval(irLoadOnDemand);
    item.StoredDIB().SetImageFilename("C:\\skins\\" + file.path.filename().string());
    std::string seen;
    item.SetOnTranslateImagePath([&](TDIBImagesItem&, std::string& path) {
        seen = path;
        path = directory;
    });
    Recorder r;
    r.link.SetDIBIndex(0);
    r.link.SetDIBImageList(&list);
    r.calls.clear();

    TAbstractSuperDIB* image = nullptr;
    ASSERT_TRUE(r.link.GetImage(image));
    EXPECT_EQ(seen, "C:\\skins\\");
    EXPECT_TRUE(item.ImageLoaded());
    EXPECT_EQ(image->Width(), 2);
    EXPECT_EQ(image->ScanLine(0)[1], px(4, 5, 6, 255));
    EXPECT_EQ(r.calls, (std::vector<Call>{{0, dicChanged}})); // one change for the whole load
    // The stored name stays as written.
    EXPECT_EQ(item.StoredDIB().ImageFilename(), "C:\\skins\\" + file.path.filename().string());
    EXPECT_EQ(item.StoredDIB().UpdateCount(), 0);
}

TEST(DIBImages, UnreadableFileFailsTheFetchAndIsTriedAgain) {
    TDIBImageList list;
    TDIBImagesItem& item = list.DIBImages().Add();
    item.SetImageRetrieval(irLoadOnStart);
    item.StoredDIB().SetImageFilename("/nonexistent/ql/skin.bmp");
    EXPECT_THROW(list.Loaded(), EDIBError);
    EXPECT_FALSE(item.ImageLoaded());
    EXPECT_EQ(item.StoredDIB().UpdateCount(), 0);
    TAbstractSuperDIB* image = nullptr;
    EXPECT_THROW(list.GetImage(0, image), EDIBError);

    // Without a file name the item simply stays unloaded.
    item.StoredDIB().SetImageFilename("");
    EXPECT_TRUE(list.GetImage(0, image));
    EXPECT_FALSE(item.ImageLoaded());
}

TEST(DIBImages, TranslationToEmptyDirectoryUsesTheBareName) {
    TDIBImageList list;
    TDIBImagesItem& item = list.DIBImages().Add();
    EXPECT_EQ(item.TranslatePath("a/b/c.bmp"), "a/b/c.bmp");
    item.SetOnTranslateImagePath([](TDIBImagesItem&, std::string& path) { path.clear(); });
    EXPECT_EQ(item.TranslatePath("a/b/c.bmp"), "c.bmp");
    item.SetOnTranslateImagePath([](TDIBImagesItem&, std::string& path) { path = "x\\"; });
    EXPECT_EQ(item.TranslatePath("a\\c.bmp"), "x\\c.bmp");
}

} // namespace

namespace {

TEST(DIBImages, StoredFormListsPropertiesInOrderAndReadsBack) {
    TDIBImageList list;
    TDIBImagesItem& item = list.DIBImages().Add();
    item.SetDisplayName("knob strip");
    TMemoryDIB& dib = item.StoredDIB();
    dib.SetSize(27, 16);
    fillCoords(dib);
    dib.SetTransparent(true);
    dib.SetTransparentColor(0x0000FF); // tmAuto: the stored colour is the first pixel's
    const std::vector<TDIBStoredProperty> stored = item.StoredProperties();
    std::vector<std::string> names;
    for (const auto& p : stored)
        names.push_back(p.Name);
    EXPECT_EQ(names, (std::vector<std::string>{
                         "DIB.Angle", "DIB.AutoSize", "DIB.Height", "DIB.Masked", "DIB.Opacity",
                         "DIB.Scale", "DIB.Transparent", "DIB.TransparentColor",
                         "DIB.TransparentMode", "DIB.Width", "DIB.Data", "DisplayName"}));
    EXPECT_EQ(std::get<int64_t>(stored[7].Value), PixelToColor(coordPixel(0, 15)));
    EXPECT_EQ(std::get<std::vector<uint8_t>>(stored[10].Value).size(), 1732u);

    TDIBImagesItem& copy = list.DIBImages().Add();
    for (const auto& p : stored)
        copy.ReadStoredProperty(p.Name, p.Value);
    EXPECT_EQ(copy.StoredDIB().Width(), 27);
    EXPECT_EQ(copy.StoredDIB().ScanLine(3)[4], coordPixel(4, 3));
    EXPECT_TRUE(copy.StoredDIB().Transparent());
    EXPECT_EQ(copy.StoredDIB().KeyColour() & 0xFFFFFFu, coordPixel(0, 15) & 0xFFFFFFu);
    EXPECT_EQ(copy.DisplayName(), "knob strip");

    copy.ReadStoredProperty("ImageRetrieval", TDIBIdentifier{"irLoadOnDemand"});
    EXPECT_EQ(copy.StoredProperties().front().Name, "ImageRetrieval");
    EXPECT_EQ(std::get<std::vector<uint8_t>>(copy.StoredProperties()[11].Value).size(), 0u);
    EXPECT_THROW(copy.ReadStoredProperty("DIB.Colour", int64_t(1)), EDIBError);
    EXPECT_THROW(copy.ReadStoredProperty("DIB.Opacity", int64_t(256)), EDIBError);
    EXPECT_THROW(copy.ReadStoredProperty("DIB.Masked", std::string("yes")), EDIBError);
    EXPECT_THROW(copy.ReadStoredProperty("DIB.TransparentMode", TDIBIdentifier{"tmMagic"}),
                 EDIBError);
}

} // namespace

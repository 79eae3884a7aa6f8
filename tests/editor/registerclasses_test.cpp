// The skinned control library's classes in small descriptions: image-list items and image
// references, and the descriptions they must refuse (an image that is not in the list, a list that
// is not one, an item property the image does not know).
#include "dibcontrols/cDIBGlyphButton.h"
#include "dibcontrols/cDIBImage.h"
#include "dibcontrols/registerclasses.h"
#include "editor/editorlayout.h"
#include "framework/forms.h"
#include "framework/platform/headless/headless.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

class DIBFormClasses : public ::testing::Test {
  protected:
    void SetUp() override {
        context.Classes = &EditorFormClasses();
        context.Resources = &EditorResource;
        context.Handlers["Clicked"] = [](TComponent*) {};
    }
    // Loads an image list with two items, a container and body into a fresh form.
    void Load(const std::string& body) {
        form = std::make_unique<TForm>(nullptr, nullptr, &platform);
        LoadForm(*form, R"(object F: TForm
  object Images: TDIBImageList
    DIBImages = <
      item
        DIB.Transparent = True
        DIB.TransparentColor = rgb(1, 2, 3)
        DIB.TransparentMode = tmFixed
        DIB.Data = { 0200 0100 FF000000 00FF00FF }
        DisplayName = "two"
      end
      item
        DIB.Data = resource("on button")
        DisplayName = "on"
      end>
  end
  object Panel: TDIBContainer
)" + body + "  end\nend\n",
                 context);
    }
    std::string Error(const std::string& body) {
        try {
            Load(body);
        } catch (const EFormError& e) {
            return e.what();
        }
        return "(loaded)";
    }

    THeadlessPlatform platform;
    std::unique_ptr<TForm> form;
    TFormLoadContext context;
};

} // namespace

TEST_F(DIBFormClasses, ReadsItemsAndLinksControlsToTheList) {
    Load(R"(
    object Button: TDIBGlyphButton
      Glyph.DIBImageList = Later   # a list stored after the control
      Glyph.DIBIndex = 1
      OnClick = Clicked
    end
    object Picture: TDIBImage
      DIBImageList = Images
      IndexMain.DIBIndex = 0
    end
  end
  object Later: TDIBImageList
    DIBImages = <
      item
        DIB.Data = resource("link button")
      end
      item
        DIB.Data = resource("fit button")
      end>
)");
    TDIBImages& items = FindFormImageList(*form, "Images").DIBImages();
    ASSERT_EQ(items.Count(), 2);
    EXPECT_EQ(items[0].DisplayName(), "two");
    EXPECT_EQ(items[0].StoredDIB().Width(), 2);
    EXPECT_TRUE(items[0].StoredDIB().Transparent());
    EXPECT_EQ(items[0].StoredDIB().TransparentColor(), RGB(1, 2, 3));
    EXPECT_EQ(items[1].StoredDIB().Width(), 60);

    auto& button = FindFormComponent<TDIBGlyphButton>(*form, "Button");
    EXPECT_EQ(button.Glyph().DIBImageList(), &FindFormImageList(*form, "Later"));
    // Sized to one face of the 42 x 16 "fit button" strip once loaded.
    EXPECT_EQ(button.Width(), 21);
    EXPECT_EQ(button.Height(), 16);
    auto& picture = FindFormComponent<TDIBImage>(*form, "Picture");
    EXPECT_EQ(picture.IndexMain().DIBImageList(), &FindFormImageList(*form, "Images"));
    EXPECT_TRUE(picture.IndexMain().IsValid());
}

TEST_F(DIBFormClasses, RefusesImagesThatAreNotThere) {
    struct Case {
        const char* body;
        const char* expected;
    };
    const Case cases[] = {
        {"    object P: TDIBImage\n      DIBImageList = Images\n      IndexMain.DIBIndex = 2\n"
         "    end\n",
         "line 19: P.IndexMain: no image 2 in Images (2 images)"},
        {"    object P: TDIBImage\n      IndexMain.DIBIndex = 0\n    end\n",
         "line 18: P.IndexMain names image 0 but the control has no DIBImageList"},
        {"    object P: TDIBImage\n      DIBImageList = Panel\n    end\n",
         "line 18: Panel is not an image list"},
        {"    object P: TDIBImage\n      IndexMain.DIBIndex = -2\n    end\n",
         "line 18: -2 is out of range"},
        {"  end\n  object More: TDIBImageList\n    DIBImages = <\n      item\n"
         "        DIB.Colour = 1\n      end>\n",
         "line 21: image 0, DIB.Colour: Unknown image property DIB.Colour."},
        {"  end\n  object More: TDIBImageList\n    DIBImages = <\n      item\n"
         "        DIB.Data = resource(\"no such skin\")\n      end>\n",
         "line 21: unknown resource \"no such skin\""},
        {"  end\n  object More: TDIBImageList\n    DIBImages = 3\n",
         "line 19: DIBImages: expected a collection of items"},
    };
    for (const Case& c : cases) {
        const std::string message = Error(c.body);
        EXPECT_NE(message.find(c.expected), std::string::npos) << "description:\n"
                                                               << c.body << "message: " << message;
    }
}

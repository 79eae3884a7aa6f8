#include "dibcontrols/registerclasses.h"

#include "dibcontrols/DIBKnobWithReset.h"
#include "dibcontrols/cDIBGlyphButton.h"
#include "dibcontrols/cDIBImage.h"
#include "dibcontrols/cDIBKnob.h"
#include "dibcontrols/cDIBPanel.h"
#include "dibcontrols/cDIBSlider.h"
#include "dibcontrols/cDIBTimer.h"

#include <functional>

namespace {

using V = const TFormValue&;
using R = TFormReader&;
using TNames = std::pair<std::string_view, int64_t>;

constexpr TNames kKnobOrientations[] = {{"koVertical", koVertical}, {"koHorizontal", koHorizontal}};
constexpr TNames kSliderTypes[] = {{"stHorizontal", stHorizontal}, {"stVertical", stVertical}};

int32_t Int32(V v, R r) { return int32_t(r.Integer(v, INT32_MIN, INT32_MAX)); }
// Steps (1..32767); the controls bring other values into range, a description should not need it.
int Step(V v, R r) { return int(r.Integer(v, 1, 32767)); }
uint8_t Byte(V v, R r) { return uint8_t(r.Integer(v, 0, 255)); }

// The form's component holding list, for messages.
std::string ListName(const TComponent& form, const TCustomDIBImageList* list) {
    for (int i = 0; i < form.ComponentCount(); ++i)
        if (auto* holder = dynamic_cast<TDIBImageListComponent*>(form.Components(i)))
            if (&holder->List() == list) return holder->Name();
    return "the image list";
}

void ReferToList(TFormReader& reader, V v, std::function<void(TCustomDIBImageList*)> apply) {
    reader.Reference(v, [apply = std::move(apply), line = v.Line](TComponent& c) {
        auto* holder = dynamic_cast<TDIBImageListComponent*>(&c);
        if (!holder) throw EFormError(c.Name() + " is not an image list", line);
        apply(&holder->List());
    });
}

// "<link>.DIBIndex" and "<link>.DIBImageList" of one image reference of a control of class T.
// An index must name an item of the list the link ends up with: checked once the form is whole.
template <class T>
void LinkProperties(TFormClass& cls, const std::string& link, TDIBImageLink& (*get)(T&)) {
    cls.Property<T>(link + ".DIBIndex", [get, link](T& c, V v, R r) {
        const int index = int(r.Integer(v, -1, INT32_MAX));
        TDIBImageLink& l = get(c);
        l.SetDIBIndex(index);
        if (index < 0) return;
        r.AfterLoad(v.Line, [&l, &c, &r, index, link, line = v.Line] {
            TCustomDIBImageList* list = l.DIBImageList();
            if (!list)
                throw EFormError(c.Name() + "." + link + " names image " + std::to_string(index) +
                                     " but the control has no DIBImageList",
                                 line);
            const int count = list->DIBImages().Count();
            if (index >= count)
                throw EFormError(c.Name() + "." + link + ": no image " + std::to_string(index) +
                                     " in " + ListName(r.Root(), list) + " (" +
                                     std::to_string(count) + " images)",
                                 line);
        });
    });
    cls.Property<T>(link + ".DIBImageList", [get](T& c, V v, R r) {
        ReferToList(r, v, [&c, get](TCustomDIBImageList* list) { get(c).SetDIBImageList(list); });
    });
}

// A value of an image item's stored form as the item reads it.
TDIBPropertyValue ItemValue(const TFormProperty& p, TFormReader& r) {
    const TFormValue& v = p.Value;
    switch (v.Kind) {
    case TFormValue::vaInteger: return v.Int;
    case TFormValue::vaFloat: return v.Real;
    case TFormValue::vaString: return v.Text;
    case TFormValue::vaBinary:
    case TFormValue::vaResource: return r.Binary(v);
    case TFormValue::vaIdent:
        if (v.Text == "True" || v.Text == "False") return r.Boolean(v);
        if (p.Name == "DIB.TransparentColor") return int64_t(r.Color(v));
        return TDIBIdentifier{v.Text};
    default: throw EFormError(p.Name + ": not a value an image item stores", v.Line);
    }
}

void ReadImageItems(TDIBImageList& list, V v, R r) {
    if (v.Kind != TFormValue::vaCollection)
        throw EFormError("DIBImages: expected a collection of items", v.Line);
    list.DIBImages().Clear();
    for (const TFormItem& item : v.Items) {
        TDIBImagesItem& image = list.DIBImages().Add();
        for (const TFormProperty& p : item.Properties) {
            try {
                image.ReadStoredProperty(p.Name, ItemValue(p, r));
            } catch (const EFormError&) {
                throw;
            } catch (const std::exception& e) {
                throw EFormError("image " + std::to_string(image.Index()) + ", " + p.Name + ": " +
                                     e.what(),
                                 p.Line);
            }
        }
    }
}

} // namespace

void TDIBImageListComponent::Loaded() {
    TComponent::Loaded();
    fList.Loaded();
}

TDIBImageList& FindFormImageList(const TComponent& form, std::string_view name) {
    return FindFormComponent<TDIBImageListComponent>(form, name).List();
}

void RegisterDIBFormClasses(TFormClassRegistry& registry) {
    registry.Register<TDIBImageListComponent>("TDIBImageList", "TComponent")
        .Property<TDIBImageListComponent>(
            "DIBImages", [](TDIBImageListComponent& c, V v, R r) { ReadImageItems(c.List(), v, r); });

    registry.Register<TDIBTimer>("TDIBTimer", "TComponent")
        .Property<TDIBTimer>("Enabled", [](TDIBTimer& c, V v, R r) { c.SetEnabled(r.Boolean(v)); })
        .Property<TDIBTimer>("Interval",
                             [](TDIBTimer& c, V v, R r) {
                                 c.SetInterval(uint32_t(r.Integer(v, 0, UINT32_MAX)));
                             })
        .Property<TDIBTimer>("OnTimer", [](TDIBTimer& c, V v, R r) { c.SetOnTimer(r.Handler(v)); });

    registry.RegisterBase("TCustomDIBContainer", "TCustomPanel");
    registry.Register<TDIBContainer>("TDIBContainer", "TCustomDIBContainer");

    using C = TCustomDIBControl;
    registry.RegisterBase("TCustomDIBControl", "TGraphicControl")
        .Property<C>("Opacity", [](C& c, V v, R r) { c.SetOpacity(uint8_t(r.Integer(v, 0, 255))); })
        .Property<C>("DIBTabOrder",
                     [](C& c, V v, R r) { c.SetDIBTabOrder(int(r.Integer(v, -1, 32767))); })
        .Property<C>("AutoRepeat", [](C& c, V v, R r) { c.SetAutoRepeat(r.Boolean(v)); })
        .Property<C>("AutoRepeatInterval",
                     [](C& c, V v, R r) {
                         c.SetAutoRepeatInterval(uint32_t(r.Integer(v, 0, UINT32_MAX)));
                     })
        .Property<C>("DIBImageList",
                     [](C& c, V v, R r) {
                         ReferToList(r, v, [&c](TCustomDIBImageList* list) {
                             c.SetDIBImageList(list);
                         });
                     })
        .Property<C>("OnEnter", [](C& c, V v, R r) { c.SetOnEnter(r.Handler(v)); })
        .Property<C>("OnExit", [](C& c, V v, R r) { c.SetOnExit(r.Handler(v)); })
        .Property<C>("OnPaintStart", [](C& c, V v, R r) { c.SetOnPaintStart(r.Handler(v)); })
        .Property<C>("OnPaintEnd", [](C& c, V v, R r) { c.SetOnPaintEnd(r.Handler(v)); });

    using I = TCustomDIBImage;
    TFormClass& image =
        registry.RegisterBase("TCustomDIBImage", "TCustomDIBControl")
            .Property<I>("Angle", [](I& c, V v, R r) { c.SetAngle(int(r.Integer(v, 0, 65535))); })
            .Property<I>("AutoSize", [](I& c, V v, R r) { c.SetAutoSize(r.Boolean(v)); })
            .Property<I>("Center", [](I& c, V v, R r) { c.SetCenter(r.Boolean(v)); })
            .Property<I>("Scale", [](I& c, V v, R r) { c.SetScale(r.Float(v)); })
            .Property<I>("Stretch", [](I& c, V v, R r) { c.SetStretch(r.Boolean(v)); });
    LinkProperties<I>(image, "IndexMain", [](I& c) -> TDIBImageLink& { return c.IndexMain(); });
    registry.Register<TDIBImage>("TDIBImage", "TCustomDIBImage");

    using K = TCustomDIBKnob;
    TFormClass& knob =
        registry.RegisterBase("TCustomDIBKnob", "TCustomDIBControl")
            .Property<K>("Min", [](K& c, V v, R r) { c.SetMin(Int32(v, r)); })
            .Property<K>("Max", [](K& c, V v, R r) { c.SetMax(Int32(v, r)); })
            .Property<K>("Position", [](K& c, V v, R r) { c.SetPosition(Int32(v, r)); })
            .Property<K>("SmallChange", [](K& c, V v, R r) { c.SetSmallChange(Step(v, r)); })
            .Property<K>("PageSize", [](K& c, V v, R r) { c.SetPageSize(Step(v, r)); })
            .Property<K>("NumGlyphs",
                         [](K& c, V v, R r) { c.SetNumGlyphs(int32_t(r.Integer(v, 1, INT32_MAX))); })
            .Property<K>("DrawTweens", [](K& c, V v, R r) { c.SetDrawTweens(r.Boolean(v)); })
            .Property<K>("LoopLastFrame", [](K& c, V v, R r) { c.SetLoopLastFrame(r.Boolean(v)); })
            .Property<K>("Orientation",
                         [](K& c, V v, R r) {
                             c.SetOrientation(TKnobOrientation(r.Enumeration(v, kKnobOrientations)));
                         })
            .Property<K>("OnChange", [](K& c, V v, R r) { c.SetOnChange(r.Handler(v)); });
    LinkProperties<K>(knob, "IndexMain", [](K& c) -> TDIBImageLink& { return c.IndexMain(); });
    registry.Register<TDIBKnob>("TDIBKnob", "TCustomDIBKnob");
    registry.Register<TDIBKnobWithReset>("TDIBKnobWithReset", "TDIBKnob");

    using S = TCustomDIBSlider;
    TFormClass& slider =
        registry.RegisterBase("TCustomDIBSlider", "TCustomDIBControl")
            .Property<S>("Min", [](S& c, V v, R r) { c.SetMin(Int32(v, r)); })
            .Property<S>("Max", [](S& c, V v, R r) { c.SetMax(Int32(v, r)); })
            .Property<S>("Position", [](S& c, V v, R r) { c.SetPosition(Int32(v, r)); })
            .Property<S>("SmallChange", [](S& c, V v, R r) { c.SetSmallChange(Step(v, r)); })
            .Property<S>("LargeChange", [](S& c, V v, R r) { c.SetLargeChange(Step(v, r)); })
            .Property<S>("PageSize", [](S& c, V v, R r) { c.SetPageSize(Step(v, r)); })
            .Property<S>("SliderType",
                         [](S& c, V v, R r) {
                             c.SetSliderType(TSliderType(r.Enumeration(v, kSliderTypes)));
                         })
            .Property<S>("PointerOffset", [](S& c, V v, R r) { c.SetPointerOffset(Int32(v, r)); })
            .Property<S>("OverlayBorderX", [](S& c, V v, R r) { c.SetOverlayBorderX(Byte(v, r)); })
            .Property<S>("OverlayBorderY", [](S& c, V v, R r) { c.SetOverlayBorderY(Byte(v, r)); })
            .Property<S>("OverlayOpacity", [](S& c, V v, R r) { c.SetOverlayOpacity(Byte(v, r)); })
            .Property<S>("PointerOpacityLow",
                         [](S& c, V v, R r) { c.SetPointerOpacityLow(Byte(v, r)); })
            .Property<S>("PointerOpacityHigh",
                         [](S& c, V v, R r) { c.SetPointerOpacityHigh(Byte(v, r)); })
            .Property<S>("StretchBackground",
                         [](S& c, V v, R r) { c.SetStretchBackground(r.Boolean(v)); })
            .Property<S>("OnChange", [](S& c, V v, R r) { c.SetOnChange(r.Handler(v)); });
    LinkProperties<S>(slider, "IndexEnd1", [](S& c) -> TDIBImageLink& { return c.IndexEnd1(); });
    LinkProperties<S>(slider, "IndexEnd2", [](S& c) -> TDIBImageLink& { return c.IndexEnd2(); });
    LinkProperties<S>(slider, "IndexMain", [](S& c) -> TDIBImageLink& { return c.IndexMain(); });
    LinkProperties<S>(slider, "IndexOverlay",
                      [](S& c) -> TDIBImageLink& { return c.IndexOverlay(); });
    LinkProperties<S>(slider, "IndexPointer",
                      [](S& c) -> TDIBImageLink& { return c.IndexPointer(); });
    registry.Register<TDIBSlider>("TDIBSlider", "TCustomDIBSlider");

    using B = TAbstractDIBButton;
    registry.RegisterBase("TAbstractDIBButton", "TCustomDIBControl")
        .Property<B>("Group", [](B& c, V v, R r) { c.SetGroup(int32_t(r.Integer(v, 0, INT32_MAX))); })
        .Property<B>("Down", [](B& c, V v, R r) { c.SetDown(r.Boolean(v)); })
        .Property<B>("ToggleDown", [](B& c, V v, R r) { c.SetToggleDown(r.Boolean(v)); });
    using G = TCustomDIBGlyphButton;
    TFormClass& glyph = registry.RegisterBase("TCustomDIBGlyphButton", "TAbstractDIBButton")
                            .Property<G>("NumGlyphs", [](G& c, V v, R r) {
                                c.SetNumGlyphs(int(r.Integer(v, 2, 5)));
                            });
    LinkProperties<G>(glyph, "Glyph", [](G& c) -> TDIBImageLink& { return c.Glyph(); });
    registry.Register<TDIBGlyphButton>("TDIBGlyphButton", "TCustomDIBGlyphButton");
}

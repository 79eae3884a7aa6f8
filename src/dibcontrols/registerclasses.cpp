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
void LinkProperties(TFormClass& cls, const std::string& link,
                    TDIBImageLink& (*get)(TCustomDIBControl&)) {
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

// A description's value in the form the row's setter takes. The value must already lie inside
// the property's type, while a value set by name is brought into it.
TDIBPropertyValue RowValue(const TDIBPropertyInfo& p, V v, R r) {
    switch (p.Kind) {
    case TDIBPropertyKind::Integer:
        return r.Integer(v, p.Low, p.High);
    case TDIBPropertyKind::Boolean:
        return r.Boolean(v);
    case TDIBPropertyKind::Float:
        return r.Float(v);
    case TDIBPropertyKind::Enumeration:
        return r.Enumeration(v, p.Names);
    case TDIBPropertyKind::String:
        return r.String(v);
    default:
        throw EFormError(std::string(p.Name) + " takes no value", v.Line);
    }
}

// A control class's property table as the form loader's setters of class T.
template <class T> void PublishTable(TFormClass& cls) {
    for (const TDIBPropertyInfo& p : T::PublishedProperties()) {
        const std::string name(p.Name);
        if (p.Kind == TDIBPropertyKind::Object)
            LinkProperties<T>(cls, name, p.Link);
        else if (p.Kind == TDIBPropertyKind::Event)
            cls.Property<T>(name, [&p](T& c, V v, R r) { p.SetEvent(c, r.Handler(v)); });
        else
            cls.Property<T>(name, [&p](T& c, V v, R r) { p.Set(c, RowValue(p, v, r)); });
    }
}

// A value of an image item's stored form as the item reads it.
TDIBPropertyValue ItemValue(const TFormProperty& p, TFormReader& r) {
    const TFormValue& v = p.Value;
    switch (v.Kind) {
    case TFormValue::vaInteger:
        return v.Int;
    case TFormValue::vaFloat:
        return v.Real;
    case TFormValue::vaString:
        return v.Text;
    case TFormValue::vaBinary:
    case TFormValue::vaResource:
        return r.Binary(v);
    case TFormValue::vaIdent:
        if (v.Text == "True" || v.Text == "False") return r.Boolean(v);
        if (p.Name == "DIB.TransparentColor") return int64_t(r.Color(v));
        return TDIBIdentifier{v.Text};
    default:
        throw EFormError(p.Name + ": not a value an image item stores", v.Line);
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
        .Property<TDIBImageListComponent>("DIBImages", [](TDIBImageListComponent& c, V v, R r) {
            ReadImageItems(c.List(), v, r);
        });

    registry.Register<TDIBTimer>("TDIBTimer", "TComponent")
        .Property<TDIBTimer>("Enabled", [](TDIBTimer& c, V v, R r) { c.SetEnabled(r.Boolean(v)); })
        .Property<TDIBTimer>(
            "Interval",
            [](TDIBTimer& c, V v, R r) { c.SetInterval(uint32_t(r.Integer(v, 0, UINT32_MAX))); })
        .Property<TDIBTimer>("OnTimer", [](TDIBTimer& c, V v, R r) { c.SetOnTimer(r.Handler(v)); });

    registry.RegisterBase("TCustomDIBContainer", "TCustomPanel");
    registry.Register<TDIBContainer>("TDIBContainer", "TCustomDIBContainer");

    using C = TCustomDIBControl;
    registry.RegisterBase("TCustomDIBControl", "TGraphicControl")
        .Property<C>("Opacity", [](C& c, V v, R r) { c.SetOpacity(uint8_t(r.Integer(v, 0, 255))); })
        .Property<C>("DIBTabOrder",
                     [](C& c, V v, R r) { c.SetDIBTabOrder(int(r.Integer(v, -1, 32767))); })
        .Property<C>("AutoRepeat", [](C& c, V v, R r) { c.SetAutoRepeat(r.Boolean(v)); })
        .Property<C>(
            "AutoRepeatInterval",
            [](C& c, V v, R r) { c.SetAutoRepeatInterval(uint32_t(r.Integer(v, 0, UINT32_MAX))); })
        .Property<C>("DIBImageList",
                     [](C& c, V v, R r) {
                         ReferToList(r, v,
                                     [&c](TCustomDIBImageList* list) { c.SetDIBImageList(list); });
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
    LinkProperties<I>(image, "IndexMain", [](TCustomDIBControl& c) -> TDIBImageLink& {
        return static_cast<I&>(c).IndexMain();
    });
    registry.Register<TDIBImage>("TDIBImage", "TCustomDIBImage");

    PublishTable<TCustomDIBKnob>(registry.RegisterBase("TCustomDIBKnob", "TCustomDIBControl"));
    registry.Register<TDIBKnob>("TDIBKnob", "TCustomDIBKnob");
    registry.Register<TDIBKnobWithReset>("TDIBKnobWithReset", "TDIBKnob");

    PublishTable<TCustomDIBSlider>(registry.RegisterBase("TCustomDIBSlider", "TCustomDIBControl"));
    registry.Register<TDIBSlider>("TDIBSlider", "TCustomDIBSlider");

    using B = TAbstractDIBButton;
    registry.RegisterBase("TAbstractDIBButton", "TCustomDIBControl")
        .Property<B>("Group",
                     [](B& c, V v, R r) { c.SetGroup(int32_t(r.Integer(v, 0, INT32_MAX))); })
        .Property<B>("Down", [](B& c, V v, R r) { c.SetDown(r.Boolean(v)); })
        .Property<B>("ToggleDown", [](B& c, V v, R r) { c.SetToggleDown(r.Boolean(v)); });
    PublishTable<TCustomDIBGlyphButton>(
        registry.RegisterBase("TCustomDIBGlyphButton", "TAbstractDIBButton"));
    registry.Register<TDIBGlyphButton>("TDIBGlyphButton", "TCustomDIBGlyphButton");
}

// The framework's classes as the form loader sees them: a factory and one setter per stored
// property.
#include "framework/extctrls.h"
#include "framework/formloader.h"
#include "framework/forms.h"
#include "framework/stdctrls.h"

namespace {

using TNames = std::pair<std::string_view, int64_t>;
using V = const TFormValue&;
using R = TFormReader&;

constexpr TNames kFontStyles[] = {{"fsBold", fsBold},
                                  {"fsItalic", fsItalic},
                                  {"fsUnderline", fsUnderline},
                                  {"fsStrikeOut", fsStrikeOut}};
constexpr TNames kBorderStyles[] = {
    {"bsNone", bsNone},     {"bsSingle", bsSingle},         {"bsSizeable", bsSizeable},
    {"bsDialog", bsDialog}, {"bsToolWindow", bsToolWindow}, {"bsSizeToolWin", bsSizeToolWin}};
constexpr TNames kAlignments[] = {
    {"taLeftJustify", taLeftJustify}, {"taRightJustify", taRightJustify}, {"taCenter", taCenter}};
constexpr TNames kLayouts[] = {{"tlTop", tlTop}, {"tlCenter", tlCenter}, {"tlBottom", tlBottom}};

int32_t Coordinate(V v, R r) {
    return int32_t(r.Integer(v, -kMaxControlSize, kMaxControlSize));
}
int32_t Size(V v, R r) {
    return int32_t(r.Integer(v, 0, kMaxControlSize));
}

// One part of the font changed, the rest kept: the control's own font from then on.
template <class F> void ChangeFont(TControl& c, F&& change) {
    TFont font = c.Font();
    change(font);
    c.SetFont(font);
}

} // namespace

void RegisterFrameworkFormClasses(TFormClassRegistry& registry) {
    registry.RegisterBase("TComponent", "")
        .Property<TComponent>("Tag",
                              [](TComponent& c, V v, R r) { c.SetTag(intptr_t(r.Integer(v))); });

    registry.RegisterBase("TControl", "TComponent")
        .Property<TControl>("Left", [](TControl& c, V v, R r) { c.SetLeft(Coordinate(v, r)); })
        .Property<TControl>("Top", [](TControl& c, V v, R r) { c.SetTop(Coordinate(v, r)); })
        .Property<TControl>("Width", [](TControl& c, V v, R r) { c.SetWidth(Size(v, r)); })
        .Property<TControl>("Height", [](TControl& c, V v, R r) { c.SetHeight(Size(v, r)); })
        .Property<TControl>("ClientWidth",
                            [](TControl& c, V v, R r) { c.SetClientWidth(Size(v, r)); })
        .Property<TControl>("ClientHeight",
                            [](TControl& c, V v, R r) { c.SetClientHeight(Size(v, r)); })
        .Property<TControl>("Visible", [](TControl& c, V v, R r) { c.SetVisible(r.Boolean(v)); })
        .Property<TControl>("Enabled", [](TControl& c, V v, R r) { c.SetEnabled(r.Boolean(v)); })
        .Property<TControl>("Cursor", [](TControl& c, V v, R r) { c.SetCursor(r.Cursor(v)); })
        .Property<TControl>("Hint", [](TControl& c, V v, R r) { c.SetHint(r.String(v)); })
        .Property<TControl>("ShowHint", [](TControl& c, V v, R r) { c.SetShowHint(r.Boolean(v)); })
        .Property<TControl>("Color", [](TControl& c, V v, R r) { c.SetColor(r.Color(v)); })
        .Property<TControl>("ParentColor",
                            [](TControl& c, V v, R r) { c.SetParentColor(r.Boolean(v)); })
        .Property<TControl>("ParentFont",
                            [](TControl& c, V v, R r) { c.SetParentFont(r.Boolean(v)); })
        .Property<TControl>("Font.Name",
                            [](TControl& c, V v, R r) {
                                const std::string& name = r.String(v);
                                ChangeFont(c, [&](TFont& f) { f.Name = name; });
                            })
        .Property<TControl>("Font.Height",
                            [](TControl& c, V v, R r) {
                                const auto h = int32_t(r.Integer(v, -1000, 1000));
                                ChangeFont(c, [&](TFont& f) { f.Height = h; });
                            })
        .Property<TControl>("Font.Color",
                            [](TControl& c, V v, R r) {
                                const TColor color = r.Color(v);
                                ChangeFont(c, [&](TFont& f) { f.Color = color; });
                            })
        .Property<TControl>("Font.Style",
                            [](TControl& c, V v, R r) {
                                const auto style = uint8_t(r.SetOf(v, kFontStyles));
                                ChangeFont(c, [&](TFont& f) { f.Style = style; });
                            })
        .Property<TControl>("OnClick", [](TControl& c, V v, R r) { c.SetOnClick(r.Handler(v)); })
        .Property<TControl>("OnDblClick",
                            [](TControl& c, V v, R r) { c.SetOnDblClick(r.Handler(v)); })
        .Property<TControl>("OnMouseEnter",
                            [](TControl& c, V v, R r) { c.SetOnMouseEnter(r.Handler(v)); })
        .Property<TControl>("OnMouseLeave",
                            [](TControl& c, V v, R r) { c.SetOnMouseLeave(r.Handler(v)); });

    registry.RegisterBase("TGraphicControl", "TControl");
    registry.RegisterBase("TWinControl", "TControl")
        .Property<TWinControl>("TabStop",
                               [](TWinControl& c, V v, R r) { c.SetTabStop(r.Boolean(v)); })
        .Property<TWinControl>("OnEnter",
                               [](TWinControl& c, V v, R r) { c.SetOnEnter(r.Handler(v)); })
        .Property<TWinControl>("OnExit",
                               [](TWinControl& c, V v, R r) { c.SetOnExit(r.Handler(v)); });

    // A form is never created by the loader: it is the object being loaded.
    registry.RegisterBase("TForm", "TWinControl")
        .Property<TForm>("Caption", [](TForm& c, V v, R r) { c.SetCaption(r.String(v)); })
        .Property<TForm>("BorderStyle",
                         [](TForm& c, V v, R r) {
                             c.SetBorderStyle(TFormBorderStyle(r.Enumeration(v, kBorderStyles)));
                         })
        .Property<TForm>("KeyPreview", [](TForm& c, V v, R r) { c.SetKeyPreview(r.Boolean(v)); })
        .Property<TForm>("Scaled", [](TForm& c, V v, R r) { c.SetScaled(r.Boolean(v)); });

    registry.Register<TLabel>("TLabel", "TGraphicControl")
        .Property<TLabel>("Caption", [](TLabel& c, V v, R r) { c.SetCaption(r.String(v)); })
        .Property<TLabel>(
            "Alignment",
            [](TLabel& c, V v, R r) { c.SetAlignment(TAlignment(r.Enumeration(v, kAlignments))); })
        .Property<TLabel>(
            "Layout",
            [](TLabel& c, V v, R r) { c.SetLayout(TTextLayout(r.Enumeration(v, kLayouts))); })
        .Property<TLabel>("AutoSize", [](TLabel& c, V v, R r) { c.SetAutoSize(r.Boolean(v)); })
        .Property<TLabel>("Transparent",
                          [](TLabel& c, V v, R r) { c.SetTransparent(r.Boolean(v)); })
        .Property<TLabel>("ShowAccelChar",
                          [](TLabel& c, V v, R r) { c.SetShowAccelChar(r.Boolean(v)); });

    registry.Register<TImage>("TImage", "TGraphicControl")
        .Property<TImage>("AutoSize", [](TImage& c, V v, R r) { c.SetAutoSize(r.Boolean(v)); })
        // A Windows bitmap file.
        .Property<TImage>("Picture.Data", [](TImage& c, V v, R r) {
            TBitmap picture;
            picture.LoadFromBMP(r.Binary(v));
            c.SetPicture(std::move(picture));
        });

    registry.Register<TCustomPanel>("TCustomPanel", "TWinControl");
    registry.Register<TPanel>("TPanel", "TCustomPanel");

    registry.Register<TTimer>("TTimer", "TComponent")
        .Property<TTimer>("Enabled", [](TTimer& c, V v, R r) { c.SetEnabled(r.Boolean(v)); })
        .Property<TTimer>(
            "Interval",
            [](TTimer& c, V v, R r) { c.SetInterval(uint32_t(r.Integer(v, 0, UINT32_MAX))); })
        .Property<TTimer>("OnTimer", [](TTimer& c, V v, R r) { c.SetOnTimer(r.Handler(v)); });
}

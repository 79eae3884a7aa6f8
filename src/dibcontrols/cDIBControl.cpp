#include "dibcontrols/cDIBControl.h"

#include "dibcontrols/cDIBCompress.h"
#include "dibcontrols/cDIBPanel.h"
#include "dibcontrols/cDIBTimer.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <istream>
#include <limits>
#include <ostream>
#include <random>

namespace {

TCustomDIBContainer* OwnedContainer(const TComponent* c) {
    for (int i = 0; i < c->ComponentCount(); ++i)
        if (auto* k = dynamic_cast<TCustomDIBContainer*>(c->Components(i))) return k;
    return nullptr;
}

TCustomDIBContainer* ContainerFor(TComponent* c) {
    if (auto* k = dynamic_cast<TCustomDIBContainer*>(c)) return k;
    return OwnedContainer(c);
}

// Checked before the component joins its owner, so a refused control leaves no trace.
TComponent* CheckedOwner(TComponent* owner) {
    if (!owner) throw Exception("Owner cannot be nil");
    if (!ContainerFor(owner)) throw Exception("Parent must be a TDIBContainer");
    return owner;
}

int16_t Clamp16(int32_t v) {
    return int16_t(std::clamp<int32_t>(v, INT16_MIN, INT16_MAX));
}

template <class T> T Get(const TDIBPropertyValue& v) {
    return std::get<T>(v);
}

// --- template stream: little-endian integers, strings with a 16-bit length.

constexpr char kTemplateMagic[4] = {'Q', 'L', 'T', 'P'};
constexpr uint16_t kTemplateVersion = 1;

class TWriter {
  public:
    explicit TWriter(std::ostream& s) : fS(s) {}
    void Bytes(const void* p, size_t n) {
        fS.write(static_cast<const char*>(p), std::streamsize(n));
    }
    void U8(uint8_t v) { Bytes(&v, 1); }
    void U16(uint16_t v) { Int(v, 2); }
    void U32(uint32_t v) { Int(v, 4); }
    void I64(int64_t v) { Int(uint64_t(v), 8); }
    void Str(std::string_view s) {
        if (s.size() > 0xFFFF) throw EDIBControlError("Template text is too long.");
        U16(uint16_t(s.size()));
        Bytes(s.data(), s.size());
    }
    void Value(const TDIBPropertyValue& v) {
        U8(uint8_t(v.index()));
        std::visit(
            [this](const auto& x) {
                using T = std::decay_t<decltype(x)>;
                if constexpr (std::is_same_v<T, int64_t>)
                    I64(x);
                else if constexpr (std::is_same_v<T, bool>)
                    U8(x ? 1 : 0);
                else if constexpr (std::is_same_v<T, long double>) {
                    // Hexadecimal keeps the extended value exact.
                    char buf[64];
                    auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::hex);
                    Str(std::string_view(buf, size_t(r.ptr - buf)));
                } else if constexpr (std::is_same_v<T, std::string>)
                    Str(x);
                else if constexpr (std::is_same_v<T, TDIBIdentifier>)
                    Str(x.Name);
                else {
                    U32(uint32_t(x.size()));
                    Bytes(x.data(), x.size());
                }
            },
            v);
    }

  private:
    void Int(uint64_t v, int n) {
        uint8_t b[8];
        for (int i = 0; i < n; ++i)
            b[i] = uint8_t(v >> (8 * i));
        Bytes(b, size_t(n));
    }
    std::ostream& fS;
};

class TReader {
  public:
    explicit TReader(std::istream& s) : fS(s) {}
    void Bytes(void* p, size_t n) {
        fS.read(static_cast<char*>(p), std::streamsize(n));
        if (size_t(fS.gcount()) != n) Fail();
    }
    uint8_t U8() { return uint8_t(Int(1)); }
    uint16_t U16() { return uint16_t(Int(2)); }
    uint32_t U32() { return uint32_t(Int(4)); }
    int64_t I64() { return int64_t(Int(8)); }
    std::string Str() {
        std::string s(U16(), '\0');
        Bytes(s.data(), s.size());
        return s;
    }
    TDIBPropertyValue Value() {
        switch (U8()) {
        case 0:
            return I64();
        case 1:
            return U8() != 0;
        case 2: {
            const std::string text = Str();
            long double v = 0;
            auto r =
                std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::hex);
            if (r.ec != std::errc() || r.ptr != text.data() + text.size()) Fail();
            return v;
        }
        case 3:
            return Str();
        case 4:
            return TDIBIdentifier{Str()};
        case 5: {
            const uint32_t n = U32();
            // Read in pieces so a corrupt length cannot ask for a giant buffer up front.
            std::vector<uint8_t> bytes;
            for (uint32_t done = 0; done < n;) {
                const uint32_t part = std::min<uint32_t>(n - done, 1u << 20);
                bytes.resize(done + part);
                Bytes(bytes.data() + done, part);
                done += part;
            }
            return bytes;
        }
        default:
            Fail();
        }
    }
    [[noreturn]] static void Fail() {
        throw EDIBControlError("The template stream is truncated or malformed.");
    }

  private:
    uint64_t Int(int n) {
        uint8_t b[8];
        Bytes(b, size_t(n));
        uint64_t v = 0;
        for (int i = 0; i < n; ++i)
            v |= uint64_t(b[i]) << (8 * i);
        return v;
    }
    std::istream& fS;
};

std::string GuidText(const std::array<uint8_t, 16>& g) {
    char buf[40];
    std::snprintf(buf, sizeof buf,
                  "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g[3],
                  g[2], g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13],
                  g[14], g[15]);
    return buf;
}

std::array<uint8_t, 16> NewGuid() {
    std::array<uint8_t, 16> g{};
    try {
        std::random_device rd;
        for (size_t i = 0; i < g.size(); i += 4) {
            const uint32_t r = rd();
            for (size_t k = 0; k < 4; ++k)
                g[i + k] = uint8_t(r >> (8 * k));
        }
    } catch (...) {
        throw EDIBControlError("Could not create a GUID for your new template.");
    }
    g[7] = uint8_t((g[7] & 0x0F) | 0x40); // version 4 (random), stored little-endian
    g[8] = uint8_t((g[8] & 0x3F) | 0x80); // variant 1
    return g;
}

bool ValueFits(TDIBPropertyKind kind, const TDIBPropertyValue& v) {
    switch (kind) {
    case TDIBPropertyKind::Integer:
    case TDIBPropertyKind::Enumeration:
        return std::holds_alternative<int64_t>(v);
    case TDIBPropertyKind::Boolean:
        return std::holds_alternative<bool>(v);
    case TDIBPropertyKind::Float:
        return std::holds_alternative<long double>(v);
    case TDIBPropertyKind::String:
        return std::holds_alternative<std::string>(v);
    default:
        return false;
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------
// construction

TCustomDIBControl::TCustomDIBControl(TComponent* owner) : TGraphicControl(CheckedOwner(owner)) {
    fLoadingConstruction = owner->Loading();
    SetBounds(0, 0, 32, 32);
    SetParent(ContainerFor(owner));
    RegisterTemplateProperty("Width");
    RegisterTemplateProperty("Height");
}

TCustomDIBControl::~TCustomDIBControl() {
    for (auto& link : fLinks)
        link->SetOwnerDestroying(true);
    fListWatch.SetOwnerDestroying(true);
    if (fAutoRepeatTimer) {
        delete fAutoRepeatTimer;
        fAutoRepeatTimer = nullptr;
    }
    fDIBFocused = false; // no OnExit from a control on its way out
    if (TCustomDIBContainer* c = Container()) c->ControlLeaving(this);
    fLinks.clear();
}

TCustomDIBContainer* TCustomDIBControl::Container() const {
    // SetParent admits containers only.
    return static_cast<TCustomDIBContainer*>(Parent());
}

void TCustomDIBControl::SetParent(TWinControl* parent) {
    TWinControl* target = parent;
    if (parent && !dynamic_cast<TCustomDIBContainer*>(parent)) {
        target = OwnedContainer(parent);
        if (!target) throw Exception("Parent must be a TDIBContainer");
    }
    TCustomDIBContainer* old = Container();
    if (target == old) return;
    if (old) {
        EndMouseButtons();
        old->ControlLeaving(this);
    }
    TGraphicControl::SetParent(target);
    if (TCustomDIBContainer* now = Container()) now->ApplyTabOrder(this);
}

void TCustomDIBControl::SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) {
    if (fInSetBounds) return;
    fInSetBounds = true;
    try {
        const int32_t dx = left - Left(), dy = top - Top();
        TGraphicControl::SetBounds(left, top, width, height);
        if (dx != 0 || dy != 0)
            for (TControl* c : TControlList(fChildren))
                c->SetBounds(c->Left() + dx, c->Top() + dy, c->Width(), c->Height());
    } catch (...) {
        fInSetBounds = false;
        throw;
    }
    fInSetBounds = false;
}

void TCustomDIBControl::Loaded() {
    TGraphicControl::Loaded();
    fLoadingConstruction = false;
    if (TCustomDIBContainer* c = Container()) c->ApplyTabOrder(this);
}

// ---------------------------------------------------------------------------------------------
// properties

void TCustomDIBControl::SetOpacity(uint8_t opacity) {
    if (fOpacity == opacity) return;
    fOpacity = opacity;
    Invalidate();
}

void TCustomDIBControl::SetAutoSize(bool autoSize) {
    if (fAutoSize == autoSize) return;
    fAutoSize = autoSize;
    if (fAutoSize) AdjustSize();
}

void TCustomDIBControl::SetDIBImageList(TCustomDIBImageList* list) {
    // The watch link has no index: it never calls back, but the list clears it when it goes.
    fListWatch.SetDIBImageList(list);
    for (auto& link : fLinks)
        link->SetDIBImageList(list);
}

TDIBImageLink& TCustomDIBControl::CreateImageLink() {
    auto link = std::make_unique<TDIBImageLink>(this);
    link->SetOnChange([this](TDIBImageLink& sender, int index, TDIBImageChange kind) {
        if (!Destroying()) ImageChanged(sender, index, kind);
    });
    TDIBImageLink& result = *link;
    fLinks.push_back(std::move(link));
    if (TCustomDIBImageList* list = DIBImageList()) result.SetDIBImageList(list);
    return result;
}

void TCustomDIBControl::AddChild(TControl* control) {
    if (!control || control == this ||
        std::find(fChildren.begin(), fChildren.end(), control) != fChildren.end())
        return;
    fChildren.push_back(control);
    FreeNotification(control);
}

void TCustomDIBControl::RemoveChild(TControl* control) {
    std::erase(fChildren, control);
}

void TCustomDIBControl::Notification(TComponent* component, TOperation operation) {
    TGraphicControl::Notification(component, operation);
    // Compared as components: the one going may no longer be a whole TControl.
    if (operation == opRemove)
        std::erase_if(fChildren, [&](TControl* c) { return c == component; });
}

void TCustomDIBControl::SetDIBTabOrder(int order) {
    const TTabOrder value = TTabOrder(std::clamp(order, -1, 32767));
    if (value == fDIBTabOrder) return;
    fDIBTabOrder = value;
    if (TCustomDIBContainer* c = Container()) c->ApplyTabOrder(this);
}

bool TCustomDIBControl::WantsKey(uint16_t key) const {
    if (fDialogKeys & dkAllKeys) return true;
    switch (key) {
    case vkCancel:
    case vkReturn:
    case vkExecute:
    case vkEscape:
        return false;
    case vkTab:
        return (fDialogKeys & dkTab) != 0;
    case vkLeft:
    case vkUp:
    case vkRight:
    case vkDown:
        return (fDialogKeys & dkArrows) != 0;
    default:
        return true;
    }
}

bool TCustomDIBControl::IsShortCut(uint16_t key, TShiftState shift) const {
    if (fAccelerator == 0 || !(shift & ssAlt)) return false;
    char32_t c = fAccelerator;
    if (c >= 'a' && c <= 'z') c -= 'a' - 'A';
    return c == key; // letters and digits: the key code is the upper-case character
}

// ---------------------------------------------------------------------------------------------
// painting

void TCustomDIBControl::Compose(TAbstractSuperDIB& back, TAbstractSuperDIB& scratch) {
    const int32_t l = Left(), t = Top(), w = Width(), h = Height();
    // Start from what is already composed beneath the control.
    back.Draw(std::max(-l, 0), std::max(-t, 0), w, h, scratch, std::max(l, 0), std::max(t, 0));
    struct Unbind {
        TCustomDIBControl& c;
        ~Unbind() {
            c.fCanvas.reset();
            c.fScratch = nullptr;
        }
    } unbind{*this};
    fScratch = &scratch;
    fCanvas.emplace(TPixelView{reinterpret_cast<uint32_t*>(scratch.ScanLine(0)), scratch.Width(),
                               scratch.Height(), -ptrdiff_t(scratch.Width())},
                    TPoint{0, 0}, TRect{0, 0, scratch.Width(), scratch.Height()});
    auto alive = AliveToken();
    PaintStart();
    if (alive.expired()) return;
    PaintControl();
    if (alive.expired()) return;
    PaintEnd();
    if (alive.expired()) return;
    scratch.SetOpacity(fOpacity);
    scratch.Draw(l, t, w, h, back, 0, 0);
}

void TCustomDIBControl::PaintStart() {
    if (fOnPaintStart) fOnPaintStart(this);
}

void TCustomDIBControl::PaintEnd() {
    if (fOnPaintEnd) fOnPaintEnd(this);
}

// ---------------------------------------------------------------------------------------------
// mouse

void TCustomDIBControl::HandleMouseDown(TMouseButton button, TShiftState shift, int32_t x,
                                        int32_t y) {
    fMouseButtons |= ShiftForButton(button);
    fShift = shift;
    fLastMouseX = Clamp16(x);
    fLastMouseY = Clamp16(y);
    auto alive = AliveToken();
    if (fDIBTabOrder >= 0) {
        SetDIBFocus();
        if (alive.expired()) return;
    }
    if (button == mbLeft) {
        // A double click's second press must not fire DblClick again when repeated.
        fSavedPress = {true, TShiftState(shift & ~ssDouble), x, y};
        if (fAutoRepeat && !AutoRepeatRunning()) {
            fStopAutoRepeat = false;
            StartAutoRepeat();
        }
    }
    TGraphicControl::HandleMouseDown(button, shift, x, y);
}

void TCustomDIBControl::HandleMouseMove(TShiftState shift, int32_t x, int32_t y) {
    fShift = shift;
    fLastMouseX = Clamp16(x);
    fLastMouseY = Clamp16(y);
    if (fSavedPress.Valid) {
        fSavedPress.Shift = TShiftState(shift & ~ssDouble);
        fSavedPress.X = x;
        fSavedPress.Y = y;
    }
    auto alive = AliveToken();
    if (fMouseOver && !fHot) {
        MouseEnter();
        if (alive.expired()) return;
    }
    TGraphicControl::HandleMouseMove(shift, x, y);
}

void TCustomDIBControl::HandleMouseUp(TMouseButton button, TShiftState shift, int32_t x,
                                      int32_t y) {
    fMouseButtons &= TShiftState(~ShiftForButton(button));
    fShift = shift;
    fLastMouseX = Clamp16(x);
    fLastMouseY = Clamp16(y);
    if (button == mbLeft) {
        StopAutoRepeatTimer();
        fSavedPress.Valid = false;
    }
    auto alive = AliveToken();
    TGraphicControl::HandleMouseUp(button, shift, x, y);
    if (alive.expired()) return;
    // The leave held back while the press went on outside the control.
    if (fMouseButtons == 0 && fHot && !fMouseOver) DeliverLeave();
}

void TCustomDIBControl::MouseEnter() {
    if (fMouseButtons) {
        // The press that began here comes back over the control: it is still hot, and no one
        // else hears of it.
        fMouseOver = fHot = true;
        if (fAutoRepeat && (fMouseButtons & ssLeft) && fSavedPress.Valid) StartAutoRepeat();
        return;
    }
    if (fMouseOver && fHot) return; // heard already (the framework and a release may both tell)
    const bool wasActive = fDIBFocused || fHot;
    fMouseOver = fHot = true;
    auto alive = AliveToken();
    if (!wasActive) {
        HighlightOn();
        if (alive.expired()) return;
    }
    TGraphicControl::MouseEnter();
}

void TCustomDIBControl::MouseLeave() {
    fMouseOver = false;
    StopAutoRepeatTimer();
    if (fMouseButtons) return; // stays hot until the release
    DeliverLeave();
}

void TCustomDIBControl::DeliverLeave() {
    if (!fHot) return;
    fHot = false;
    auto alive = AliveToken();
    TGraphicControl::MouseLeave();
    if (alive.expired()) return;
    if (!fDIBFocused) HighlightOff();
}

// A press that can no longer end on this control (disabled, hidden, moved to another container).
void TCustomDIBControl::EndMouseButtons() {
    fMouseButtons = 0;
    fSavedPress.Valid = false;
    StopAutoRepeatTimer();
    if (fHot && !fMouseOver) DeliverLeave();
}

void TCustomDIBControl::EnabledChanged() {
    TGraphicControl::EnabledChanged();
    if (Enabled()) return;
    if (fDIBFocused) {
        TCustomDIBContainer* c = Container();
        if (c && c->fActiveControl == this)
            c->SetActiveControl(nullptr);
        else
            LoseDIBFocus();
    }
    EndMouseButtons();
}

void TCustomDIBControl::VisibleChanged() {
    TGraphicControl::VisibleChanged();
    if (!Visible()) EndMouseButtons();
}

void TCustomDIBControl::Click() {
    auto alive = AliveToken();
    TGraphicControl::Click();
    if (alive.expired()) return;
    if (fDIBTabOrder >= 0 && !fDIBFocused) SetDIBFocus();
}

// ---------------------------------------------------------------------------------------------
// auto-repeat

void TCustomDIBControl::SetAutoRepeat(bool autoRepeat) {
    fAutoRepeat = autoRepeat;
    if (!autoRepeat) StopAutoRepeatTimer();
}

bool TCustomDIBControl::AutoRepeatRunning() const {
    return fAutoRepeatTimer && fAutoRepeatTimer->Running();
}

void TCustomDIBControl::StartAutoRepeat() {
    if (!fAutoRepeatTimer) {
        fAutoRepeatTimer = new TDIBTimer(this);
        fAutoRepeatTimer->SetOnTimer([this](TComponent*) { AutoRepeatTick(); });
    }
    // Without a timer the press still works, it just does not repeat.
    SafeCall([this] {
        fAutoRepeatTimer->SetEnabled(false);
        fAutoRepeatTimer->SetInterval(fAutoRepeatInterval);
        fAutoRepeatTimer->SetEnabled(true);
    });
}

void TCustomDIBControl::StopAutoRepeatTimer() {
    if (fAutoRepeatTimer) fAutoRepeatTimer->SetEnabled(false);
}

void TCustomDIBControl::AutoRepeatTick() {
    if (fStopAutoRepeat || !fSavedPress.Valid || !(fMouseButtons & ssLeft)) {
        fStopAutoRepeat = false;
        StopAutoRepeatTimer();
        return;
    }
    HandleMouseDown(mbLeft, fSavedPress.Shift, fSavedPress.X, fSavedPress.Y);
}

// ---------------------------------------------------------------------------------------------
// DIB focus and keys

void TCustomDIBControl::SetDIBFocus() {
    TCustomDIBContainer* c = Container();
    if (!c) return;
    if (fDIBFocused && c->fActiveControl == this) {
        if (!c->Focused() && c->CanFocus()) c->SetFocus();
        return;
    }
    const bool wasActive = fDIBFocused || fHot;
    auto alive = AliveToken();
    fDIBFocused = true;
    c->SetActiveControl(this);
    if (alive.expired()) return;
    if (c->fActiveControl != this) {
        fDIBFocused = false; // a focus change already under way kept it
        return;
    }
    if (!c->Focused() && c->CanFocus()) {
        c->SetFocus();
        if (alive.expired()) return;
    }
    if (!wasActive) {
        HighlightOn();
        if (alive.expired()) return;
    }
    DIBEnter();
}

void TCustomDIBControl::LoseDIBFocus() {
    if (!fDIBFocused) return;
    fDIBFocused = false;
    auto alive = AliveToken();
    DIBExit();
    if (alive.expired()) return;
    if (!fHot) HighlightOff();
}

void TCustomDIBControl::DIBEnter() {
    if (fOnEnter) fOnEnter(this);
}

void TCustomDIBControl::DIBExit() {
    if (fOnExit) fOnExit(this);
}

void TCustomDIBControl::KeyDown(uint16_t& key, TShiftState shift) {
    fShift = shift;
    if (fOnKeyDown) fOnKeyDown(this, key, shift);
}

void TCustomDIBControl::KeyPress(char32_t& key) {
    if (fOnKeyPress) fOnKeyPress(this, key);
}

void TCustomDIBControl::KeyUp(uint16_t& key, TShiftState shift) {
    fShift = shift;
    if (fOnKeyUp) fOnKeyUp(this, key, shift);
}

// ---------------------------------------------------------------------------------------------
// published properties and templates

void TCustomDIBControl::GetProperties(std::vector<TDIBPropertyInfo>& list) const {
    using K = TDIBPropertyKind;
    using C = TCustomDIBControl;
    using V = TDIBPropertyValue;
    list.push_back({"Left", K::Integer, [](const C& c) { return V(int64_t(c.Left())); },
                    [](C& c, const V& v) { c.SetLeft(int32_t(Get<int64_t>(v))); }});
    list.push_back({"Top", K::Integer, [](const C& c) { return V(int64_t(c.Top())); },
                    [](C& c, const V& v) { c.SetTop(int32_t(Get<int64_t>(v))); }});
    list.push_back({"Width", K::Integer, [](const C& c) { return V(int64_t(c.Width())); },
                    [](C& c, const V& v) { c.SetWidth(int32_t(Get<int64_t>(v))); }});
    list.push_back({"Height", K::Integer, [](const C& c) { return V(int64_t(c.Height())); },
                    [](C& c, const V& v) { c.SetHeight(int32_t(Get<int64_t>(v))); }});
    list.push_back({"Enabled", K::Boolean, [](const C& c) { return V(c.Enabled()); },
                    [](C& c, const V& v) { c.SetEnabled(Get<bool>(v)); }});
    list.push_back({"Visible", K::Boolean, [](const C& c) { return V(c.Visible()); },
                    [](C& c, const V& v) { c.SetVisible(Get<bool>(v)); }});
    list.push_back({"Tag", K::Integer, [](const C& c) { return V(int64_t(c.Tag())); },
                    [](C& c, const V& v) { c.SetTag(intptr_t(Get<int64_t>(v))); }});
    list.push_back({"Hint", K::String, [](const C& c) { return V(c.Hint()); },
                    [](C& c, const V& v) { c.SetHint(Get<std::string>(v)); }});
    list.push_back({"Cursor", K::Integer, [](const C& c) { return V(int64_t(c.Cursor())); },
                    [](C& c, const V& v) { c.SetCursor(TCursor(Get<int64_t>(v))); }});
    list.push_back({"Opacity", K::Integer, [](const C& c) { return V(int64_t(c.Opacity())); },
                    [](C& c, const V& v) {
                        c.SetOpacity(uint8_t(std::clamp<int64_t>(Get<int64_t>(v), 0, 255)));
                    }});
    list.push_back({"DIBTabOrder", K::Integer,
                    [](const C& c) { return V(int64_t(c.DIBTabOrder())); },
                    [](C& c, const V& v) {
                        c.SetDIBTabOrder(int(std::clamp<int64_t>(Get<int64_t>(v), -1, 32767)));
                    }});
    list.push_back({"Accelerator", K::Integer,
                    [](const C& c) { return V(int64_t(c.Accelerator())); },
                    [](C& c, const V& v) { c.SetAccelerator(char32_t(Get<int64_t>(v))); }});
    list.push_back({"DIBImageList", K::Object});
    list.push_back({"Children", K::Object});
    list.push_back({"OnClick", K::Event});
    list.push_back({"OnDblClick", K::Event});
    list.push_back({"OnMouseEnter", K::Event});
    list.push_back({"OnMouseLeave", K::Event});
    list.push_back({"OnPaintStart", K::Event});
    list.push_back({"OnPaintEnd", K::Event});
}

std::optional<TDIBPropertyInfo> TCustomDIBControl::FindProperty(std::string_view name) const {
    std::vector<TDIBPropertyInfo> list;
    GetProperties(list);
    for (const TDIBPropertyInfo& p : list)
        if (p.Name == name) return p;
    return std::nullopt;
}

void TCustomDIBControl::RegisterTemplateProperty(std::string_view name) {
    const std::optional<TDIBPropertyInfo> p = FindProperty(name);
    if (!p)
        throw EDIBControlError("Class " + std::string(ClassName()) + " is trying to register " +
                               std::string(name) +
                               " as a template property, and that property does not exist.");
    if (!p->Get || !p->Set)
        throw EDIBControlError("Attempting to template an invalid property type.");
    if (std::find(fTemplateProperties.begin(), fTemplateProperties.end(), name) ==
        fTemplateProperties.end())
        fTemplateProperties.emplace_back(name);
}

void TCustomDIBControl::RegisterTemplateProperties(std::span<const TDIBPropertyInfo> table) {
    for (const TDIBPropertyInfo& p : table)
        if (p.Template) RegisterTemplateProperty(p.Name);
}

void TCustomDIBControl::SaveTemplate(std::ostream& stream) {
    const std::array<uint8_t, 16> guid = NewGuid();
    TWriter w(stream);
    w.Bytes(kTemplateMagic, 4);
    w.U16(kTemplateVersion);
    w.Bytes(guid.data(), guid.size());
    w.Str(ClassName());

    // Template images are always written plain.
    struct KeepCompressor {
        std::shared_ptr<TDIBCompressor> saved = ActiveDIBCompressor();
        KeepCompressor() { SetActiveDIBCompressor(nullptr); }
        ~KeepCompressor() { SetActiveDIBCompressor(saved); }
    } keep;
    w.U16(uint16_t(fLinks.size()));
    for (auto& link : fLinks) {
        TAbstractSuperDIB* image = nullptr;
        if (!link->GetImage(image)) {
            w.U8(0);
            continue;
        }
        TDIBImagesItem& item = link->DIBImageList()->DIBImages().Items(link->DIBIndex());
        const std::vector<TDIBStoredProperty> props = item.StoredProperties();
        w.U8(1);
        w.U16(uint16_t(props.size()));
        for (const TDIBStoredProperty& p : props) {
            w.Str(p.Name);
            w.Value(p.Value);
        }
    }

    w.U16(uint16_t(fTemplateProperties.size()));
    for (const std::string& name : fTemplateProperties) {
        const std::optional<TDIBPropertyInfo> p = FindProperty(name);
        w.Str(name);
        w.Value(p->Get(*this));
    }
    if (!stream) throw EDIBControlError("Could not write the template.");
}

void TCustomDIBControl::LoadTemplate(std::istream& stream) {
    // Everything is read before anything changes, so a bad stream leaves the control as it was.
    TReader r(stream);
    char magic[4];
    r.Bytes(magic, 4);
    if (!std::equal(magic, magic + 4, kTemplateMagic) || r.U16() != kTemplateVersion)
        throw EDIBControlError("The stream does not hold a control template.");
    std::array<uint8_t, 16> guid;
    r.Bytes(guid.data(), guid.size());
    const std::string cls = r.Str();
    if (cls != ClassName())
        throw EDIBControlError("The template is for a " + cls + ", not a " +
                               std::string(ClassName()) + ".");
    struct Image {
        bool Present = false;
        std::vector<TDIBStoredProperty> Props;
    };
    std::vector<Image> images(r.U16());
    for (Image& im : images) {
        im.Present = r.U8() != 0;
        if (!im.Present) continue;
        im.Props.resize(r.U16());
        for (TDIBStoredProperty& p : im.Props) {
            p.Name = r.Str();
            p.Value = r.Value();
        }
    }
    std::vector<TDIBStoredProperty> props(r.U16());
    for (TDIBStoredProperty& p : props) {
        p.Name = r.Str();
        p.Value = r.Value();
    }

    const bool hasImages =
        std::any_of(images.begin(), images.end(), [](const Image& im) { return im.Present; });
    TCustomDIBImageList* list = DIBImageList();
    if (hasImages && !list) throw EDIBControlError("No DIB image list has been assigned.");
    const std::string guidText = GuidText(guid);
    for (size_t i = 0; i < images.size() && i < fLinks.size(); ++i) {
        if (!images[i].Present) continue;
        TDIBImagesItem& item = list->DIBImages().FindOrAdd(guidText, int(i));
        for (const TDIBStoredProperty& p : images[i].Props)
            item.ReadStoredProperty(p.Name, p.Value);
        fLinks[i]->SetDIBImageList(list);
        fLinks[i]->SetDIBIndex(item.Index());
    }
    for (const TDIBStoredProperty& p : props) {
        const std::optional<TDIBPropertyInfo> info = FindProperty(p.Name);
        if (info && info->Set && ValueFits(info->Kind, p.Value)) info->Set(*this, p.Value);
    }
}

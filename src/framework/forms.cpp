#include "framework/forms.h"

#include <algorithm>

TForm::TForm(TComponent* owner, TNativeHandle parentWindow, IPlatform* platform)
    : TWinControl(owner) {
    SetPlatform(platform);
    SetParentWindow(parentWindow);
    SetVisible(false);
    SetColor(clBtnFace);
    SetFont(TFont{});
    SetBounds(0, 0, 320, 240);
}

TForm::~TForm() {
    MarkDestroying();
    DestroyComponents();
}

namespace {
void CollectTabStops(TWinControl* w, std::vector<TWinControl*>& out) {
    for (int i = 0; i < w->ControlCount(); ++i)
        if (auto* c = dynamic_cast<TWinControl*>(w->Controls(i))) {
            if (c->TabStop() && c->CanFocus()) out.push_back(c);
            CollectTabStops(c, out);
        }
}
} // namespace

bool TForm::SelectNext(TWinControl* current, bool forward) {
    std::vector<TWinControl*> stops;
    CollectTabStops(this, stops);
    if (stops.empty()) return false;
    auto it = std::find(stops.begin(), stops.end(), current);
    size_t index;
    if (it == stops.end())
        index = forward ? 0 : stops.size() - 1;
    else {
        const size_t at = size_t(it - stops.begin());
        index = forward ? (at + 1) % stops.size() : (at + stops.size() - 1) % stops.size();
    }
    if (stops[index] == current) return false;
    stops[index]->SetFocus();
    return true;
}

TForm* GetParentForm(const TControl* control) {
    const TControl* c = control;
    while (c && c->Parent())
        c = c->Parent();
    return dynamic_cast<TForm*>(const_cast<TControl*>(c));
}

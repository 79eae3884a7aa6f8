#include "framework/classes.h"

#include <algorithm>
#include <mutex>

namespace {
std::mutex gHandlerLock;
TExceptionHandler gHandler;

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}
} // namespace

void SetApplicationExceptionHandler(TExceptionHandler handler) {
    std::lock_guard lock(gHandlerLock);
    gHandler = std::move(handler);
}

void HandleException() noexcept {
    TExceptionHandler handler;
    {
        std::lock_guard lock(gHandlerLock);
        handler = gHandler;
    }
    if (!handler) return;
    try {
        handler(std::current_exception());
    } catch (...) {
        // a failing handler has nowhere further to report to
    }
}

TComponent::TComponent(TComponent* owner) : fOwner(nullptr) {
    if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
    fDestroying = true;
    fAlive.reset();
    // Tell those who asked, and stop them telling us.
    const std::vector<TComponent*> notifies = std::move(fFreeNotifies);
    for (TComponent* c : notifies) {
        std::erase(c->fFreeNotifies, this);
        c->Notification(this, opRemove);
    }
    DestroyComponents();
    if (fOwner) fOwner->RemoveComponent(this);
}

void TComponent::DestroyComponents() {
    fDestroying = true;
    while (!fComponents.empty()) {
        TComponent* c = fComponents.back();
        RemoveComponent(c);
        delete c;
    }
}

void TComponent::InsertComponent(TComponent* component) {
    component->fOwner = this;
    fComponents.push_back(component);
    Notification(component, opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
    Notification(component, opRemove);
    std::erase(fComponents, component);
    component->fOwner = nullptr;
}

TComponent* TComponent::FindComponent(std::string_view name) const {
    if (name.empty()) return nullptr;
    for (TComponent* c : fComponents)
        if (SameName(c->fName, name)) return c;
    return nullptr;
}

void TComponent::FreeNotification(TComponent* component) {
    if (!component || component == this) return;
    if (std::find(fFreeNotifies.begin(), fFreeNotifies.end(), component) == fFreeNotifies.end())
        fFreeNotifies.push_back(component);
    if (std::find(component->fFreeNotifies.begin(), component->fFreeNotifies.end(), this) ==
        component->fFreeNotifies.end())
        component->fFreeNotifies.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* component) {
    if (!component) return;
    std::erase(fFreeNotifies, component);
    std::erase(component->fFreeNotifies, this);
}

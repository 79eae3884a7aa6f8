// The component model under every form, control and non-visual part: owners that free what they
// own, names, tags, the loading state, destruction notices, and the framework's exceptions.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Base of the framework's errors.
class Exception : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};
// The window system refused a resource (a timer, a window).
class EOutOfResources : public Exception {
  public:
    using Exception::Exception;
};
// Malformed picture data.
class EInvalidGraphic : public Exception {
  public:
    using Exception::Exception;
};

class TComponent;

using TNotifyEvent = std::function<void(TComponent* sender)>;

// Where exceptions that escape an event handler go: a window-system callback must never unwind
// into the platform. Without a handler they are dropped.
using TExceptionHandler = std::function<void(std::exception_ptr)>;
void SetApplicationExceptionHandler(TExceptionHandler handler);
// Passes the exception being handled to the application's handler; call from a catch block.
void HandleException() noexcept;

enum TOperation { opInsert, opRemove };

class TComponent {
  public:
    explicit TComponent(TComponent* owner);
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    // The name a stored form gives the class; subclasses answer their own.
    virtual std::string_view ClassName() const { return "TComponent"; }

    TComponent* Owner() const { return fOwner; }
    int ComponentCount() const { return int(fComponents.size()); }
    TComponent* Components(int index) const { return fComponents.at(size_t(index)); }
    // The owned component with this name (case-insensitive), or null.
    TComponent* FindComponent(std::string_view name) const;

    const std::string& Name() const { return fName; }
    void SetName(std::string name) { fName = std::move(name); }
    intptr_t Tag() const { return fTag; }
    void SetTag(intptr_t tag) { fTag = tag; }

    // True while a stored form is being read into this component.
    bool Loading() const { return fLoading; }
    void SetLoading(bool loading) { fLoading = loading; }
    bool Destroying() const { return fDestroying; }
    // Called once all stored properties are set; clears the loading state.
    virtual void Loaded() { fLoading = false; }

    // Asks for a Notification(this, opRemove) when component is destroyed.
    void FreeNotification(TComponent* component);
    void RemoveFreeNotification(TComponent* component);

    // A token that expires when the component is destroyed, so code that calls an event handler
    // can tell whether the handler freed the component.
    std::weak_ptr<void> AliveToken() const { return fAlive; }

  protected:
    // component was added to or is leaving the owned list, or (opRemove) a component this one
    // asked FreeNotification of is being destroyed.
    virtual void Notification(TComponent* component, TOperation operation) {}
    // Frees the owned components, last created first. Subclasses that must still be whole while
    // their parts go call it at the start of their destructor.
    void DestroyComponents();
    void MarkDestroying() { fDestroying = true; }

  private:
    void InsertComponent(TComponent* component);
    void RemoveComponent(TComponent* component);

    TComponent* fOwner;
    std::vector<TComponent*> fComponents;
    std::vector<TComponent*> fFreeNotifies;
    std::string fName;
    intptr_t fTag = 0;
    bool fLoading = false;
    bool fDestroying = false;
    std::shared_ptr<char> fAlive = std::make_shared<char>(0);
};

// Calls f, sending any exception to the application's handler.
template <class F> void SafeCall(F&& f) noexcept {
    try {
        f();
    } catch (...) {
        HandleException();
    }
}

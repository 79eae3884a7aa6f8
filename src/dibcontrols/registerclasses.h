// The skinned control library's classes for the form loader (framework/formloader.h).
#pragma once

#include "dibcontrols/cDIBImageList.h"
#include "framework/classes.h"
#include "framework/formloader.h"

// The image list as a member of a form: a named component owned by the form that holds the list
// its controls refer to. Stored forms name it with the class TDIBImageList.
class TDIBImageListComponent : public TComponent {
  public:
    explicit TDIBImageListComponent(TComponent* owner) : TComponent(owner) {}
    std::string_view ClassName() const override { return "TDIBImageList"; }

    TDIBImageList& List() { return fList; }
    const TDIBImageList& List() const { return fList; }
    // Resolves the items that load on start.
    void Loaded() override;

  private:
    TDIBImageList fList;
};

// Registers the skinned controls, containers, the timer and the image list. The framework's
// classes must be registered first.
void RegisterDIBFormClasses(TFormClassRegistry& registry);

// The image list held by the form's component of that name; EFormError when there is none.
TDIBImageList& FindFormImageList(const TComponent& form, std::string_view name);

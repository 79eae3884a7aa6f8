// The base of every skinned control: a window-less control that lives in a TDIBContainer and
// paints only when the container paints, into a scratch image the container shares among its
// controls. It adds mouse-over and hot state, press auto-repeat, a focus and keyboard model of
// its own inside the container, image references that report image changes, controls that move
// along with it, and appearance templates.
//
// User-interface thread only, except Invalidate (see framework/controls.h).
#pragma once

#include "dibcontrols/cDIB.h"
#include "dibcontrols/cDIBImageList.h"
#include "framework/controls.h"

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class TCustomDIBContainer;
class TDIBTimer;

class EDIBControlError : public Exception {
  public:
    using Exception::Exception;
};

using TTabOrder = int16_t; // -1 = takes no DIB focus
using TControlList = std::vector<TControl*>;

// Which keys the control takes while it holds DIB focus (the container keeps the others).
enum TDIBDialogKey : uint8_t { dkArrows = 1, dkTab = 2, dkAllKeys = 4 };

// A published property as templates and other by-name access see it.
enum class TDIBPropertyKind : uint8_t {
    Integer,
    Boolean,
    Float,
    Enumeration,
    String,
    Event,
    Object
};

using TDIBEnumName = std::pair<std::string_view, int64_t>;

// A row of a control class's property table (dibcontrols/propertyvalue.h builds them). By-name
// access, templates and the form loader all read the same rows.
class TCustomDIBControl;
struct TDIBPropertyInfo {
    std::string_view Name;
    TDIBPropertyKind Kind;
    // Both null for the kinds templates cannot carry (events, objects).
    TDIBPropertyValue (*Get)(const TCustomDIBControl&) = nullptr;
    void (*Set)(TCustomDIBControl&, const TDIBPropertyValue&) = nullptr;
    // Integer: the values the property's type holds. A form description must keep inside them;
    // Set brings other values into them.
    int64_t Low = 0, High = 0;
    // Enumeration: the names a form description and Set take.
    std::span<const TDIBEnumName> Names = {};
    // Object: the image reference the property names.
    TDIBImageLink& (*Link)(TCustomDIBControl&) = nullptr;
    // Event: sets the handler.
    void (*SetEvent)(TCustomDIBControl&, TNotifyEvent) = nullptr;
    // Part of the control's appearance: registered as a template property.
    bool Template = false;
};

class TCustomDIBControl : public TGraphicControl {
  public:
    // owner: a TCustomDIBContainer, or a component owning one (the first found becomes the
    // parent). Raises Exception "Owner cannot be nil" / "Parent must be a TDIBContainer".
    explicit TCustomDIBControl(TComponent* owner);
    ~TCustomDIBControl() override;
    std::string_view ClassName() const override { return "TCustomDIBControl"; }

    // Null detaches; a non-container parent is replaced by the first container it owns, else
    // "Parent must be a TDIBContainer".
    void SetParent(TWinControl* parent) override;
    // Keeps a second call out while a change is in progress; a move takes Children along.
    void SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) override;
    void Loaded() override;
    TCustomDIBContainer* Container() const;

    uint8_t Opacity() const { return fOpacity; }
    void SetOpacity(uint8_t opacity);
    bool AutoSize() const { return fAutoSize; }
    // Sizing to the image is the subclass's (AdjustSize).
    virtual void SetAutoSize(bool autoSize);

    // Sets the list on every image reference the control owns.
    TCustomDIBImageList* DIBImageList() const { return fListWatch.DIBImageList(); }
    void SetDIBImageList(TCustomDIBImageList* list);
    int ImageLinkCount() const { return int(fLinks.size()); }
    TDIBImageLink& ImageLinks(int index) const { return *fLinks.at(size_t(index)); }

    char32_t Accelerator() const { return fAccelerator; }
    void SetAccelerator(char32_t key) { fAccelerator = key; }

    // Controls that move with this one. Freed members leave the list.
    const TControlList& Children() const { return fChildren; }
    void AddChild(TControl* control);
    void RemoveChild(TControl* control);

    // Press auto-repeat: while the left button is held on the control the press is delivered
    // again every AutoRepeatInterval milliseconds at the current cursor position.
    bool AutoRepeat() const { return fAutoRepeat; }
    void SetAutoRepeat(bool autoRepeat);
    uint32_t AutoRepeatInterval() const { return fAutoRepeatInterval; }
    void SetAutoRepeatInterval(uint32_t ms) { fAutoRepeatInterval = ms; }
    bool AutoRepeatRunning() const;
    // Asks the auto-repeat to stop at its next tick.
    virtual void StopAutoRepeat() { fStopAutoRepeat = true; }

    // DIB focus: the container's active control gets the keyboard.
    TTabOrder DIBTabOrder() const { return fDIBTabOrder; }
    void SetDIBTabOrder(int order);
    bool DIBFocused() const { return fDIBFocused; }
    void SetDIBFocus();
    uint8_t DialogKeys() const { return fDialogKeys; }
    void SetDialogKeys(uint8_t keys) { fDialogKeys = keys; }
    bool WantsKey(uint16_t key) const;

    bool MouseOver() const { return fMouseOver; }
    bool Hot() const { return fHot; }
    // Buttons pressed on this control and not yet released (ssLeft, ssRight, ssMiddle).
    TShiftState MouseButtons() const { return fMouseButtons; }
    TShiftState ShiftState() const { return fShift; }
    TPoint LastMousePos() const { return {fLastMouseX, fLastMouseY}; }

    // The canvas on the scratch image; null outside a paint.
    TCanvas* Canvas() { return fCanvas ? &*fCanvas : nullptr; }

    const TNotifyEvent& OnEnter() const { return fOnEnter; }
    void SetOnEnter(TNotifyEvent e) { fOnEnter = std::move(e); }
    const TNotifyEvent& OnExit() const { return fOnExit; }
    void SetOnExit(TNotifyEvent e) { fOnExit = std::move(e); }
    const TKeyEvent& OnKeyDown() const { return fOnKeyDown; }
    void SetOnKeyDown(TKeyEvent e) { fOnKeyDown = std::move(e); }
    const TKeyEvent& OnKeyUp() const { return fOnKeyUp; }
    void SetOnKeyUp(TKeyEvent e) { fOnKeyUp = std::move(e); }
    const TKeyPressEvent& OnKeyPress() const { return fOnKeyPress; }
    void SetOnKeyPress(TKeyPressEvent e) { fOnKeyPress = std::move(e); }
    const TNotifyEvent& OnPaintStart() const { return fOnPaintStart; }
    void SetOnPaintStart(TNotifyEvent e) { fOnPaintStart = std::move(e); }
    const TNotifyEvent& OnPaintEnd() const { return fOnPaintEnd; }
    void SetOnPaintEnd(TNotifyEvent e) { fOnPaintEnd = std::move(e); }

    // Templates: the images and the registered appearance properties, to and from a stream.
    const std::vector<std::string>& TemplateProperties() const { return fTemplateProperties; }
    virtual void SaveTemplate(std::ostream& stream);
    virtual void LoadTemplate(std::istream& stream);

    // By-name access to the published properties.
    std::optional<TDIBPropertyInfo> FindProperty(std::string_view name) const;

    // The window framework's click: OnClick, then DIB focus for a control in the focus order.
    void Click() override;

  protected:
    friend class TCustomDIBContainer;

    // --- painting. PaintControl draws into ScratchDIB() at control-relative positions.
    virtual void PaintEnd();
    // May enlarge the container's update rectangle (client coordinates); the container then
    // paints again with the larger one.
    virtual void PreparePaint(TRect& update) {}
    virtual void PaintStart();
    virtual void PaintControl() {}
    // The image the control paints into; valid only inside PaintStart..PaintEnd.
    TAbstractSuperDIB& ScratchDIB() const { return *fScratch; }

    // --- state changes for subclasses
    virtual void HighlightOn() {}
    virtual void HighlightOff() {}
    virtual void DIBEnter(); // fires OnEnter
    virtual void DIBExit();  // fires OnExit
    // Keyboard while the control has DIB focus: fire the events; subclasses handle keys after.
    virtual void KeyDown(uint16_t& key, TShiftState shift);
    virtual void KeyPress(char32_t& key);
    virtual void KeyUp(uint16_t& key, TShiftState shift);
    void MouseEnter() override;
    void MouseLeave() override;
    // An image one of the control's links refers to changed (kind dicDeleted: it is gone).
    virtual void ImageChanged(TDIBImageLink& link, int index, TDIBImageChange kind) {}
    // Alt+key: whether key is this control's accelerator.
    virtual bool IsShortCut(uint16_t key, TShiftState shift) const;
    // Resizes to the image when AutoSize is on; nothing here.
    virtual void AdjustSize() {}

    void HandleMouseDown(TMouseButton button, TShiftState shift, int32_t x, int32_t y) override;
    void HandleMouseMove(TShiftState shift, int32_t x, int32_t y) override;
    void HandleMouseUp(TMouseButton button, TShiftState shift, int32_t x, int32_t y) override;
    void EnabledChanged() override;
    void VisibleChanged() override;
    void Notification(TComponent* component, TOperation operation) override;

    // A new image reference owned by the control, reporting to ImageChanged.
    TDIBImageLink& CreateImageLink();
    // True from construction by a form reader until Loaded.
    bool LoadingConstruction() const { return fLoadingConstruction; }

    // Published properties: subclasses add theirs to the list (call the base first).
    virtual void GetProperties(std::vector<TDIBPropertyInfo>& list) const;
    // Names a property as part of the control's appearance; it must be published and of a kind
    // templates carry, else EDIBControlError.
    void RegisterTemplateProperty(std::string_view name);
    // The rows of a property table marked as templates, in table order.
    void RegisterTemplateProperties(std::span<const TDIBPropertyInfo> table);

  private:
    // The container's composition of this control into its back buffer (scratch: the shared
    // control image, already sized to the control).
    void Compose(TAbstractSuperDIB& back, TAbstractSuperDIB& scratch);
    void LoseDIBFocus();
    void DeliverLeave();
    void StartAutoRepeat();
    void StopAutoRepeatTimer();
    void AutoRepeatTick();
    void EndMouseButtons();

    TShiftState fMouseButtons = 0;
    std::vector<std::unique_ptr<TDIBImageLink>> fLinks;
    TDIBImageLink fListWatch; // index -1: only hears of the list's destruction
    std::optional<TCanvas> fCanvas;
    TAbstractSuperDIB* fScratch = nullptr;
    char32_t fAccelerator = 0;
    bool fLoadingConstruction = false;
    bool fStopAutoRepeat = false;
    bool fInSetBounds = false;
    TControlList fChildren;
    bool fAutoRepeat = false;
    uint32_t fAutoRepeatInterval = 250;
    int16_t fLastMouseX = 0, fLastMouseY = 0;
    TShiftState fShift = 0;
    TDIBTimer* fAutoRepeatTimer = nullptr; // owned; made at the first auto-repeated press
    struct TSavedPress {
        bool Valid = false;
        TShiftState Shift = 0;
        int32_t X = 0, Y = 0;
    } fSavedPress;
    bool fMouseOver = false;
    bool fHot = false;
    uint8_t fOpacity = 255;
    bool fAutoSize = false;
    TTabOrder fDIBTabOrder = -1;
    uint8_t fDialogKeys = dkArrows;
    bool fDIBFocused = false;
    std::vector<std::string> fTemplateProperties;
    TNotifyEvent fOnEnter, fOnExit, fOnPaintStart, fOnPaintEnd;
    TKeyEvent fOnKeyDown, fOnKeyUp;
    TKeyPressEvent fOnKeyPress;
};

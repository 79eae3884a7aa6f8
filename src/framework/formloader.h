// Form loading: builds a form and its components from a readable text description.
//
// The description is a tree of objects, each with its class, its properties in the order they are
// set, and the objects it holds:
//
//   object PluginEditorWindow: TPluginEditorWindow      # the form being loaded
//     ClientWidth = 600
//     Font.Name = "MS Sans Serif"                       # strings in double quotes, \" and
//     \\ escapes Color = rgb(166, 166, 166)                        # or clSilver, or $00A6A6A6, or
//     12345 object updater: TDIBTimer                         # owned by the form
//       Interval = 100
//       OnTimer = UpdaterTimer                          # bound by handler name
//     end
//     object Images: TDIBImageList
//       DIBImages = <                                   # a collection: items of properties
//         item
//           DIB.Data = resource("slider hori")          # bytes from the loader's resources
//           DIB.Transparent = False
//         end>
//     end
//     object Panel: TDIBContainer                       # a windowed control: nested controls
//       object Knob: TDIBKnob                           # become its children
//         DIBImageList = Images                         # a reference to another component
//         IndexMain.DIBIndex = 0
//       end
//       object Title: TLabel
//         Font.Style = [fsBold, fsItalic]               # a set of identifiers
//       end
//     end
//   end
//
// Comments run from '#' or "//" to the end of a line. Binary data may also be written inline as
// hexadecimal digits in braces: { 0A0B0C }.
//
// Every component is owned by the form; a control declared inside a windowed control is its
// child. Classes are created by name through a registry in which each unit registers its classes
// with a factory and a setter per property name. Properties are set in order; a reference to a
// component that is not created yet is resolved once the whole tree exists. Anything the loader
// cannot carry out (a syntax error, an unknown class, property, handler, resource or component, a
// value of the wrong kind, a setter that refuses) raises EFormError naming the thing and the line.
#pragma once

#include "framework/classes.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class TForm;
class TFormReader;

class EFormError : public Exception {
  public:
    EFormError(const std::string& message, int line)
        : Exception(line > 0 ? "line " + std::to_string(line) + ": " + message : message),
          fLine(line) {}
    // 0 when the error belongs to no line.
    int Line() const { return fLine; }

  private:
    int fLine;
};

struct TFormProperty;

// One collection item: its properties in order.
struct TFormItem {
    int Line = 0;
    std::vector<TFormProperty> Properties;
};

struct TFormValue {
    enum TKind { vaInteger, vaFloat, vaString, vaIdent, vaSet, vaBinary, vaResource, vaCollection };
    TKind Kind = vaInteger;
    int Line = 0;
    int64_t Int = 0;
    long double Real = 0;
    std::string Text;               // String; Identifier; Resource: its name
    std::vector<std::string> Names; // Set
    std::vector<uint8_t> Bytes;     // Binary
    std::vector<TFormItem> Items;   // Collection
};

struct TFormProperty {
    std::string Name; // may be dotted: Font.Name, IndexMain.DIBIndex
    TFormValue Value;
    int Line = 0;
};

struct TFormObject {
    std::string Name;
    std::string ClassName;
    int Line = 0;
    std::vector<TFormProperty> Properties;
    std::vector<TFormObject> Children;
};

// Reads the text into its object tree; syntax errors raise EFormError.
TFormObject ParseFormDescription(std::string_view text);

// ---------------------------------------------------------------------------------------------
// class registry

// Creates a component of one class, owned by owner (the form being loaded).
using TFormFactory = std::function<TComponent*(TComponent* owner)>;
// Sets one property of target from a value; raises on a bad value (the reader names the line).
using TFormSetter =
    std::function<void(TComponent& target, const TFormValue& value, TFormReader& reader)>;

class TFormClass {
  public:
    TFormClass(std::string name, const TFormClass* parent, TFormFactory factory)
        : fName(std::move(name)), fParent(parent), fFactory(std::move(factory)) {}

    const std::string& Name() const { return fName; }
    const TFormClass* Parent() const { return fParent; }
    // Null for a class that is only a base of others (no object of it is ever stored).
    const TFormFactory& Factory() const { return fFactory; }

    // Adds (or replaces) a property setter.
    TFormClass& Property(std::string name, TFormSetter setter);
    // A setter for objects of class T, checked on the way in.
    template <class T>
    TFormClass& Property(std::string name,
                         std::function<void(T&, const TFormValue&, TFormReader&)> setter);
    // This class's setter or the nearest base class's; null when none has the property.
    const TFormSetter* FindProperty(std::string_view name) const;

  private:
    friend class TFormClassRegistry;

    std::string fName;
    const TFormClass* fParent;
    TFormFactory fFactory;
    std::map<std::string, TFormSetter, std::less<>> fProperties;
};

class TFormClassRegistry {
  public:
    TFormClassRegistry() = default;
    TFormClassRegistry(const TFormClassRegistry&) = delete;
    TFormClassRegistry& operator=(const TFormClassRegistry&) = delete;

    // Registers a class deriving from parent (empty: none; it must be registered already).
    // Registering a name again replaces its factory and keeps its properties.
    TFormClass& Register(const std::string& name, const std::string& parent, TFormFactory factory);
    template <class T> TFormClass& Register(const std::string& name, const std::string& parent) {
        return Register(name, parent,
                        [](TComponent* owner) -> TComponent* { return new T(owner); });
    }
    // A base class: properties only.
    TFormClass& RegisterBase(const std::string& name, const std::string& parent) {
        return Register(name, parent, nullptr);
    }
    const TFormClass* Find(std::string_view name) const;
    TFormClass* Find(std::string_view name);

  private:
    std::map<std::string, std::unique_ptr<TFormClass>, std::less<>> fClasses;
};

// The framework's own classes: TComponent, TControl, TWinControl, TForm, TLabel, TImage,
// TCustomPanel, TPanel, TTimer.
void RegisterFrameworkFormClasses(TFormClassRegistry& registry);

// ---------------------------------------------------------------------------------------------
// loading

// Event handlers the form owner offers, by the names the description binds.
using TFormHandlers = std::map<std::string, TNotifyEvent, std::less<>>;
// Named binary data for resource("name") values; an empty span means "no such resource".
using TFormResources = std::function<std::span<const uint8_t>(std::string_view name)>;

struct TFormLoadContext {
    const TFormClassRegistry* Classes = nullptr;
    TFormHandlers Handlers;
    TFormResources Resources;
};

// Reads description into form: the root object's class must be the form's class name (or, for a
// form class that is not registered, any form deriving from TForm whose ClassName() matches).
// Runs Loaded on the form and on every created component once all of them are set.
void LoadForm(TForm& form, std::string_view description, const TFormLoadContext& context);
// The same from a parsed tree.
void LoadForm(TForm& form, const TFormObject& root, const TFormLoadContext& context);

// What setters get besides the value: conversions that name the value's line in their errors, and
// the things only the loader knows (components by name, handlers, resources).
class TFormReader {
  public:
    TFormReader(TComponent& root, const TFormLoadContext& context);

    TComponent& Root() const { return fRoot; }

    // Conversions; the wrong kind of value raises EFormError.
    int64_t Integer(const TFormValue& v, int64_t min = INT64_MIN, int64_t max = INT64_MAX) const;
    long double Float(const TFormValue& v) const;
    bool Boolean(const TFormValue& v) const;
    const std::string& String(const TFormValue& v) const;
    const std::string& Identifier(const TFormValue& v) const;
    // An identifier from names; the result is the value paired with it.
    int64_t Enumeration(const TFormValue& v,
                        std::span<const std::pair<std::string_view, int64_t>> names) const;
    // A set: the or of the named bits.
    int64_t SetOf(const TFormValue& v,
                  std::span<const std::pair<std::string_view, int64_t>> names) const;
    // A colour: a number, rgb(r, g, b) or a colour identifier (clBlack, clBtnFace, ...).
    int32_t Color(const TFormValue& v) const;
    // A cursor: a number or a cursor identifier (crDefault, crSizeNS, ...).
    int32_t Cursor(const TFormValue& v) const;
    // Inline bytes or a resource's bytes.
    std::vector<uint8_t> Binary(const TFormValue& v) const;
    // The bound handler for an identifier value.
    TNotifyEvent Handler(const TFormValue& v) const;

    // Resolves an identifier naming a component of the form: at once when it exists, else once
    // the whole tree is created. apply gets the component; a name that never appears raises.
    void Reference(const TFormValue& v, std::function<void(TComponent&)> apply);
    // Runs check once the tree exists and references are resolved (for checks that need the
    // whole form, such as an image index against its list).
    void AfterLoad(int line, std::function<void()> check);

    // From LoadForm.
    void RunDeferred();

  private:
    struct TDeferred {
        int Line;
        std::string What;
        std::function<void()> Run;
    };
    [[noreturn]] void Fail(const TFormValue& v, const std::string& message) const;

    TComponent& fRoot;
    const TFormLoadContext& fContext;
    std::vector<TDeferred> fReferences;
    std::vector<TDeferred> fChecks;
};

// The component named name among the form's, of class T; EFormError when it is missing or of
// another class.
template <class T> T& FindFormComponent(const TComponent& form, std::string_view name) {
    TComponent* c = form.FindComponent(name);
    if (!c) throw EFormError("the form has no component " + std::string(name), 0);
    T* t = dynamic_cast<T*>(c);
    if (!t)
        throw EFormError(std::string(name) + " is a " + std::string(c->ClassName()) +
                             ", not the class asked for",
                         0);
    return *t;
}

template <class T>
TFormClass& TFormClass::Property(std::string name,
                                 std::function<void(T&, const TFormValue&, TFormReader&)> setter) {
    const std::string className = fName;
    return Property(std::move(name), [setter = std::move(setter), className](
                                         TComponent& c, const TFormValue& v, TFormReader& r) {
        T* t = dynamic_cast<T*>(&c);
        if (!t)
            throw EFormError(std::string(c.ClassName()) + " is registered as " + className +
                                 " but is not one",
                             v.Line);
        setter(*t, v, r);
    });
}

// A control class's property table, one row per published property, made from the class's own
// getter and setter: by-name access and templates call the row, and the form loader reads a
// description's value into the same row (dibcontrols/registerclasses.cpp). Values set by name
// are brought into the property's type; a form description must already be inside it.
//
//   constexpr TDIBPropertyInfo kTable[] = {
//       IntegerProperty<&K::Min, &K::SetMin>("Min", kTemplated),
//       ...
//   };
#pragma once

#include "dibcontrols/cDIBControl.h"
#include "dibcontrols/dibrange.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>

inline int64_t PropertyInt(const TDIBPropertyValue& v) {
    return std::get<int64_t>(v);
}

// An enumeration arrives as its ordinal or, from a form description, as its name; anything
// else raises the control's own error class.
template <class Error>
int64_t PropertyEnum(const TDIBPropertyValue& v, std::span<const TDIBEnumName> names) {
    if (const auto* id = std::get_if<TDIBIdentifier>(&v)) {
        for (const auto& [name, value] : names)
            if (id->Name == name) return value;
        throw Error("Invalid property value: " + id->Name);
    }
    const int64_t n = PropertyInt(v);
    for (const auto& [name, value] : names)
        if (n == value) return value;
    throw Error("Invalid property value.");
}

constexpr bool kTemplated = true;

namespace dibproperty {

// The class and value type of a getter or setter.
template <class F> struct TMember;
template <class T, class R> struct TMember<R (T::*)() const> { using Class = T; };
template <class T, class A> struct TMember<void (T::*)(A)> {
    using Class = T;
    using Arg = std::decay_t<A>;
};

template <auto Getter> decltype(auto) Read(const TCustomDIBControl& c) {
    return (static_cast<const typename TMember<decltype(Getter)>::Class&>(c).*Getter)();
}
template <auto Setter, class A> void Write(TCustomDIBControl& c, A&& value) {
    (static_cast<typename TMember<decltype(Setter)>::Class&>(c).*Setter)(std::forward<A>(value));
}
template <auto Setter> using Arg = typename TMember<decltype(Setter)>::Arg;

template <auto Getter> TDIBPropertyValue GetInteger(const TCustomDIBControl& c) {
    return int64_t(Read<Getter>(c));
}
template <auto Setter, int64_t Low, int64_t High>
void SetInteger(TCustomDIBControl& c, const TDIBPropertyValue& v) {
    Write<Setter>(c, Arg<Setter>(std::clamp(PropertyInt(v), Low, High)));
}
template <auto Getter> TDIBPropertyValue GetBoolean(const TCustomDIBControl& c) {
    return bool(Read<Getter>(c));
}
template <auto Setter> void SetBoolean(TCustomDIBControl& c, const TDIBPropertyValue& v) {
    Write<Setter>(c, std::get<bool>(v));
}
template <auto Setter, const auto& Names, class Error>
void SetEnumeration(TCustomDIBControl& c, const TDIBPropertyValue& v) {
    Write<Setter>(c, static_cast<Arg<Setter>>(PropertyEnum<Error>(v, Names)));
}
template <auto Getter> TDIBImageLink& GetLink(TCustomDIBControl& c) {
    return Read<Getter>(c);
}
template <auto Setter> void SetEvent(TCustomDIBControl& c, TNotifyEvent e) {
    Write<Setter>(c, std::move(e));
}

} // namespace dibproperty

// A whole number; Low..High is the range of the setter's type (32-bit unless given).
template <auto Getter, auto Setter, int64_t Low = INT32_MIN, int64_t High = INT32_MAX>
constexpr TDIBPropertyInfo IntegerProperty(std::string_view name, bool templated = false) {
    TDIBPropertyInfo p{name, TDIBPropertyKind::Integer, &dibproperty::GetInteger<Getter>,
                       &dibproperty::SetInteger<Setter, Low, High>};
    p.Low = Low;
    p.High = High;
    p.Template = templated;
    return p;
}

// A step of the range model (1..32767).
template <auto Getter, auto Setter>
constexpr TDIBPropertyInfo StepProperty(std::string_view name, bool templated = false) {
    return IntegerProperty<Getter, Setter, 1, 32767>(name, templated);
}

// An unsigned 8-bit value (opacities, borders).
template <auto Getter, auto Setter>
constexpr TDIBPropertyInfo ByteProperty(std::string_view name, bool templated = false) {
    return IntegerProperty<Getter, Setter, 0, 255>(name, templated);
}

template <auto Getter, auto Setter>
constexpr TDIBPropertyInfo BooleanProperty(std::string_view name, bool templated = false) {
    TDIBPropertyInfo p{name, TDIBPropertyKind::Boolean, &dibproperty::GetBoolean<Getter>,
                       &dibproperty::SetBoolean<Setter>};
    p.Template = templated;
    return p;
}

// Names: the enumeration's names and values; a value not among them raises Error.
template <auto Getter, auto Setter, const auto& Names, class Error>
constexpr TDIBPropertyInfo EnumProperty(std::string_view name, bool templated = false) {
    TDIBPropertyInfo p{name, TDIBPropertyKind::Enumeration, &dibproperty::GetInteger<Getter>,
                       &dibproperty::SetEnumeration<Setter, Names, Error>};
    p.Names = Names;
    p.Template = templated;
    return p;
}

// An image reference: in a form description "<name>.DIBIndex" and "<name>.DIBImageList".
template <auto Getter> constexpr TDIBPropertyInfo LinkProperty(std::string_view name) {
    TDIBPropertyInfo p{name, TDIBPropertyKind::Object};
    p.Link = &dibproperty::GetLink<Getter>;
    return p;
}

template <auto Setter> constexpr TDIBPropertyInfo EventProperty(std::string_view name) {
    TDIBPropertyInfo p{name, TDIBPropertyKind::Event};
    p.SetEvent = &dibproperty::SetEvent<Setter>;
    return p;
}

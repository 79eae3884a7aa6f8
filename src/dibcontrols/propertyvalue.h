// Reading the values a form description or a caller stores into a control's properties.
#pragma once

#include "dibcontrols/cDIBImageList.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <string_view>
#include <utility>

inline int32_t ClampToInt32(int64_t v) {
    return int32_t(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                       std::numeric_limits<int32_t>::max()));
}

inline int64_t PropertyInt(const TDIBPropertyValue& v) {
    return std::get<int64_t>(v);
}

// An enumeration arrives as its ordinal or, from a form description, as its name; anything
// else raises the control's own error class.
template <class Error, class E>
E PropertyEnum(const TDIBPropertyValue& v,
               std::initializer_list<std::pair<std::string_view, E>> names) {
    if (const auto* id = std::get_if<TDIBIdentifier>(&v)) {
        for (const auto& [name, value] : names)
            if (id->Name == name) return value;
        throw Error("Invalid property value: " + id->Name);
    }
    const int64_t n = PropertyInt(v);
    for (const auto& [name, value] : names)
        if (n == int64_t(value)) return value;
    throw Error("Invalid property value.");
}

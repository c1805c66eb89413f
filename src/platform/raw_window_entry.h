// One entry of the window server's on-screen list as the platform hands it over, before the
// engine has checked any of it: every field may be missing or of an unexpected type, because the
// values come from other programs' window properties.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "platform/geometry.h"

namespace sombrix {

// A rectangle dictionary ("X", "Y", "Width", "Height"); a missing key leaves the member empty and
// the dictionary does not convert to a rectangle.
struct RawBounds {
    std::optional<double> x;
    std::optional<double> y;
    std::optional<double> width;
    std::optional<double> height;
    friend bool operator==(const RawBounds&, const RawBounds&) = default;
};

// std::monostate stands for a missing key.
using RawValue = std::variant<std::monostate, bool, std::int64_t, double, std::string, RawBounds>;

struct RawWindowEntry {
    RawValue number;    // the window number
    RawValue ownerPID;  // the owning process id
    RawValue layer;     // 0 for normal application windows
    RawValue bounds;    // a RawBounds in global coordinates
    // The two names of the window's class (X11 WM_CLASS: instance, then class); empty when the
    // window has none.
    std::string classInstance{};
    std::string className{};
    friend bool operator==(const RawWindowEntry&, const RawWindowEntry&) = default;
};

// Conversions of the window list: a value converts to an integer type only when it is a number
// exactly representable in that type; booleans, strings and fractional or out-of-range numbers
// count as missing.
std::optional<std::uint32_t> rawToUInt32(const RawValue& value);
std::optional<std::int32_t> rawToInt32(const RawValue& value);
std::optional<std::int64_t> rawToInteger(const RawValue& value);
// A rectangle dictionary with all four keys of finite numbers converts; sizes may be negative
// (the engine's size tests then simply fail).
std::optional<Rect> rawToRect(const RawValue& value);

}  // namespace sombrix

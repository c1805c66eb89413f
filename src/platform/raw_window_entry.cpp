// Conversions of raw window-list values into the engine's integer and rectangle types.
#include "platform/raw_window_entry.h"

#include <cmath>
#include <limits>

namespace sombrix {

namespace {

template <typename Int>
std::optional<Int> toExactInteger(const RawValue& value) {
    if (const auto* i = std::get_if<std::int64_t>(&value)) {
        if (*i < static_cast<std::int64_t>(std::numeric_limits<Int>::min()) ||
            (*i > 0 && static_cast<std::uint64_t>(*i) >
                           static_cast<std::uint64_t>(std::numeric_limits<Int>::max()))) {
            return std::nullopt;
        }
        return static_cast<Int>(*i);
    }
    if (const auto* d = std::get_if<double>(&value)) {
        // Compare in double before converting: converting an out-of-range double is undefined.
        if (!std::isfinite(*d) || std::trunc(*d) != *d ||
            *d < static_cast<double>(std::numeric_limits<Int>::min()) ||
            *d >= std::ldexp(1.0, std::numeric_limits<Int>::digits)) {
            return std::nullopt;
        }
        return static_cast<Int>(*d);
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::uint32_t> rawToUInt32(const RawValue& value) {
    return toExactInteger<std::uint32_t>(value);
}

std::optional<std::int32_t> rawToInt32(const RawValue& value) {
    return toExactInteger<std::int32_t>(value);
}

std::optional<std::int64_t> rawToInteger(const RawValue& value) {
    return toExactInteger<std::int64_t>(value);
}

std::optional<Rect> rawToRect(const RawValue& value) {
    const auto* b = std::get_if<RawBounds>(&value);
    if (!b || !b->x || !b->y || !b->width || !b->height)
        return std::nullopt;
    Rect r{*b->x, *b->y, *b->width, *b->height};
    if (!std::isfinite(r.x) || !std::isfinite(r.y) || !std::isfinite(r.width) ||
        !std::isfinite(r.height)) {
        return std::nullopt;
    }
    return r;
}

}  // namespace sombrix

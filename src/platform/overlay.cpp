// Raw values of the overlay style, as the settings store holds them.
#include "platform/overlay.h"

namespace sombrix {

std::optional<Style> parseStyle(std::string_view raw) {
    if (raw == "black")
        return Style::black;
    if (raw == "wallpaper")
        return Style::wallpaper;
    return std::nullopt;
}

std::string_view rawValue(Style style) {
    return style == Style::wallpaper ? "wallpaper" : "black";
}

}  // namespace sombrix

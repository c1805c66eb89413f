// The overlay window as the engine relies on it: one per display, stacked among application
// windows, with two looks.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/displays.h"
#include "platform/geometry.h"

namespace sombrix {

enum class Style { black, wallpaper };

// Exact, case-sensitive match of "black" or "wallpaper"; anything else is no style.
std::optional<Style> parseStyle(std::string_view raw);
std::string_view rawValue(Style style);

class Overlay {
public:
    virtual ~Overlay() = default;

    // The overlay's number in the window list (its own window id).
    virtual std::uint32_t windowNumber() const = 0;
    // The whole display in global coordinates; fixed for the overlay's life.
    virtual Rect cgFrame() const = 0;
    virtual bool isVisible() const = 0;

    // Shows the overlay if hidden and places it directly beneath that window.
    virtual void orderBelow(std::uint32_t windowNumber) = 0;
    // Shows the overlay if hidden, in front of every application window (never above panels).
    virtual void orderFrontRegardless() = 0;
    // Shows the overlay if hidden and places it directly above that window.
    virtual void orderAbove(std::uint32_t windowNumber) = 0;
    // Hides the overlay; it keeps its display.
    virtual void orderOut() = 0;
    // Leaves these areas of the display uncovered, in global coordinates, clicks passing through
    // everywhere as before; an empty list covers the whole display again. Nothing is sent when
    // the holes are the same as last time.
    virtual void setHoles(std::vector<Rect> holes) = 0;

    // The wallpaper look when the style is wallpaper and capture is possible, the black veil at
    // `strength` otherwise. Starts a capture when the wallpaper look has no picture yet.
    virtual void apply(Style style, double strength) = 0;
    // Starts one asynchronous capture of this display's wallpaper; returns at once.
    virtual void captureWallpaper() = 0;

    // Fades from clear to the look last applied over `seconds`; the next apply() ends the fade
    // at once. Where nothing blends translucent windows (no compositor) the look shows at once.
    virtual void fadeIn(double seconds) = 0;
    // Fades to clear over `seconds`, then hides. `done` runs afterwards from the event loop (not
    // from within this call), and never once the overlay is gone. Without a compositor it hides
    // at once.
    virtual void fadeOut(double seconds, std::function<void()> done) = 0;
};

class OverlayFactory {
public:
    virtual ~OverlayFactory() = default;
    // A new hidden overlay covering `display`.
    virtual std::unique_ptr<Overlay> makeOverlay(const Display& display) = 0;
};

}  // namespace sombrix

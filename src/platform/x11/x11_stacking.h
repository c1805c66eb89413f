// Stacking facts the overlay window needs from the X11 backend to place itself: which top-level
// window holds a client, and which window is the topmost application window.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>

namespace sombrix::x11 {

class X11Stacking {
public:
    virtual ~X11Stacking() = default;
    // The child of the root that holds `client`: the window manager's frame, or the client
    // itself when it is unmanaged. Absent when the window is gone.
    virtual std::optional<xcb_window_t> topLevelOf(xcb_window_t client) = 0;
    // The top-level window of the topmost application window (the normal layer), skipping
    // `exclude`; absent when there is none. "In front of its level" means directly above it,
    // so docks, panels and keep-above windows stay in front of an overlay.
    virtual std::optional<xcb_window_t> topmostNormalTopLevel(xcb_window_t exclude) = 0;
    // The top-level window of the topmost desktop window (a desktop environment's icons and
    // wallpaper); absent when the root itself shows the desktop.
    virtual std::optional<xcb_window_t> topmostDesktopTopLevel() = 0;
    // An overlay was just restacked by `request` on `connection` (directly above or below
    // `sibling`; to the top or the bottom when absent): answers kept from before are stale, or
    // the next cycle would take its own request for one the window manager undid. On the
    // backend's own connection the kept order follows the request at once and the server's
    // events confirm it; `request` is checked, and its error (a sibling that went away
    // meanwhile) makes the next pass read the order again.
    virtual void overlayRestacked(xcb_window_t overlay, std::optional<xcb_window_t> sibling,
                                  std::uint32_t mode, xcb_connection_t* connection,
                                  xcb_void_cookie_t request) = 0;
    // An overlay was just mapped or unmapped.
    virtual void overlayMapped(xcb_window_t overlay, bool mapped) = 0;
};

}  // namespace sombrix::x11

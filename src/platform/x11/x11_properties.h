// Decoders of window properties. The values are written by other programs, so each decoder
// checks type, format and length and treats anything unexpected (wrong format, short or
// overlong data, absurd numbers) as an absent value. Pure functions: no connection needed.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/x11/x11_atoms.h"

namespace sombrix::x11 {

// A property as the server returned it; `length` counts items of `format` bits.
struct PropertyView {
    xcb_atom_t type = XCB_ATOM_NONE;
    std::uint8_t format = 0;
    const void* data = nullptr;
    std::uint32_t length = 0;

    static PropertyView of(const xcb_get_property_reply_t* reply);
};

struct WindowState {
    bool hidden = false;
    bool fullscreen = false;
    bool above = false;
    bool below = false;
    friend bool operator==(const WindowState&, const WindowState&) = default;
};

enum class WindowType {
    Normal,
    Dialog,
    Utility,
    Splash,
    Toolbar,
    Menu,
    Dock,
    Desktop,
    DropdownMenu,
    PopupMenu,
    Tooltip,
    Notification,
    Combo,
    Dnd,
};

struct FrameExtents {
    std::uint32_t left = 0, right = 0, top = 0, bottom = 0;
    friend bool operator==(const FrameExtents&, const FrameExtents&) = default;
};

// _NET_WM_STRUT_PARTIAL: reserved bands at the edges of the root window, with their extent
// along the edge. _NET_WM_STRUT gives only the four widths (the whole edge).
struct Strut {
    std::uint32_t left = 0, right = 0, top = 0, bottom = 0;
    std::uint32_t leftStartY = 0, leftEndY = 0, rightStartY = 0, rightEndY = 0;
    std::uint32_t topStartX = 0, topEndX = 0, bottomStartX = 0, bottomEndX = 0;
    friend bool operator==(const Strut&, const Strut&) = default;
};

// No property (or an unusable one) means no state.
WindowState decodeWindowState(const PropertyView& p, const Atoms& atoms);
// The first type in the list the backend knows; absent when there is none.
std::optional<WindowType> decodeWindowType(const PropertyView& p, const Atoms& atoms);
std::optional<FrameExtents> decodeFrameExtents(const PropertyView& p);
std::optional<Strut> decodeStrutPartial(const PropertyView& p);
std::optional<Strut> decodeStrut(const PropertyView& p);
// A positive process id that fits a signed 32-bit integer.
std::optional<std::int32_t> decodePid(const PropertyView& p);
// The class half of WM_CLASS ("instance\0class\0").
std::optional<std::string> decodeWmClass(const PropertyView& p);
// Both halves of WM_CLASS; a missing or unusable half is empty.
struct WmClassNames {
    std::string instance;
    std::string name;
    friend bool operator==(const WmClassNames&, const WmClassNames&) = default;
};
WmClassNames decodeWmClassNames(const PropertyView& p);
// One window id (e.g. _NET_ACTIVE_WINDOW); None counts as absent.
std::optional<xcb_window_t> decodeWindow(const PropertyView& p);
std::vector<xcb_window_t> decodeWindowList(const PropertyView& p);
std::vector<xcb_atom_t> decodeAtomList(const PropertyView& p);
std::optional<std::uint32_t> decodeCardinal(const PropertyView& p);

}  // namespace sombrix::x11

// Questions to the X server that the session, the test client and the arrangement judge share:
// one copy of each, over any connection.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/x11/x11_reply.h"

namespace sombrix::test {

using x11::awaitReply;
using x11::own;

xcb_atom_t atom(xcb_connection_t* c, const std::string& name);
xcb_window_t rootOf(xcb_connection_t* c);
// A property of 32-bit items (windows, atoms, cardinals) of `type`; empty when it is absent or
// of another form.
std::vector<std::uint32_t> list32(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property,
                                  xcb_atom_t type = XCB_ATOM_ANY, std::uint32_t max = 4096);
// A property of exactly one 32-bit item.
std::optional<std::uint32_t> value32(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property,
                                     xcb_atom_t type = XCB_ATOM_ANY);
// The root's child that holds `w`; absent when `w` is gone.
std::optional<xcb_window_t> topLevelOf(xcb_connection_t* c, xcb_window_t w);
// The check window a running window manager names, when there is one.
std::optional<xcb_window_t> managerWindow(xcb_connection_t* c);
// The root's children, bottom to top.
std::vector<xcb_window_t> rootChildren(xcb_connection_t* c);
bool isViewable(xcb_connection_t* c, xcb_window_t w);
// Sombrix's overlays: the root's children that carry its marker, bottom to top.
std::vector<xcb_window_t> overlayWindows(xcb_connection_t* c);
// Those of them that are mapped.
std::vector<xcb_window_t> mappedOverlays(xcb_connection_t* c);
// A window's opacity as a compositor reads it, 0 to 1; without the property it is opaque.
double opacity(xcb_connection_t* c, xcb_window_t w);

}  // namespace sombrix::test

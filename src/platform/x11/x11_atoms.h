// The atoms the backend uses, interned once per connection in one pipelined batch.
#pragma once

#include <xcb/xcb.h>

namespace sombrix::x11 {

struct Atoms {
    xcb_atom_t netSupported = 0;
    xcb_atom_t netSupportingWmCheck = 0;
    xcb_atom_t netClientList = 0;
    xcb_atom_t netClientListStacking = 0;
    xcb_atom_t netActiveWindow = 0;
    xcb_atom_t netCurrentDesktop = 0;
    xcb_atom_t netWmPid = 0;
    xcb_atom_t netWmState = 0;
    xcb_atom_t netWmStateHidden = 0;
    xcb_atom_t netWmStateFullscreen = 0;
    xcb_atom_t netWmStateAbove = 0;
    xcb_atom_t netWmStateBelow = 0;
    xcb_atom_t netWmWindowType = 0;
    xcb_atom_t typeDesktop = 0;
    xcb_atom_t typeDock = 0;
    xcb_atom_t typeToolbar = 0;
    xcb_atom_t typeMenu = 0;
    xcb_atom_t typeUtility = 0;
    xcb_atom_t typeSplash = 0;
    xcb_atom_t typeDialog = 0;
    xcb_atom_t typeDropdownMenu = 0;
    xcb_atom_t typePopupMenu = 0;
    xcb_atom_t typeTooltip = 0;
    xcb_atom_t typeNotification = 0;
    xcb_atom_t typeCombo = 0;
    xcb_atom_t typeDnd = 0;
    xcb_atom_t typeNormal = 0;
    xcb_atom_t netFrameExtents = 0;
    xcb_atom_t netWmStrut = 0;
    xcb_atom_t netWmStrutPartial = 0;
    xcb_atom_t netWmDesktop = 0;
    xcb_atom_t utf8String = 0;

    // All zero when the connection is broken.
    static Atoms intern(xcb_connection_t* connection);
};

}  // namespace sombrix::x11

// Interning every atom with one round trip: all requests first, then all replies.
#include "platform/x11/x11_atoms.h"

#include <array>
#include <cstring>
#include <utility>

#include "platform/x11/x11_reply.h"

namespace sombrix::x11 {

Atoms Atoms::intern(xcb_connection_t* c) {
    Atoms a;
    const std::pair<const char*, xcb_atom_t*> table[] = {
        {"_NET_SUPPORTED", &a.netSupported},
        {"_NET_SUPPORTING_WM_CHECK", &a.netSupportingWmCheck},
        {"_NET_CLIENT_LIST", &a.netClientList},
        {"_NET_CLIENT_LIST_STACKING", &a.netClientListStacking},
        {"_NET_ACTIVE_WINDOW", &a.netActiveWindow},
        {"_NET_CURRENT_DESKTOP", &a.netCurrentDesktop},
        {"_NET_WM_PID", &a.netWmPid},
        {"_NET_WM_STATE", &a.netWmState},
        {"_NET_WM_STATE_HIDDEN", &a.netWmStateHidden},
        {"_NET_WM_STATE_FULLSCREEN", &a.netWmStateFullscreen},
        {"_NET_WM_STATE_ABOVE", &a.netWmStateAbove},
        {"_NET_WM_STATE_BELOW", &a.netWmStateBelow},
        {"_NET_WM_WINDOW_TYPE", &a.netWmWindowType},
        {"_NET_WM_WINDOW_TYPE_DESKTOP", &a.typeDesktop},
        {"_NET_WM_WINDOW_TYPE_DOCK", &a.typeDock},
        {"_NET_WM_WINDOW_TYPE_TOOLBAR", &a.typeToolbar},
        {"_NET_WM_WINDOW_TYPE_MENU", &a.typeMenu},
        {"_NET_WM_WINDOW_TYPE_UTILITY", &a.typeUtility},
        {"_NET_WM_WINDOW_TYPE_SPLASH", &a.typeSplash},
        {"_NET_WM_WINDOW_TYPE_DIALOG", &a.typeDialog},
        {"_NET_WM_WINDOW_TYPE_DROPDOWN_MENU", &a.typeDropdownMenu},
        {"_NET_WM_WINDOW_TYPE_POPUP_MENU", &a.typePopupMenu},
        {"_NET_WM_WINDOW_TYPE_TOOLTIP", &a.typeTooltip},
        {"_NET_WM_WINDOW_TYPE_NOTIFICATION", &a.typeNotification},
        {"_NET_WM_WINDOW_TYPE_COMBO", &a.typeCombo},
        {"_NET_WM_WINDOW_TYPE_DND", &a.typeDnd},
        {"_NET_WM_WINDOW_TYPE_NORMAL", &a.typeNormal},
        {"_NET_FRAME_EXTENTS", &a.netFrameExtents},
        {"_NET_WM_STRUT", &a.netWmStrut},
        {"_NET_WM_STRUT_PARTIAL", &a.netWmStrutPartial},
        {"_NET_WM_DESKTOP", &a.netWmDesktop},
        {"UTF8_STRING", &a.utf8String},
    };
    constexpr std::size_t n = std::size(table);
    std::array<xcb_intern_atom_cookie_t, n> cookies{};
    for (std::size_t i = 0; i < n; ++i) {
        cookies[i] = xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(table[i].first)),
                                     table[i].first);
    }
    for (std::size_t i = 0; i < n; ++i) {
        auto reply = own(xcb_intern_atom_reply(c, cookies[i], nullptr));
        *table[i].second = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    }
    return a;
}

}  // namespace sombrix::x11

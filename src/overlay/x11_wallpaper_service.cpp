// Follows the wallpaper and the compositor through root property events and XFixes selection
// events.
#include "overlay/x11_wallpaper_service.h"

#include <xcb/composite.h>
#include <xcb/xfixes.h>

#include <QCoreApplication>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/x11/x11_reply.h"

namespace sombrix {

namespace {

using x11::own;

xcb_atom_t intern(xcb_connection_t* c, const std::string& name) {
    auto reply = own(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(name.size()), name.c_str()), nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// The number of the screen whose root is `root`, for the compositor's selection name.
int screenNumberOf(xcb_connection_t* c, xcb_window_t root) {
    int n = 0;
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem; xcb_screen_next(&it), ++n) {
        if (it.data->root == root)
            return n;
    }
    return 0;
}

}  // namespace

X11WallpaperService::X11WallpaperService(xcb_connection_t* connection, xcb_window_t root)
    : connection_(connection), root_(root) {
    if (!connection_ || xcb_connection_has_error(connection_))
        return;
    rootPixmapAtom_ = intern(connection_, "_XROOTPMAP_ID");
    setRootPixmapAtom_ = intern(connection_, "ESETROOT_PMAP_ID");
    clientListAtom_ = intern(connection_, "_NET_CLIENT_LIST");
    windowTypeAtom_ = intern(connection_, "_NET_WM_WINDOW_TYPE");
    desktopTypeAtom_ = intern(connection_, "_NET_WM_WINDOW_TYPE_DESKTOP");
    compositorSelection_ =
        intern(connection_, "_NET_WM_CM_S" + std::to_string(screenNumberOf(connection_, root_)));

    // Add property changes to whatever the root already reports to this client (Qt's and the
    // window-list backend's selections stay in place).
    auto attributes = own(xcb_get_window_attributes_reply(
        connection_, xcb_get_window_attributes(connection_, root_), nullptr));
    const std::uint32_t mask =
        (attributes ? attributes->your_event_mask : 0) | XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);

    const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(connection_, &xcb_xfixes_id);
    if (xfixes && xfixes->present && compositorSelection_ != XCB_ATOM_NONE) {
        auto version = own(xcb_xfixes_query_version_reply(
            connection_, xcb_xfixes_query_version(connection_, 5, 0), nullptr));
        if (version) {
            xfixes_ = true;
            xfixesFirstEvent_ = xfixes->first_event;
            xcb_xfixes_select_selection_input(
                connection_, root_, compositorSelection_,
                XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                    XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                    XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
        }
    }
    const xcb_query_extension_reply_t* composite =
        xcb_get_extension_data(connection_, &xcb_composite_id);
    composite_ = composite && composite->present &&
                 own(xcb_composite_query_version_reply(
                     connection_, xcb_composite_query_version(connection_, 0, 4), nullptr));
    readCompositorOwner();
    if (hasRootPixmap())
        generation_ = 1;
    lastAnswer_ = canCapture();
    xcb_flush(connection_);

    if (QCoreApplication::instance())
        QCoreApplication::instance()->installNativeEventFilter(this);
}

X11WallpaperService::~X11WallpaperService() {
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

void X11WallpaperService::readCompositorOwner() {
    if (compositorSelection_ == XCB_ATOM_NONE)
        return;
    auto owner = own(xcb_get_selection_owner_reply(
        connection_, xcb_get_selection_owner(connection_, compositorSelection_), nullptr));
    compositorOwner_ = owner ? owner->owner : xcb_window_t{XCB_WINDOW_NONE};
}

bool X11WallpaperService::hasRootPixmap() {
    if (pixmapKnown_)
        return pixmap_;
    pixmapKnown_ = true;
    pixmap_ = false;
    for (xcb_atom_t property : {rootPixmapAtom_, setRootPixmapAtom_}) {
        if (property == XCB_ATOM_NONE)
            continue;
        auto value = own(xcb_get_property_reply(
            connection_, xcb_get_property(connection_, 0, root_, property, XCB_ATOM_PIXMAP, 0, 1),
            nullptr));
        if (!value || value->format != 32 || xcb_get_property_value_length(value.get()) != 4)
            continue;
        const auto pixmap = *static_cast<const xcb_pixmap_t*>(xcb_get_property_value(value.get()));
        xcb_generic_error_t* error = nullptr;
        // A setter may free its pixmap and leave the property behind: that is no wallpaper.
        auto geometry =
            own(xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, pixmap), &error));
        std::free(error);
        pixmap_ = geometry != nullptr;
        return pixmap_;
    }
    return pixmap_;
}

bool X11WallpaperService::hasDesktopWindow() {
    if (desktopKnown_)
        return desktop_;
    desktopKnown_ = true;
    desktop_ = false;
    auto list = own(xcb_get_property_reply(
        connection_,
        xcb_get_property(connection_, 0, root_, clientListAtom_, XCB_ATOM_WINDOW, 0, 4096),
        nullptr));
    if (!list || list->format != 32)
        return false;
    const auto* ids = static_cast<const xcb_window_t*>(xcb_get_property_value(list.get()));
    const int count = xcb_get_property_value_length(list.get()) / 4;
    std::vector<xcb_get_property_cookie_t> types;
    for (int i = 0; i < count; ++i)
        types.push_back(
            xcb_get_property(connection_, 0, ids[i], windowTypeAtom_, XCB_ATOM_ATOM, 0, 32));
    std::set<xcb_window_t> redirected;
    for (int i = 0; i < count; ++i) {
        auto type = own(xcb_get_property_reply(connection_, types[std::size_t(i)], nullptr));
        if (!type || type->format != 32)
            continue;
        const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(type.get()));
        const int n = xcb_get_property_value_length(type.get()) / 4;
        if (std::find(atoms, atoms + n, desktopTypeAtom_) != atoms + n && composite_) {
            desktop_ = true;
            keepContents(ids[i], redirected);
        }
    }
    // A desktop window that came or went changes the picture, even while a root pixmap stays.
    if (redirected != redirected_)
        bump();
    redirected_ = std::move(redirected);  // the server dropped those of windows that went
    return desktop_;
}

void X11WallpaperService::keepContents(xcb_window_t client, std::set<xcb_window_t>& redirected) {
    // The top-level: a reparenting manager's frame holds the desktop window.
    xcb_window_t top = client;
    for (int depth = 0; depth < 16; ++depth) {
        auto tree =
            own(xcb_query_tree_reply(connection_, xcb_query_tree(connection_, top), nullptr));
        if (!tree)
            return;
        if (tree->parent == root_)
            break;
        top = tree->parent;
    }
    // Automatic redirection keeps the window's contents off screen, whatever lies above it, and
    // changes nothing on screen; a compositor's own redirection may join it. The server ends it
    // with the window or with this connection. Asked once per window: a second request from the
    // same client is refused.
    redirected.insert(top);
    if (redirected_.contains(top))
        return;
    xcb_discard_reply(connection_, xcb_composite_redirect_window_checked(
                                       connection_, top, XCB_COMPOSITE_REDIRECT_AUTOMATIC)
                                       .sequence);
    xcb_flush(connection_);
}

bool X11WallpaperService::canCapture() {
    if (!connection_ || xcb_connection_has_error(connection_))
        return false;
    // A desktop window is captured alone from the contents the server keeps for it.
    const bool answer = hasDesktopWindow() || hasRootPixmap();
    if (lastAnswer_ && *lastAnswer_ != answer)
        bump();  // a picture appeared or went: the engine's next look takes new pictures
    lastAnswer_ = answer;
    return answer;
}

std::optional<WallpaperStoreToken> X11WallpaperService::storeModificationDate() {
    canCapture();  // a change of availability counts as a change of the wallpaper
    return generation_;
}

bool X11WallpaperService::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const std::uint8_t type = event->response_type & 0x7f;
    if (xfixes_ && type == xfixesFirstEvent_ + XCB_XFIXES_SELECTION_NOTIFY) {
        const auto* notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(event);
        if (notify->selection == compositorSelection_)
            compositorOwner_ = notify->subtype == XCB_XFIXES_SELECTION_EVENT_SET_SELECTION_OWNER
                                   ? notify->owner
                                   : xcb_window_t{XCB_WINDOW_NONE};
        return false;
    }
    if (type != XCB_PROPERTY_NOTIFY)
        return false;
    const auto* property = reinterpret_cast<const xcb_property_notify_event_t*>(event);
    if (property->window != root_)
        return false;
    if (property->atom == rootPixmapAtom_ || property->atom == setRootPixmapAtom_) {
        pixmapKnown_ = false;
        if (property->atom == rootPixmapAtom_)
            bump();
    } else if (property->atom == clientListAtom_) {
        desktopKnown_ = false;
    }
    return false;
}

}  // namespace sombrix

// Follows wallpaper changes through property events on the root window.
#include "overlay/x11_wallpaper_service.h"

#include <QCoreApplication>
#include <cstdlib>
#include <memory>

#include "platform/x11/x11_reply.h"

namespace sombrix {

namespace {
constexpr char kRootPixmap[] = "_XROOTPMAP_ID";
}

X11WallpaperService::X11WallpaperService(xcb_connection_t* connection, xcb_window_t root)
    : connection_(connection), root_(root) {
    if (!connection_)
        return;
    const auto atom = x11::own(xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 0, sizeof kRootPixmap - 1, kRootPixmap),
        nullptr));
    if (atom)
        rootPixmapAtom_ = atom->atom;

    // Add property changes to whatever the root already reports to this client (Qt's and the
    // window-list backend's selections stay in place).
    const auto attributes = x11::own(xcb_get_window_attributes_reply(
        connection_, xcb_get_window_attributes(connection_, root_), nullptr));
    const std::uint32_t mask =
        (attributes ? attributes->your_event_mask : 0) | XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);

    const auto current = x11::own(xcb_get_property_reply(
        connection_, xcb_get_property(connection_, 0, root_, rootPixmapAtom_, XCB_ATOM_ANY, 0, 1),
        nullptr));
    if (current && current->type != XCB_ATOM_NONE)
        generation_ = 1;
    xcb_flush(connection_);

    if (QCoreApplication::instance())
        QCoreApplication::instance()->installNativeEventFilter(this);
}

X11WallpaperService::~X11WallpaperService() {
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

std::optional<WallpaperStoreToken> X11WallpaperService::storeModificationDate() {
    return generation_;
}

bool X11WallpaperService::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || rootPixmapAtom_ == XCB_ATOM_NONE)
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
        return false;
    const auto* property = reinterpret_cast<const xcb_property_notify_event_t*>(event);
    if (property->window == root_ && property->atom == rootPixmapAtom_)
        generation_ = generation_.value_or(0) + 1;
    return false;
}

}  // namespace sombrix

// The wallpaper service on X11: capture is always allowed, and a change counter stands in for the
// wallpaper store's modification date.
#pragma once

#include <xcb/xcb.h>

#include <QAbstractNativeEventFilter>

#include "platform/wallpaper_service.h"

namespace sombrix {

// Counts PropertyNotify events of `_XROOTPMAP_ID` on the root: every wallpaper setter rewrites
// that property, while the pixmap id alone may stay the same (hsetroot reuses it). The token is
// absent while no wallpaper has ever been seen. Lives on the main thread.
class X11WallpaperService final : public WallpaperService, public QAbstractNativeEventFilter {
public:
    X11WallpaperService(xcb_connection_t* connection, xcb_window_t root);
    ~X11WallpaperService() override;
    X11WallpaperService(const X11WallpaperService&) = delete;
    X11WallpaperService& operator=(const X11WallpaperService&) = delete;

    // X11 has no capture permission.
    bool canCapture() override { return true; }
    void requestAccess() override {}
    std::optional<WallpaperStoreToken> storeModificationDate() override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    xcb_connection_t* connection_;
    xcb_window_t root_;
    xcb_atom_t rootPixmapAtom_ = XCB_ATOM_NONE;
    std::optional<WallpaperStoreToken> generation_;
};

}  // namespace sombrix

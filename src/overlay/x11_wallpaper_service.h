// The wallpaper service on X11: whether a wallpaper picture can be had (a desktop window, whose
// contents it has the server keep off screen, or a root background pixmap), whether a compositor
// runs, and a change counter that stands in for the wallpaper store's modification date.
#pragma once

#include <xcb/xcb.h>

#include <QAbstractNativeEventFilter>
#include <set>

#include "platform/wallpaper_service.h"

namespace sombrix {

// Follows the root's wallpaper properties and client list through PropertyNotify, and the
// compositor through the owner of `_NET_WM_CM_S<screen>` (XFixes selection events). Answers come
// from what the events said; the server is asked again only after a relevant event. The token
// grows on every rewrite of `_XROOTPMAP_ID` (the pixmap id alone may stay the same: hsetroot
// reuses it) and whenever a picture becomes available or unavailable; it is absent while no
// wallpaper has ever been seen. Lives on the main thread.
class X11WallpaperService final : public WallpaperService, public QAbstractNativeEventFilter {
public:
    X11WallpaperService(xcb_connection_t* connection, xcb_window_t root);
    ~X11WallpaperService() override;
    X11WallpaperService(const X11WallpaperService&) = delete;
    X11WallpaperService& operator=(const X11WallpaperService&) = delete;

    bool canCapture() override;
    // X11 has no capture permission.
    void requestAccess() override {}
    bool isCompositing() override { return compositorOwner_ != XCB_WINDOW_NONE; }
    std::optional<WallpaperStoreToken> storeModificationDate() override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    bool hasRootPixmap();
    bool hasDesktopWindow();
    // Has the server keep the contents of `client`'s top-level, once; adds it to `redirected`.
    void keepContents(xcb_window_t client, std::set<xcb_window_t>& redirected);
    void readCompositorOwner();
    void bump() { generation_ = generation_.value_or(0) + 1; }

    xcb_connection_t* connection_;
    xcb_window_t root_;
    xcb_atom_t rootPixmapAtom_ = XCB_ATOM_NONE;
    xcb_atom_t setRootPixmapAtom_ = XCB_ATOM_NONE;
    xcb_atom_t clientListAtom_ = XCB_ATOM_NONE;
    xcb_atom_t windowTypeAtom_ = XCB_ATOM_NONE;
    xcb_atom_t desktopTypeAtom_ = XCB_ATOM_NONE;
    xcb_atom_t compositorSelection_ = XCB_ATOM_NONE;
    std::uint8_t xfixesFirstEvent_ = 0;
    bool xfixes_ = false;
    bool composite_ = false;
    std::set<xcb_window_t> redirected_;  // desktop top-levels whose contents the server keeps
    xcb_window_t compositorOwner_ = XCB_WINDOW_NONE;
    // What the last look found; re-read after an event that may change it.
    bool pixmapKnown_ = false;
    bool pixmap_ = false;
    bool desktopKnown_ = false;
    bool desktop_ = false;
    std::optional<bool> lastAnswer_;
    std::optional<WallpaperStoreToken> generation_;
};

}  // namespace sombrix

// The window list from the X server's real stacking order: the root's children top to bottom,
// each window-manager frame replaced by the client it holds, with the layer, owner, bounds and
// visibility of every window. Also answers the stacking questions of the overlay window.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <unordered_map>
#include <vector>

#include "platform/window_list.h"
#include "platform/x11/x11_context.h"
#include "platform/x11/x11_stacking.h"
#include "platform/x11/x11_window_cache.h"

namespace sombrix::x11 {

// Layers in the window list: 0 is the application layer, everything else is some other level
// the engine leaves alone.
namespace layer {
inline constexpr int kBelow = -20;
inline constexpr int kNormal = 0;
inline constexpr int kFloating = 3;  // keep-above windows, toolbars, torn-off menus
inline constexpr int kDock = 20;
inline constexpr int kNotification = 23;
inline constexpr int kPopup = 101;  // other clients' override-redirect windows: menus, tooltips
inline constexpr int kDnd = 500;
}  // namespace layer

// One top-level window as the backend sees it.
struct X11Window {
    xcb_window_t id = 0;        // the client window (the overlay's own id for overlays)
    xcb_window_t topLevel = 0;  // the root's child holding it (frame or the window itself)
    std::optional<std::int32_t> pid;
    std::optional<Rect> bounds;
    int layer = layer::kNormal;
    bool onScreen = false;
    bool desktop = false;  // a desktop element (the desktop window of an environment)
    bool managed = false;
    bool overlay = false;
    WindowState state;
    WmClassNames wmClass;
};

class X11WindowList : public WindowList, public X11Stacking {
public:
    explicit X11WindowList(X11Context& context);

    // WindowList: on-screen windows, desktop elements excluded, front to back. A window whose
    // entry reads the same as in the last list keeps that entry; a new order alone builds none.
    SharedWindowEntries windowEntries() override;
    // Moves with every event and every pass that changed the facts; absent while a pass has
    // something to read (the safety-net sweep included) or no events keep the facts current.
    std::optional<std::uint64_t> changeCount() override;
    bool changeUnderWay() override { return changeUnderWay_ && changeUnderWay_(); }
    // The event layer says here whether it holds back a batch for the rest of a change.
    void setChangeUnderWay(std::function<bool()> probe) { changeUnderWay_ = std::move(probe); }

    // X11Stacking
    std::optional<xcb_window_t> topLevelOf(xcb_window_t client) override;
    std::optional<xcb_window_t> topmostNormalTopLevel(xcb_window_t exclude) override;
    std::optional<xcb_window_t> topmostDesktopTopLevel() override;
    void overlayRestacked(xcb_window_t overlay, std::optional<xcb_window_t> sibling,
                          std::uint32_t mode, xcb_connection_t* connection,
                          xcb_void_cookie_t request) override {
        cache_.ownRestack(overlay, sibling, mode,
                          connection == ctx_.connection() ? request : xcb_void_cookie_t{0});
    }
    void overlayMapped(xcb_window_t overlay, bool mapped) override {
        cache_.ownMapping(overlay, mapped);
    }

    // Every top-level window, on screen or not, front to back; absent when the server could not
    // be asked. While events keep the facts current, asks the server only about what changed.
    std::optional<std::vector<X11Window>> windows();
    // The next windows() reads everything again (a cold cycle, for benchmarks).
    void invalidate() { cache_.invalidate(); }

    // The outer frame of a client in root coordinates, as in the list; absent when it is gone.
    std::optional<Rect> boundsOf(xcb_window_t client);

    X11WindowCache& cache() { return cache_; }

private:
    std::function<bool()> changeUnderWay_;
    // Brings the facts up to date: what events marked, a slice of the safety-net sweep when
    // nothing did, everything when nothing keeps them current.
    bool update();
    // What is kept of one top-level: its window as last built, and its entry in the list the
    // engine reads, built when first asked after the window changed.
    struct Kept {
        X11Window window;
        SharedWindowEntry entry;
        std::uint64_t pass = 0;  // the last pass that met it
    };
    // The list as windows() returns it, without a copy; null when the server could not be asked.
    const std::vector<Kept*>* current();
    // Brings `w` up to what the facts say, assigning only what differs; true when anything did.
    bool fill(X11Window& w, xcb_window_t topLevel, const TopLevelFacts& facts) const;

    X11Context& ctx_;
    X11WindowCache cache_;
    // Every top-level met, by its id; the list as last built, front to back, pointing into it,
    // while the facts have not changed since.
    std::unordered_map<xcb_window_t, Kept> kept_;
    std::vector<Kept*> pass_;
    bool passBuilt_ = false;
    std::uint64_t passNumber_ = 0;
    std::uint64_t lastPassGeneration_ = 0;
    std::uint64_t lastPassOverlays_ = 0;
    // The on-screen entries as last handed out, and whether they still match lastPass_.
    SharedWindowEntries lastEntries_;
    bool entriesCurrent_ = false;
};

}  // namespace sombrix::x11

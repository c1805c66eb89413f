// The window list from the X server's real stacking order: the root's children top to bottom,
// each window-manager frame replaced by the client it holds, with the layer, owner, bounds and
// visibility of every window. Also answers the stacking questions of the overlay window.
#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/window_list.h"
#include "platform/x11/x11_context.h"
#include "platform/x11/x11_stacking.h"

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
};

class X11WindowList : public WindowList, public X11Stacking {
public:
    explicit X11WindowList(X11Context& context);

    // WindowList: on-screen windows, desktop elements excluded, front to back.
    std::optional<std::vector<RawWindowEntry>> copyWindowInfo() override;

    // X11Stacking
    std::optional<xcb_window_t> topLevelOf(xcb_window_t client) override;
    std::optional<xcb_window_t> topmostNormalTopLevel(xcb_window_t exclude) override;
    std::optional<xcb_window_t> topmostDesktopTopLevel() override;

    // Every top-level window, on screen or not, front to back; absent when the server could not
    // be asked. One round trip while the set of windows stays the same.
    std::optional<std::vector<X11Window>> windows();
    // The next windows() asks the server again (a new refresh cycle, for benchmarks).
    void invalidate() { lastPass_.reset(); }
    // The same, always asking the server.
    std::optional<std::vector<X11Window>> freshWindows();

    // The outer frame of a window in root coordinates, computed as in the list; absent when
    // the window is gone.
    std::optional<Rect> boundsOf(xcb_window_t client);

    // A window was destroyed: drop what is cached about it.
    void forget(xcb_window_t window);

private:
    struct ClientInfo {
        xcb_window_t topLevel = 0;  // 0 while unknown
    };
    struct Fetch;
    struct OtherFetch;

    std::vector<Fetch> sendClientRequests(
        const std::vector<std::pair<xcb_window_t, xcb_window_t>>&);
    void collectClientReplies(std::vector<Fetch>& fetches);
    // Walks parents up to the root's child; one round trip per level for all windows at once.
    std::unordered_map<xcb_window_t, xcb_window_t> resolveTopLevels(
        const std::vector<xcb_window_t>& windows);

    X11Context& ctx_;
    // Clients of the last pass and the top-level each sits in.
    std::unordered_map<xcb_window_t, ClientInfo> clients_;
    // Root children of the last pass that hold no client.
    std::vector<xcb_window_t> others_;
    std::unordered_set<xcb_window_t> rootChildren_;
    // The last pass, reused while no event has arrived since and it is only moments old (one
    // refresh cycle asks for the list more than once).
    std::optional<std::vector<X11Window>> lastPass_;
    std::uint64_t lastPassGeneration_ = 0;
    std::chrono::steady_clock::time_point lastPassTime_;
};

}  // namespace sombrix::x11

// What every X11 service of one connection shares: the connection and root, the atoms, the
// per-window facts that never change (owner pid, WM_CLASS) cached until the window goes away,
// the registry of our own overlay windows, and request/round-trip counters for the benchmarks.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/geometry.h"
#include "platform/x11/x11_atoms.h"
#include "platform/x11/x11_monitors.h"
#include "platform/x11/x11_properties.h"
#include "platform/x11/x11_reply.h"

namespace sombrix::x11 {

struct X11Stats {
    std::uint64_t roundTrips = 0;  // batches of replies waited for
    std::uint64_t requests = 0;    // every request the backend sent
};

class X11Context {
public:
    X11Context(xcb_connection_t* connection, xcb_window_t root);

    xcb_connection_t* connection() const { return c_; }
    xcb_window_t root() const { return root_; }
    const Atoms& atoms() const { return atoms_; }
    X11Stats& stats() { return stats_; }

    // The connection to the server is gone for good. The first time this is seen the lost
    // handler runs; afterwards every query answers "absent".
    bool connectionBroken();
    void setConnectionLostHandler(std::function<void(int error)> handler);

    // Our own override-redirect overlays: application-layer windows of this process, listed at
    // their true stacking place. The overlay side registers each window id once its flags are
    // final and unregisters it before the window is destroyed.
    void registerOverlay(xcb_window_t window) {
        overlays_.insert(window);
        ++overlaysGeneration_;  // lists built before show it as someone else's window
    }
    void unregisterOverlay(xcb_window_t window) {
        overlays_.erase(window);
        ++overlaysGeneration_;
    }
    std::uint64_t overlaysGeneration() const { return overlaysGeneration_; }
    // Every event the server sent, whoever it was for (Qt's own windows included).
    void eventArrived() { ++eventsSeen_; }
    std::uint64_t eventsSeen() const { return eventsSeen_; }
    bool isOverlay(xcb_window_t window) const { return overlays_.count(window) != 0; }

    // Pipelined property read: send now, collect later. Collecting swallows X errors (the
    // window may be gone) and yields null.
    xcb_get_property_cookie_t requestProperty(xcb_window_t window, xcb_atom_t property,
                                              xcb_atom_t type, std::uint32_t maxItems);
    Reply<xcb_get_property_reply_t> collect(xcb_get_property_cookie_t cookie);

    // One-shot reads (one round trip each).
    std::optional<xcb_window_t> activeWindow();
    std::vector<xcb_window_t> clientList();
    // Bottom to top.
    std::vector<xcb_window_t> clientListStacking();
    std::optional<std::uint32_t> currentDesktop();
    std::optional<WindowState> windowState(xcb_window_t window);

    // Owner process of each window (XRes first, _NET_WM_PID as the fallback), one round trip for
    // all windows not cached yet.
    void resolvePids(const std::vector<xcb_window_t>& windows);
    std::optional<std::int32_t> pidOf(xcb_window_t window);
    std::optional<std::int32_t> cachedPid(xcb_window_t window) const;
    std::optional<std::string> wmClassOf(xcb_window_t window);
    // The window is gone (DestroyNotify) or left every list: its cached facts go too.
    void forget(xcb_window_t window);
    // Its WM_CLASS changed: read it again when next asked.
    void forgetClass(xcb_window_t window) { classes_.erase(window); }
    // Whether this connection created the window (then the toolkit owns its event mask).
    bool ownsWindow(xcb_window_t window) const {
        return idMask_ != 0 && (window & ~idMask_) == idBase_;
    }
    // Keeps the cached facts of these windows only.
    void retainOnly(const std::unordered_set<xcb_window_t>& alive);

    // Swallows the error of a request that has no reply (e.g. selecting events on a window that
    // may have vanished), so it does not reach anyone's event queue.
    void discard(xcb_void_cookie_t checkedCookie);

    std::int32_t ownPid() const { return ownPid_; }

    // The monitors in root pixels, read once and kept until invalidateMonitors(), which the
    // displays service calls whenever the toolkit reports a screen change.
    const std::vector<Monitor>& monitors();
    void invalidateMonitors() { monitors_.reset(); }

private:
    // A window list the window manager publishes on the root, one round trip.
    std::vector<xcb_window_t> rootWindowList(xcb_atom_t property);

    xcb_connection_t* c_;
    xcb_window_t root_;
    Atoms atoms_;
    X11Stats stats_;
    bool xresPresent_ = false;
    bool broken_ = false;
    std::uint64_t overlaysGeneration_ = 0;
    std::uint64_t eventsSeen_ = 0;
    std::int32_t ownPid_ = 0;
    std::uint32_t idBase_ = 0;
    std::uint32_t idMask_ = 0;
    std::function<void(int)> lostHandler_;
    std::unordered_set<xcb_window_t> overlays_;
    std::unordered_map<xcb_window_t, std::optional<std::int32_t>> pids_;
    std::unordered_map<xcb_window_t, std::optional<std::string>> classes_;
    std::optional<std::vector<Monitor>> monitors_;
};

}  // namespace sombrix::x11

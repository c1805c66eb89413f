// Reads the stacking, monitors and focus straight from the X server and judges the overlays
// against the arrangement rules, independently of the engine's own code.
#include "arrangement_invariants.h"

#include <xcb/shape.h>

#include <xcb/randr.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sstream>
#include <thread>
#include <unordered_map>

#include "xquery.h"

namespace sombrix::test {

namespace {

using Clock = std::chrono::steady_clock;

struct Atoms {
    explicit Atoms(xcb_connection_t* c) : c(c) {
        for (const char* t : {"NORMAL", "DIALOG", "UTILITY", "SPLASH"})
            normalTypes.push_back(atom(c, std::string("_NET_WM_WINDOW_TYPE_") + t));
        for (const char* t : {"DESKTOP", "DOCK", "TOOLBAR", "MENU", "DROPDOWN_MENU", "POPUP_MENU",
                              "TOOLTIP", "NOTIFICATION", "COMBO", "DND"})
            otherTypes.push_back(atom(c, std::string("_NET_WM_WINDOW_TYPE_") + t));
    }
    xcb_connection_t* c;
    const xcb_atom_t clientList = atom(c, "_NET_CLIENT_LIST"),
                     active = atom(c, "_NET_ACTIVE_WINDOW"), state = atom(c, "_NET_WM_STATE"),
                     hidden = atom(c, "_NET_WM_STATE_HIDDEN"),
                     above = atom(c, "_NET_WM_STATE_ABOVE"), below = atom(c, "_NET_WM_STATE_BELOW"),
                     fullScreen = atom(c, "_NET_WM_STATE_FULLSCREEN"),
                     type = atom(c, "_NET_WM_WINDOW_TYPE"), overlay = atom(c, "_SOMBRIX_OVERLAY"),
                     name = atom(c, "_NET_WM_NAME"), utf8 = atom(c, "UTF8_STRING");
    std::vector<xcb_atom_t> normalTypes;  // types whose windows are of the normal layer
    std::vector<xcb_atom_t> otherTypes;   // known types of every other layer
};

bool contains(const std::vector<std::uint32_t>& list, std::uint32_t value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

bool centreIn(const InvariantRect& w, const InvariantRect& f) {
    const double x = w.x + w.width / 2.0, y = w.y + w.height / 2.0;
    return f.x <= x && x < f.x + f.width && f.y <= y && y < f.y + f.height;
}

std::string hex(xcb_window_t w) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", w);
    return buf;
}

std::string label(const StackedWindow& w) {
    if (w.overlay)
        return "overlay " + hex(w.client);
    return "window " + hex(w.client) + " '" + w.title + "'";
}

std::string text(const InvariantRect& r) {
    return std::to_string(r.x) + "," + std::to_string(r.y) + " " + std::to_string(r.width) + "x" +
           std::to_string(r.height);
}

std::string label(const MonitorInfo& m) {
    return "monitor " + m.name + " (" + text(m.frame) + ")";
}

}  // namespace

std::string ArrangementState::describe() const {
    std::ostringstream out;
    out << "active " << (active ? hex(*active) : std::string("none")) << "\n";
    for (const MonitorInfo& m : monitors)
        out << "  " << label(m) << "\n";
    for (const StackedWindow& w : stack) {
        out << "  " << label(w) << " frame " << hex(w.frame) << (w.mapped ? " mapped" : "")
            << (w.normalOnScreen ? " normal" : "") << (w.fullScreen ? " fullscreen" : "") << " "
            << text(w.bounds) << "\n";
    }
    return out.str();
}

std::optional<ArrangementState> readArrangement(xcb_connection_t* c) {
    if (!c || xcb_connection_has_error(c))
        return std::nullopt;
    // Interned afresh: a cache keyed by the connection would hand a later session, whose new
    // connection may reuse the address, the atoms of another server.
    const Atoms a(c);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t root = screen->root;

    ArrangementState state;
    auto tree = awaitReply(c, xcb_query_tree_reply, xcb_query_tree(c, root));
    auto monitorsReply =
        awaitReply(c, xcb_randr_get_monitors_reply, xcb_randr_get_monitors(c, root, 1));
    if (!tree)
        return std::nullopt;
    // The first item: xfwm4 publishes the active window followed by a second value.
    const auto active = list32(c, root, a.active, XCB_ATOM_WINDOW, 1);
    if (!active.empty() && active.front() != XCB_NONE)
        state.active = active.front();

    if (monitorsReply) {
        for (auto it = xcb_randr_get_monitors_monitors_iterator(monitorsReply.get()); it.rem;
             xcb_randr_monitor_info_next(&it)) {
            MonitorInfo m;
            auto nameReply =
                awaitReply(c, xcb_get_atom_name_reply, xcb_get_atom_name(c, it.data->name));
            if (nameReply)
                m.name.assign(
                    xcb_get_atom_name_name(nameReply.get()),
                    static_cast<std::size_t>(xcb_get_atom_name_name_length(nameReply.get())));
            m.frame = {it.data->x, it.data->y, it.data->width, it.data->height};
            state.monitors.push_back(std::move(m));
        }
    }

    std::unordered_map<xcb_window_t, xcb_window_t> clientOfFrame;
    for (xcb_window_t client : list32(c, root, a.clientList, XCB_ATOM_WINDOW))
        if (const auto top = topLevelOf(c, client))
            clientOfFrame[*top] = client;

    const int children = xcb_query_tree_children_length(tree.get());
    const xcb_window_t* child = xcb_query_tree_children(tree.get());
    for (int i = children - 1; i >= 0; --i) {
        const xcb_window_t frame = child[i];
        StackedWindow w;
        w.frame = frame;
        auto frameGeometry = awaitReply(c, xcb_get_geometry_reply, xcb_get_geometry(c, frame));
        auto frameAttributes =
            awaitReply(c, xcb_get_window_attributes_reply, xcb_get_window_attributes(c, frame));
        if (!frameGeometry || !frameAttributes)
            continue;  // gone while we read
        const int border = 2 * frameGeometry->border_width;
        w.bounds = {frameGeometry->x, frameGeometry->y, frameGeometry->width + border,
                    frameGeometry->height + border};
        const bool onRoot = w.bounds.x < screen->width_in_pixels &&
                            w.bounds.y < screen->height_in_pixels &&
                            w.bounds.x + w.bounds.width > 0 && w.bounds.y + w.bounds.height > 0;
        auto client = clientOfFrame.find(frame);
        if (client == clientOfFrame.end()) {
            if (list32(c, frame, a.overlay, XCB_ATOM_ANY, 1).empty())
                continue;  // window-manager furniture, menus, the compositor's windows
            w.client = frame;
            w.overlay = true;
            w.mapped = frameAttributes->map_state == XCB_MAP_STATE_VIEWABLE;
            if (auto extents =
                    awaitReply(c, xcb_shape_query_extents_reply, xcb_shape_query_extents(c, frame));
                extents && extents->bounding_shaped) {
                auto rects = awaitReply(c, xcb_shape_get_rectangles_reply,
                                        xcb_shape_get_rectangles(c, frame, XCB_SHAPE_SK_BOUNDING));
                const int n = rects ? xcb_shape_get_rectangles_rectangles_length(rects.get()) : 0;
                const xcb_rectangle_t* r =
                    rects ? xcb_shape_get_rectangles_rectangles(rects.get()) : nullptr;
                for (int k = 0; k < n; ++k)
                    w.shape.push_back(
                        {w.bounds.x + r[k].x, w.bounds.y + r[k].y, r[k].width, r[k].height});
                if (n == 0)
                    w.shape.push_back({});  // shaped to nothing at all
            }
            w.normalOnScreen = w.mapped && onRoot;
            state.stack.push_back(std::move(w));
            continue;
        }
        w.client = client->second;
        auto attributes =
            awaitReply(c, xcb_get_window_attributes_reply, xcb_get_window_attributes(c, w.client));
        auto title = awaitReply(c, xcb_get_property_reply,
                                xcb_get_property(c, 0, w.client, a.name, a.utf8, 0, 64));
        if (!attributes)
            continue;
        if (title && title->format == 8)
            w.title.assign(static_cast<const char*>(xcb_get_property_value(title.get())),
                           static_cast<std::size_t>(xcb_get_property_value_length(title.get())));
        const auto s = list32(c, w.client, a.state, XCB_ATOM_ATOM);
        w.mapped = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        w.fullScreen = contains(s, a.fullScreen);
        bool normalType = true;
        for (std::uint32_t t : list32(c, w.client, a.type, XCB_ATOM_ATOM)) {
            if (contains(a.normalTypes, t))
                break;
            if (contains(a.otherTypes, t)) {
                normalType = false;
                break;
            }
        }
        // Full screen outranks keep-above (some managers add one to the other).
        w.normalOnScreen = w.mapped && onRoot && normalType && !contains(s, a.hidden) &&
                           (w.fullScreen || (!contains(s, a.above) && !contains(s, a.below))) &&
                           !attributes->override_redirect;
        state.stack.push_back(std::move(w));
    }
    return state;
}

std::vector<std::string> violations(const ArrangementState& state) {
    std::vector<std::string> found;
    std::vector<const StackedWindow*> normal;  // the engine's snapshot, front to back
    std::vector<const StackedWindow*> overlays;
    for (const StackedWindow& w : state.stack) {
        if (w.normalOnScreen)
            normal.push_back(&w);
        if (w.overlay)
            overlays.push_back(&w);
    }

    // Which overlay serves which monitor: the one covering exactly its frame. Old overlays of a
    // rebuilt set may linger unmapped; a mapped one that serves no monitor lies over the user's
    // work for nothing.
    std::vector<const StackedWindow*> overlayOf(state.monitors.size(), nullptr);
    for (std::size_t i = 0; i < state.monitors.size(); ++i) {
        int mappedCount = 0;
        for (const StackedWindow* o : overlays) {
            if (o->bounds != state.monitors[i].frame)
                continue;
            if (o->mapped) {
                ++mappedCount;
                overlayOf[i] = o;
            } else if (!overlayOf[i]) {
                overlayOf[i] = o;
            }
        }
        if (mappedCount > 1)
            found.push_back(label(state.monitors[i]) + ": " + std::to_string(mappedCount) +
                            " overlays are mapped over it");
    }
    for (const StackedWindow* o : overlays) {
        const bool serves = std::any_of(state.monitors.begin(), state.monitors.end(),
                                        [&](const MonitorInfo& m) { return m.frame == o->bounds; });
        if (o->mapped && !serves)
            found.push_back(label(*o) + " is mapped but covers no monitor (" + text(o->bounds) +
                            ")");
    }

    auto requireMapped = [&](std::size_t i) -> const StackedWindow* {
        const StackedWindow* o = overlayOf[i];
        if (!o || !o->mapped) {
            found.push_back(label(state.monitors[i]) + ": no overlay is shown, nothing is dimmed");
            return nullptr;
        }
        return o;
    };

    if (!state.active) {
        // Nobody has focus: every overlay must be in front of every normal window.
        for (std::size_t i = 0; i < state.monitors.size(); ++i)
            requireMapped(i);
        bool seenWindow = false;
        for (const StackedWindow* w : normal) {
            if (!w->overlay) {
                seenWindow = true;
            } else if (seenWindow) {
                found.push_back("no window has focus, yet " + label(*w) +
                                " lies beneath a normal window");
            }
        }
        return found;
    }

    for (std::size_t i = 0; i < state.monitors.size(); ++i) {
        const InvariantRect& f = state.monitors[i].frame;
        std::vector<const StackedWindow*> candidates;
        for (const StackedWindow* w : normal) {
            if (!w->overlay && centreIn(w->bounds, f) && w->bounds.width > 40 &&
                w->bounds.height > 40)
                candidates.push_back(w);
        }
        if (candidates.empty()) {
            const StackedWindow* o = requireMapped(i);
            if (!o)
                continue;
            for (const StackedWindow* w : normal) {
                if (w == o)
                    break;
                if (centreIn(w->bounds, f)) {
                    found.push_back(label(state.monitors[i]) + ": nothing stays bright, yet " +
                                    label(*w) + " lies above its overlay");
                    break;
                }
            }
            continue;
        }
        const StackedWindow* bright = candidates.front();
        for (const StackedWindow* w : candidates) {
            if (w->client == *state.active) {
                bright = w;
                break;
            }
        }
        const InvariantRect& t = bright->bounds;
        // A client may write the state itself; only a frame that covers the monitor counts.
        const bool fullScreen = bright->client == *state.active && bright->fullScreen &&
                                t.x <= f.x && t.y <= f.y && t.x + t.width >= f.x + f.width &&
                                t.y + t.height >= f.y + f.height;
        const bool fills =
            t.x <= f.x + 1 && t.x + t.width >= f.x + f.width - 1 && t.height >= f.height - 40;
        if (fullScreen || fills) {
            if (overlayOf[i] && overlayOf[i]->mapped)
                found.push_back(label(state.monitors[i]) + ": " + label(*bright) +
                                (fullScreen ? " is full-screen" : " fills it") +
                                ", yet its overlay is shown");
            continue;
        }
        const StackedWindow* o = requireMapped(i);
        if (!o)
            continue;
        // Among this monitor's candidates and its overlay, the overlay must follow the bright
        // window at once; small windows and other monitors' windows may lie in between.
        std::vector<const StackedWindow*> relevant;
        for (const StackedWindow* w : normal)
            if (w == o || std::find(candidates.begin(), candidates.end(), w) != candidates.end())
                relevant.push_back(w);
        auto at = std::find(relevant.begin(), relevant.end(), bright);
        // Or the overlay lies above it with a hole over it (windows of other programs above it
        // that do not touch it, a manager that keeps the overlay on top).
        const InvariantRect& b = bright->bounds;
        const int cx = b.x + b.width / 2, cy = b.y + b.height / 2;
        const bool holeOverBright =
            !o->shape.empty() && std::find(relevant.begin(), relevant.end(), o) < at &&
            std::none_of(o->shape.begin(), o->shape.end(), [&](const InvariantRect& r) {
                return r.x <= cx && cx < r.x + r.width && r.y <= cy && cy < r.y + r.height;
            });
        if (!holeOverBright && (at + 1 == relevant.end() || *(at + 1) != o)) {
            std::string where = "nothing";
            if (at + 1 != relevant.end())
                where = label(**(at + 1));
            found.push_back(label(state.monitors[i]) +
                            ": its overlay should lie directly beneath " + label(*bright) +
                            ", but beneath that lies " + where);
        }
    }
    return found;
}

std::optional<ArrangementState> waitUntilSettled(xcb_connection_t* c,
                                                 const SettleOptions& options) {
    const auto deadline = Clock::now() + options.timeout;
    std::optional<ArrangementState> last = readArrangement(c);
    auto since = Clock::now();
    while (last) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        auto next = readArrangement(c);
        if (!next)
            return last;
        if (*next != *last) {
            last = std::move(next);
            since = Clock::now();
        } else if (Clock::now() - since >= options.quiet) {
            return last;
        }
        if (Clock::now() >= deadline)
            return last;
    }
    return last;
}

std::vector<std::string> settledViolations(xcb_connection_t* c, const SettleOptions& options,
                                           ArrangementState* settledState) {
    std::optional<Clock::time_point> firstFault;
    while (true) {
        auto state = waitUntilSettled(c, options);
        if (!state)
            return {"the X server could not be read"};
        auto faults = violations(*state);
        if (settledState)
            *settledState = *state;
        if (faults.empty())
            return {};
        if (!firstFault)
            firstFault = Clock::now();
        if (Clock::now() - *firstFault >= options.persist)
            return faults;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

}  // namespace sombrix::test

// Reads the stacking, monitors and focus straight from the X server and judges the overlays
// against the arrangement rules, independently of the engine's own code.
#include "arrangement_invariants.h"

#include <xcb/shape.h>

#include <xcb/randr.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <thread>
#include <unordered_map>

#include "xquery.h"

namespace sombrix::test {

namespace {

using Clock = std::chrono::steady_clock;

bool contains(const std::vector<std::uint32_t>& list, std::uint32_t value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

bool holds(const InvariantRect& r, double x, double y) {
    return r.x <= x && x < r.x + r.width && r.y <= y && y < r.y + r.height;
}

bool centreIn(const InvariantRect& w, const InvariantRect& f) {
    return holds(f, w.x + w.width / 2.0, w.y + w.height / 2.0);
}

std::string text(const InvariantRect& r) {
    return std::to_string(r.x) + "," + std::to_string(r.y) + " " + std::to_string(r.width) + "x" +
           std::to_string(r.height);
}

std::string label(const StackedWindow& w) {
    char id[16];
    std::snprintf(id, sizeof id, "0x%x", w.client);
    return w.overlay ? std::string("overlay ") + id
                     : std::string("window ") + id + " '" + w.title + "'";
}

std::string label(const InvariantRect& monitor) {
    return "monitor " + text(monitor);
}

// Interned once per read: a cache kept across reads would hand a later session, whose new
// connection may reuse the address, the atoms of another server.
struct Atoms {
    xcb_connection_t* c;
    std::unordered_map<std::string, xcb_atom_t> known{};
    xcb_atom_t operator()(const std::string& name) {
        const auto [it, fresh] = known.try_emplace(name);
        return fresh ? it->second = atom(c, name) : it->second;
    }
};

// Of the normal layer: the first of a window's types that is known decides.
bool ofNormalLayer(Atoms& a, const std::vector<std::uint32_t>& types) {
    static const char* const known[] = {
        "NORMAL", "DIALOG",        "UTILITY",    "SPLASH",  "DESKTOP",      "DOCK",  "TOOLBAR",
        "MENU",   "DROPDOWN_MENU", "POPUP_MENU", "TOOLTIP", "NOTIFICATION", "COMBO", "DND"};
    for (std::uint32_t t : types)
        for (std::size_t k = 0; k < std::size(known); ++k)
            if (t == a(std::string("_NET_WM_WINDOW_TYPE_") + known[k]))
                return k < 4;  // the first four are of the normal layer
    return true;
}

}  // namespace

std::string ArrangementState::describe() const {
    std::ostringstream out;
    out << "active " << (active ? label(StackedWindow{.client = *active}) : "none") << "\n";
    for (const InvariantRect& m : monitors)
        out << "  " << label(m) << "\n";
    for (const StackedWindow& w : stack)
        out << "  " << label(w) << (w.mapped ? " mapped" : "")
            << (w.normalOnScreen ? " normal" : "") << (w.fullScreen ? " fullscreen" : "") << " "
            << text(w.bounds) << "\n";
    return out.str();
}

std::optional<ArrangementState> readArrangement(xcb_connection_t* c) {
    if (!c || xcb_connection_has_error(c))
        return std::nullopt;
    Atoms a{c};
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t root = screen->root;
    auto tree = awaitReply(c, xcb_query_tree_reply, xcb_query_tree(c, root));
    if (!tree)
        return std::nullopt;
    ArrangementState state;
    // The first item: xfwm4 publishes the active window followed by a second value.
    const auto active = list32(c, root, a("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 1);
    // The window manager may leave it naming a window that has closed: then nothing has focus.
    if (!active.empty() && active.front() != XCB_NONE &&
        awaitReply(c, xcb_get_window_attributes_reply,
                   xcb_get_window_attributes(c, active.front())))
        state.active = active.front();
    if (auto monitors =
            awaitReply(c, xcb_randr_get_monitors_reply, xcb_randr_get_monitors(c, root, 1))) {
        for (auto it = xcb_randr_get_monitors_monitors_iterator(monitors.get()); it.rem;
             xcb_randr_monitor_info_next(&it))
            state.monitors.push_back({it.data->x, it.data->y, it.data->width, it.data->height});
    }

    std::unordered_map<xcb_window_t, xcb_window_t> clientOfFrame;
    for (xcb_window_t client : list32(c, root, a("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW))
        if (const auto top = topLevelOf(c, client))
            clientOfFrame[*top] = client;

    const xcb_window_t* child = xcb_query_tree_children(tree.get());
    for (int i = xcb_query_tree_children_length(tree.get()) - 1; i >= 0; --i) {
        const xcb_window_t frame = child[i];
        StackedWindow w;
        auto geometry = awaitReply(c, xcb_get_geometry_reply, xcb_get_geometry(c, frame));
        if (!geometry)
            continue;  // gone while we read
        const int border = 2 * geometry->border_width;
        w.bounds = {geometry->x, geometry->y, geometry->width + border, geometry->height + border};
        const bool onRoot = w.bounds.x < screen->width_in_pixels &&
                            w.bounds.y < screen->height_in_pixels &&
                            w.bounds.x + w.bounds.width > 0 && w.bounds.y + w.bounds.height > 0;
        const auto client = clientOfFrame.find(frame);
        w.overlay = client == clientOfFrame.end();
        w.client = w.overlay ? frame : client->second;
        auto attributes =
            awaitReply(c, xcb_get_window_attributes_reply, xcb_get_window_attributes(c, w.client));
        if (!attributes)
            continue;
        w.mapped = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        if (w.overlay && list32(c, frame, a("_SOMBRIX_OVERLAY"), XCB_ATOM_ANY, 1).empty()) {
            // A drawn override-redirect window (a manager's own panel, a menu) stays bright like
            // a panel; other furniture and the compositor's windows are no windows.
            w.overlay = false;
            if (w.mapped && onRoot && attributes->override_redirect &&
                attributes->_class != XCB_WINDOW_CLASS_INPUT_ONLY)
                state.stack.push_back(std::move(w));
            continue;
        }
        if (w.overlay) {
            auto extents =
                awaitReply(c, xcb_shape_query_extents_reply, xcb_shape_query_extents(c, frame));
            auto rects = extents && extents->bounding_shaped
                             ? awaitReply(c, xcb_shape_get_rectangles_reply,
                                          xcb_shape_get_rectangles(c, frame, XCB_SHAPE_SK_BOUNDING))
                             : nullptr;
            const int n = rects ? xcb_shape_get_rectangles_rectangles_length(rects.get()) : 0;
            const auto* r = rects ? xcb_shape_get_rectangles_rectangles(rects.get()) : nullptr;
            for (int k = 0; k < n; ++k)
                w.shape.push_back(
                    {w.bounds.x + r[k].x, w.bounds.y + r[k].y, r[k].width, r[k].height});
            if (rects && n == 0)
                w.shape.push_back({});  // shaped to nothing at all
            w.normalOnScreen = w.mapped && onRoot;
            state.stack.push_back(std::move(w));
            continue;
        }
        // What the manager draws: the client grown by its decorations, within the frame window
        // (mutter's is larger by an invisible resize border).
        const auto e = list32(c, w.client, a("_NET_FRAME_EXTENTS"), XCB_ATOM_CARDINAL, 4);
        auto at = awaitReply(c, xcb_translate_coordinates_reply,
                             xcb_translate_coordinates(c, w.client, root, 0, 0));
        auto in = awaitReply(c, xcb_get_geometry_reply, xcb_get_geometry(c, w.client));
        const InvariantRect& r = w.bounds;
        if (e.size() == 4 && at && in && w.client != frame) {
            const int x0 = std::max(r.x, at->dst_x - int(e[0])),
                      y0 = std::max(r.y, at->dst_y - int(e[2]));
            const int x1 = std::min(r.x + r.width, at->dst_x + in->width + int(e[1]));
            const int y1 = std::min(r.y + r.height, at->dst_y + in->height + int(e[3]));
            if (x1 > x0 && y1 > y0)
                w.bounds = {x0, y0, x1 - x0, y1 - y0};
        }
        auto title = awaitReply(
            c, xcb_get_property_reply,
            xcb_get_property(c, 0, w.client, a("_NET_WM_NAME"), a("UTF8_STRING"), 0, 64));
        if (title && title->format == 8)
            w.title.assign(static_cast<const char*>(xcb_get_property_value(title.get())),
                           static_cast<std::size_t>(xcb_get_property_value_length(title.get())));
        const auto s = list32(c, w.client, a("_NET_WM_STATE"), XCB_ATOM_ATOM);
        w.fullScreen = contains(s, a("_NET_WM_STATE_FULLSCREEN"));
        // Full screen outranks keep-above (some managers add one to the other).
        w.normalOnScreen =
            w.mapped && onRoot && !attributes->override_redirect &&
            ofNormalLayer(a, list32(c, w.client, a("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM)) &&
            !contains(s, a("_NET_WM_STATE_HIDDEN")) &&
            (w.fullScreen ||
             (!contains(s, a("_NET_WM_STATE_ABOVE")) && !contains(s, a("_NET_WM_STATE_BELOW"))));
        state.stack.push_back(std::move(w));
    }
    return state;
}

std::vector<std::string> violations(const ArrangementState& state) {
    std::vector<std::string> found;
    std::vector<const StackedWindow*> normal;  // the engine's snapshot, front to back
    for (const StackedWindow& w : state.stack)
        if (w.normalOnScreen)
            normal.push_back(&w);

    // Which overlay serves which monitor: the one covering exactly its frame. Old overlays of a
    // rebuilt set may linger unmapped; a mapped one that serves no monitor lies over the user's
    // work for nothing.
    std::vector<const StackedWindow*> overlayOf(state.monitors.size(), nullptr);
    for (const StackedWindow& o : state.stack) {
        bool serves = false;
        for (std::size_t i = 0; o.overlay && i < state.monitors.size(); ++i) {
            const StackedWindow*& slot = overlayOf[i];
            if (o.bounds != state.monitors[i])
                continue;
            serves = true;
            if (o.mapped && slot && slot->mapped)
                found.push_back(label(state.monitors[i]) + ": more than one overlay is mapped");
            if (!slot || (o.mapped && !slot->mapped))
                slot = &o;
        }
        if (o.overlay && o.mapped && !serves)
            found.push_back(label(o) + " is mapped but covers no monitor " + text(o.bounds));
    }

    auto requireMapped = [&](std::size_t i) -> const StackedWindow* {
        if (overlayOf[i] && overlayOf[i]->mapped)
            return overlayOf[i];
        found.push_back(label(state.monitors[i]) + ": no overlay is shown, nothing is dimmed");
        return nullptr;
    };

    if (!state.active) {
        // Nobody has focus: every overlay must be in front of every normal window.
        for (std::size_t i = 0; i < state.monitors.size(); ++i)
            requireMapped(i);
        auto w = std::find_if(normal.begin(), normal.end(), [](auto w) { return !w->overlay; });
        for (; w != normal.end(); ++w)
            if ((*w)->overlay)
                found.push_back("no window has focus, yet " + label(**w) +
                                " lies beneath a normal window");
        return found;
    }

    for (std::size_t i = 0; i < state.monitors.size(); ++i) {
        const InvariantRect& f = state.monitors[i];
        std::vector<const StackedWindow*> candidates;
        std::copy_if(normal.begin(), normal.end(), std::back_inserter(candidates), [&](auto w) {
            return !w->overlay && centreIn(w->bounds, f) && w->bounds.width > 40 &&
                   w->bounds.height > 40;
        });
        if (candidates.empty()) {
            const StackedWindow* o = requireMapped(i);
            if (!o)
                continue;
            const auto end = std::find(normal.begin(), normal.end(), o);
            const auto w =
                std::find_if(normal.begin(), end, [&](auto w) { return centreIn(w->bounds, f); });
            if (w != end)
                found.push_back(label(state.monitors[i]) + ": nothing stays bright, yet " +
                                label(**w) + " lies above its overlay");
            continue;
        }
        const auto focused = std::find_if(candidates.begin(), candidates.end(),
                                          [&](auto w) { return w->client == *state.active; });
        const StackedWindow* bright = focused != candidates.end() ? *focused : candidates.front();
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
        const int cx = t.x + t.width / 2, cy = t.y + t.height / 2;
        // The hole spans the whole window, up to 4 px inside each edge.
        const InvariantRect in{t.x + 4, t.y + 4, t.width - 8, t.height - 8};
        const bool holeOverBright =
            !o->shape.empty() && std::find(relevant.begin(), relevant.end(), o) < at &&
            std::none_of(o->shape.begin(), o->shape.end(), [&](const InvariantRect& r) {
                return r.x < in.x + in.width && in.x < r.x + r.width && r.y < in.y + in.height &&
                       in.y < r.y + r.height;
            });
        // Holes lie only over what stays bright: the bright window, the windows above it, and
        // windows of other layers (panels, menus); also just outside the bright window's edges.
        std::vector<std::pair<int, int>> points{
            {t.x - 5, cy}, {t.x + t.width + 4, cy}, {cx, t.y - 5}, {cx, t.y + t.height + 4}};
        for (int y = f.y + 5; y < f.y + f.height; y += 40)
            for (int x = f.x + 5; x < f.x + f.width; x += 40)
                points.emplace_back(x, y);
        std::string bare;  // the first point sampled that the overlay leaves undimmed for nothing
        for (const auto& p : points) {
            const auto covers = [&](const auto& r) { return holds(r, p.first, p.second); };
            if (holeOverBright && bare.empty() && covers(f) &&
                std::none_of(o->shape.begin(), o->shape.end(), covers) &&
                std::none_of(state.stack.begin(), state.stack.end(), [&](const auto& w) {
                    return !w.overlay && w.mapped && (&w <= bright || !w.normalOnScreen) &&
                           covers(w.bounds);
                }))
                bare = std::to_string(p.first) + "," + std::to_string(p.second);
        }
        if (!bare.empty())
            found.push_back(label(state.monitors[i]) + ": its overlay leaves " + bare +
                            " undimmed, yet no bright window lies there");
        if (!holeOverBright && (at + 1 == relevant.end() || *(at + 1) != o))
            found.push_back(label(state.monitors[i]) +
                            ": its overlay should lie directly beneath " + label(*bright) +
                            ", but beneath that lies " +
                            (at + 1 != relevant.end() ? label(**(at + 1)) : "nothing"));
    }
    return found;
}

std::vector<std::string> settledViolations(xcb_connection_t* c, ArrangementState* settledState) {
    using namespace std::chrono_literals;
    std::optional<Clock::time_point> firstFault;
    while (true) {
        // Settled: nothing changed for 300 ms between reads (or 10 s passed: the last is judged).
        const auto deadline = Clock::now() + 10s;
        auto state = readArrangement(c);
        for (auto since = Clock::now();
             state && Clock::now() - since < 300ms && Clock::now() < deadline;) {
            std::this_thread::sleep_for(50ms);
            auto next = readArrangement(c);
            if (!next)
                break;
            if (*next != *state) {
                state = std::move(next);
                since = Clock::now();
            }
        }
        if (!state)
            return {"the X server could not be read"};
        if (settledState)
            *settledState = *state;
        auto faults = violations(*state);
        // A fault counts once it has lasted 3 s: a focus hand-over may take up to 2 s, and the
        // engine corrects anything else within a reconcile cycle.
        if (faults.empty() || Clock::now() - firstFault.value_or(Clock::now()) >= 3s)
            return faults;
        firstFault = firstFault.value_or(Clock::now());
        std::this_thread::sleep_for(100ms);
    }
}

}  // namespace sombrix::test

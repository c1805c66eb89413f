// Reads the stacking, monitors and focus straight from the X server and judges the overlays
// against the arrangement rules, independently of the engine's own code.
#include "arrangement_invariants.h"

#include <xcb/randr.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <thread>
#include <unordered_map>

namespace sombrix::test {

namespace {

using Clock = std::chrono::steady_clock;

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> own(T* p) {
    return Reply<T>(p, &std::free);
}

xcb_atom_t intern(xcb_connection_t* c, const char* name) {
    auto reply = own(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

struct Atoms {
    xcb_atom_t clientList, active, state, hidden, above, below, fullScreen, type, overlay, name,
        utf8;
    std::vector<xcb_atom_t> normalTypes;  // types whose windows are of the normal layer
    std::vector<xcb_atom_t> otherTypes;   // known types of every other layer

    explicit Atoms(xcb_connection_t* c)
        : clientList(intern(c, "_NET_CLIENT_LIST")),
          active(intern(c, "_NET_ACTIVE_WINDOW")),
          state(intern(c, "_NET_WM_STATE")),
          hidden(intern(c, "_NET_WM_STATE_HIDDEN")),
          above(intern(c, "_NET_WM_STATE_ABOVE")),
          below(intern(c, "_NET_WM_STATE_BELOW")),
          fullScreen(intern(c, "_NET_WM_STATE_FULLSCREEN")),
          type(intern(c, "_NET_WM_WINDOW_TYPE")),
          overlay(intern(c, "_SOMBRIX_OVERLAY")),
          name(intern(c, "_NET_WM_NAME")),
          utf8(intern(c, "UTF8_STRING")) {
        for (const char* t : {"NORMAL", "DIALOG", "UTILITY", "SPLASH"})
            normalTypes.push_back(intern(c, (std::string("_NET_WM_WINDOW_TYPE_") + t).c_str()));
        for (const char* t : {"DESKTOP", "DOCK", "TOOLBAR", "MENU", "DROPDOWN_MENU", "POPUP_MENU",
                              "TOOLTIP", "NOTIFICATION", "COMBO", "DND"})
            otherTypes.push_back(intern(c, (std::string("_NET_WM_WINDOW_TYPE_") + t).c_str()));
    }
};

std::vector<std::uint32_t> cardinals(xcb_get_property_reply_t* reply) {
    if (!reply || reply->format != 32)
        return {};
    auto* data = static_cast<std::uint32_t*>(xcb_get_property_value(reply));
    return {data, data + xcb_get_property_value_length(reply) / 4};
}

bool contains(const std::vector<std::uint32_t>& list, std::uint32_t value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

// The root child holding `w`, or 0 when `w` is gone.
xcb_window_t topLevelOf(xcb_connection_t* c, xcb_window_t root, xcb_window_t w) {
    for (int depth = 0; depth < 16; ++depth) {
        auto tree = own(xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr));
        if (!tree)
            return 0;
        if (tree->parent == root)
            return w;
        w = tree->parent;
    }
    return 0;
}

InvariantRect geometryOf(xcb_get_geometry_reply_t* g) {
    const int border = 2 * g->border_width;
    return {g->x, g->y, g->width + border, g->height + border};
}

double centreX(const InvariantRect& r) {
    return r.x + r.width / 2.0;
}
double centreY(const InvariantRect& r) {
    return r.y + r.height / 2.0;
}

bool centreIn(const InvariantRect& w, const InvariantRect& f) {
    const double x = centreX(w);
    const double y = centreY(w);
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

std::string label(const MonitorInfo& m) {
    std::ostringstream out;
    out << "monitor " << m.name << " (" << m.frame.x << "," << m.frame.y << " " << m.frame.width
        << "x" << m.frame.height << ")";
    return out.str();
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
            << w.bounds.x << "," << w.bounds.y << " " << w.bounds.width << "x" << w.bounds.height
            << "\n";
    }
    return out.str();
}

std::optional<ArrangementState> readArrangement(xcb_connection_t* c) {
    if (!c || xcb_connection_has_error(c))
        return std::nullopt;
    static thread_local std::unordered_map<xcb_connection_t*, std::unique_ptr<Atoms>> atomCache;
    auto& cached = atomCache[c];
    if (!cached)
        cached = std::make_unique<Atoms>(c);
    const Atoms& a = *cached;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t root = screen->root;

    ArrangementState state;
    auto tree = own(xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr));
    auto clientsReply = own(xcb_get_property_reply(
        c, xcb_get_property(c, 0, root, a.clientList, XCB_ATOM_WINDOW, 0, 4096), nullptr));
    auto activeReply = own(xcb_get_property_reply(
        c, xcb_get_property(c, 0, root, a.active, XCB_ATOM_WINDOW, 0, 1), nullptr));
    auto monitorsReply =
        own(xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, root, 1), nullptr));
    if (!tree)
        return std::nullopt;

    const auto active = cardinals(activeReply.get());
    if (!active.empty() && active[0] != XCB_NONE)
        state.active = active[0];

    if (monitorsReply) {
        for (auto it = xcb_randr_get_monitors_monitors_iterator(monitorsReply.get()); it.rem;
             xcb_randr_monitor_info_next(&it)) {
            MonitorInfo m;
            auto nameReply =
                own(xcb_get_atom_name_reply(c, xcb_get_atom_name(c, it.data->name), nullptr));
            if (nameReply)
                m.name.assign(
                    xcb_get_atom_name_name(nameReply.get()),
                    static_cast<std::size_t>(xcb_get_atom_name_name_length(nameReply.get())));
            m.frame = {it.data->x, it.data->y, it.data->width, it.data->height};
            state.monitors.push_back(std::move(m));
        }
    }

    std::unordered_map<xcb_window_t, xcb_window_t> clientOfFrame;
    for (xcb_window_t client : cardinals(clientsReply.get())) {
        if (xcb_window_t top = topLevelOf(c, root, client))
            clientOfFrame[top] = client;
    }

    const int children = xcb_query_tree_children_length(tree.get());
    const xcb_window_t* child = xcb_query_tree_children(tree.get());
    for (int i = children - 1; i >= 0; --i) {
        const xcb_window_t frame = child[i];
        StackedWindow w;
        w.frame = frame;
        auto frameGeometry = own(xcb_get_geometry_reply(c, xcb_get_geometry(c, frame), nullptr));
        auto frameAttributes =
            own(xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, frame), nullptr));
        if (!frameGeometry || !frameAttributes)
            continue;  // gone while we read
        w.bounds = geometryOf(frameGeometry.get());
        const bool onRoot = w.bounds.x < screen->width_in_pixels &&
                            w.bounds.y < screen->height_in_pixels &&
                            w.bounds.x + w.bounds.width > 0 && w.bounds.y + w.bounds.height > 0;
        auto client = clientOfFrame.find(frame);
        if (client == clientOfFrame.end()) {
            auto marker = own(xcb_get_property_reply(
                c, xcb_get_property(c, 0, frame, a.overlay, XCB_ATOM_ANY, 0, 1), nullptr));
            if (!marker || marker->type == XCB_ATOM_NONE)
                continue;  // window-manager furniture, menus, the compositor's windows
            w.client = frame;
            w.overlay = true;
            w.mapped = frameAttributes->map_state == XCB_MAP_STATE_VIEWABLE;
            w.normalOnScreen = w.mapped && onRoot;
            state.stack.push_back(std::move(w));
            continue;
        }
        w.client = client->second;
        auto attributes = own(
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w.client), nullptr));
        auto states = own(xcb_get_property_reply(
            c, xcb_get_property(c, 0, w.client, a.state, XCB_ATOM_ATOM, 0, 64), nullptr));
        auto types = own(xcb_get_property_reply(
            c, xcb_get_property(c, 0, w.client, a.type, XCB_ATOM_ATOM, 0, 64), nullptr));
        auto title = own(xcb_get_property_reply(
            c, xcb_get_property(c, 0, w.client, a.name, a.utf8, 0, 64), nullptr));
        if (!attributes)
            continue;
        if (title && title->format == 8)
            w.title.assign(static_cast<const char*>(xcb_get_property_value(title.get())),
                           static_cast<std::size_t>(xcb_get_property_value_length(title.get())));
        const auto s = cardinals(states.get());
        w.mapped = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        w.fullScreen = contains(s, a.fullScreen);
        bool normalType = true;
        for (std::uint32_t t : cardinals(types.get())) {
            if (contains(a.normalTypes, t))
                break;
            if (contains(a.otherTypes, t)) {
                normalType = false;
                break;
            }
        }
        w.normalOnScreen = w.mapped && onRoot && normalType && !contains(s, a.hidden) &&
                           !contains(s, a.above) && !contains(s, a.below) &&
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
            found.push_back(label(*o) + " is mapped but covers no monitor (" +
                            std::to_string(o->bounds.x) + "," + std::to_string(o->bounds.y) + " " +
                            std::to_string(o->bounds.width) + "x" +
                            std::to_string(o->bounds.height) + ")");
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
        const bool fullScreen = bright->client == *state.active && bright->fullScreen;
        const InvariantRect& t = bright->bounds;
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
        for (const StackedWindow* w : normal) {
            if (w == o || std::find(candidates.begin(), candidates.end(), w) != candidates.end())
                relevant.push_back(w);
        }
        auto at = std::find(relevant.begin(), relevant.end(), bright);
        if (at + 1 == relevant.end() || *(at + 1) != o) {
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

// One pass over the X server's stacking: requests for every known window go out together and
// the replies are collected afterwards, so an unchanged desktop costs a single round trip.
// Windows seen for the first time cost one or two more.
#include "platform/x11/x11_window_list.h"

#include <algorithm>
#include <cstdlib>

namespace sombrix::x11 {

namespace {

template <typename Cookie, typename Fn>
auto collectReply(xcb_connection_t* c, Fn fn, Cookie cookie) {
    xcb_generic_error_t* error = nullptr;
    auto reply = own(fn(c, cookie, &error));
    std::free(error);  // a window that vanished mid-pass is simply absent
    return reply;
}

int layerFor(std::optional<WindowType> type, const WindowState& state) {
    if (type) {
        switch (*type) {
            case WindowType::Normal:
            case WindowType::Dialog:
            case WindowType::Utility:
            case WindowType::Splash:
                break;
            case WindowType::Toolbar:
            case WindowType::Menu:
                return layer::kFloating;
            case WindowType::Dock:
                return layer::kDock;
            case WindowType::Desktop:
                return layer::kBelow;
            case WindowType::Notification:
                return layer::kNotification;
            case WindowType::DropdownMenu:
            case WindowType::PopupMenu:
            case WindowType::Tooltip:
            case WindowType::Combo:
                return layer::kPopup;
            case WindowType::Dnd:
                return layer::kDnd;
        }
    }
    // Full screen outranks keep-above: some managers also make a full-screen window keep-above,
    // and it is still the window the user works in.
    if (state.fullscreen) {
        return layer::kNormal;
    }
    if (state.above) {
        return layer::kFloating;
    }
    if (state.below) {
        return layer::kBelow;
    }
    return layer::kNormal;
}

}  // namespace

struct X11WindowList::Fetch {
    xcb_window_t id = 0;
    xcb_window_t topLevel = 0;
    xcb_get_window_attributes_cookie_t attrsCookie{};
    xcb_get_geometry_cookie_t geomCookie{};
    xcb_get_property_cookie_t stateCookie{};
    xcb_get_property_cookie_t typeCookie{};
    xcb_get_property_cookie_t extentsCookie{};
    bool wantsExtents = false;

    Reply<xcb_get_window_attributes_reply_t> attrs;
    Reply<xcb_get_geometry_reply_t> geom;
    Reply<xcb_get_property_reply_t> stateProp;
    Reply<xcb_get_property_reply_t> typeProp;
    Reply<xcb_get_property_reply_t> extentsProp;
};

struct X11WindowList::OtherFetch {
    xcb_window_t id = 0;
    xcb_get_window_attributes_cookie_t attrsCookie{};
    xcb_get_geometry_cookie_t geomCookie{};
    Reply<xcb_get_window_attributes_reply_t> attrs;
    Reply<xcb_get_geometry_reply_t> geom;
};

X11WindowList::X11WindowList(X11Context& context) : ctx_(context) {}

std::vector<X11WindowList::Fetch> X11WindowList::sendClientRequests(
    const std::vector<std::pair<xcb_window_t, xcb_window_t>>& windows) {
    xcb_connection_t* c = ctx_.connection();
    const Atoms& a = ctx_.atoms();
    std::vector<Fetch> out(windows.size());
    for (std::size_t i = 0; i < windows.size(); ++i) {
        Fetch& f = out[i];
        f.id = windows[i].first;
        f.topLevel = windows[i].second;
        f.attrsCookie = xcb_get_window_attributes(c, f.id);
        f.geomCookie = xcb_get_geometry(c, f.topLevel);
        f.stateCookie = ctx_.requestProperty(f.id, a.netWmState, XCB_ATOM_ATOM, 64);
        f.typeCookie = ctx_.requestProperty(f.id, a.netWmWindowType, XCB_ATOM_ATOM, 64);
        ctx_.stats().requests += 2;
        // A reparenting manager's frame already is the outer frame; only a window that is its
        // own top-level may have decorations drawn elsewhere.
        f.wantsExtents = f.topLevel == f.id;
        if (f.wantsExtents) {
            f.extentsCookie = ctx_.requestProperty(f.id, a.netFrameExtents, XCB_ATOM_CARDINAL, 4);
        }
    }
    return out;
}

void X11WindowList::collectClientReplies(std::vector<Fetch>& fetches) {
    xcb_connection_t* c = ctx_.connection();
    for (Fetch& f : fetches) {
        f.attrs = collectReply(c, xcb_get_window_attributes_reply, f.attrsCookie);
        f.geom = collectReply(c, xcb_get_geometry_reply, f.geomCookie);
        f.stateProp = ctx_.collect(f.stateCookie);
        f.typeProp = ctx_.collect(f.typeCookie);
        if (f.wantsExtents) {
            f.extentsProp = ctx_.collect(f.extentsCookie);
        }
    }
}

std::unordered_map<xcb_window_t, xcb_window_t> X11WindowList::resolveTopLevels(
    const std::vector<xcb_window_t>& windows) {
    xcb_connection_t* c = ctx_.connection();
    std::unordered_map<xcb_window_t, xcb_window_t> result;
    // (original window, window whose parent we ask next)
    std::vector<std::pair<xcb_window_t, xcb_window_t>> walking;
    for (xcb_window_t w : windows) {
        walking.emplace_back(w, w);
    }
    for (int depth = 0; depth < 16 && !walking.empty(); ++depth) {
        std::vector<xcb_query_tree_cookie_t> cookies;
        for (const auto& [origin, current] : walking) {
            cookies.push_back(xcb_query_tree(c, current));
        }
        ctx_.stats().requests += cookies.size();
        ++ctx_.stats().roundTrips;
        std::vector<std::pair<xcb_window_t, xcb_window_t>> next;
        for (std::size_t i = 0; i < walking.size(); ++i) {
            auto reply = collectReply(c, xcb_query_tree_reply, cookies[i]);
            if (!reply) {
                continue;  // gone
            }
            const auto [origin, current] = walking[i];
            if (reply->parent == ctx_.root() || reply->parent == XCB_NONE) {
                result[origin] = current;
            } else if (rootChildren_.count(reply->parent) != 0) {
                result[origin] = reply->parent;
            } else {
                next.emplace_back(origin, reply->parent);
            }
        }
        walking = std::move(next);
    }
    return result;
}

namespace {
// Long enough for the several list reads of one refresh cycle, far shorter than the reconcile
// timer: a change whose event is still on its way is seen by the refresh that event triggers.
constexpr auto kReuseFor = std::chrono::milliseconds(20);
}  // namespace

std::optional<std::vector<X11Window>> X11WindowList::windows() {
    const auto now = std::chrono::steady_clock::now();
    if (lastPass_ && ctx_.listening() && ctx_.eventGeneration() == lastPassGeneration_ &&
        now - lastPassTime_ < kReuseFor && !ctx_.connectionBroken()) {
        return lastPass_;
    }
    auto pass = freshWindows();
    lastPass_ = pass;
    lastPassGeneration_ = ctx_.eventGeneration();
    lastPassTime_ = now;
    return pass;
}

std::optional<std::vector<X11Window>> X11WindowList::freshWindows() {
    if (ctx_.connectionBroken()) {
        return std::nullopt;
    }
    xcb_connection_t* c = ctx_.connection();
    const xcb_window_t root = ctx_.root();
    const Atoms& a = ctx_.atoms();
    X11Stats& stats = ctx_.stats();

    // Batch 1: the stacking, the client list, and everything about the windows we already know.
    auto treeCookie = xcb_query_tree(c, root);
    ++stats.requests;
    auto listCookie = ctx_.requestProperty(root, a.netClientList, XCB_ATOM_WINDOW, 65536);
    auto rootGeomCookie = xcb_get_geometry(c, root);
    ++stats.requests;
    std::vector<std::pair<xcb_window_t, xcb_window_t>> known;
    for (const auto& [id, info] : clients_) {
        if (info.topLevel != 0) {
            known.emplace_back(id, info.topLevel);
        }
    }
    std::vector<Fetch> fetches = sendClientRequests(known);
    auto sendOthers = [&](const std::vector<xcb_window_t>& ids) {
        std::vector<OtherFetch> out(ids.size());
        for (std::size_t i = 0; i < ids.size(); ++i) {
            out[i].id = ids[i];
            out[i].attrsCookie = xcb_get_window_attributes(c, ids[i]);
            out[i].geomCookie = xcb_get_geometry(c, ids[i]);
        }
        stats.requests += 2 * ids.size();
        return out;
    };
    auto collectOthers = [&](std::vector<OtherFetch>& others) {
        for (OtherFetch& o : others) {
            o.attrs = collectReply(c, xcb_get_window_attributes_reply, o.attrsCookie);
            o.geom = collectReply(c, xcb_get_geometry_reply, o.geomCookie);
        }
    };
    std::vector<OtherFetch> otherFetches = sendOthers(others_);

    ++stats.roundTrips;
    auto tree = collectReply(c, xcb_query_tree_reply, treeCookie);
    auto listReply = ctx_.collect(listCookie);
    auto rootGeom = collectReply(c, xcb_get_geometry_reply, rootGeomCookie);
    collectClientReplies(fetches);
    collectOthers(otherFetches);
    if (!tree || !rootGeom) {
        ctx_.connectionBroken();
        return std::nullopt;
    }
    // Mapped but entirely off the screen (window managers park helper windows at -100,-100)
    // is not on screen.
    const Rect screen{0, 0, double(rootGeom->width), double(rootGeom->height)};
    auto visibleOnScreen = [&](const Rect& r) {
        return r.width > 0 && r.height > 0 && r.maxX() > screen.minX() && r.x < screen.maxX() &&
               r.maxY() > screen.minY() && r.y < screen.maxY();
    };

    const xcb_window_t* kids = xcb_query_tree_children(tree.get());
    std::vector<xcb_window_t> children(kids, kids + xcb_query_tree_children_length(tree.get()));
    rootChildren_ = std::unordered_set<xcb_window_t>(children.begin(), children.end());

    // Without a window manager's client list every top-level window is its own client.
    const bool wmLists = listReply && listReply->type != XCB_ATOM_NONE;
    std::vector<xcb_window_t> currentClients;
    if (wmLists) {
        currentClients = decodeWindowList(PropertyView::of(listReply.get()));
    } else {
        for (xcb_window_t w : children) {
            if (!ctx_.isOverlay(w)) {
                currentClients.push_back(w);
            }
        }
    }

    // Keep the fetches still valid: a client still listed whose top-level still is a root child.
    std::unordered_map<xcb_window_t, Fetch*> byClient;
    for (Fetch& f : fetches) {
        byClient[f.id] = &f;
    }
    std::vector<xcb_window_t> unresolved;
    std::unordered_map<xcb_window_t, ClientInfo> nextClients;
    for (xcb_window_t w : currentClients) {
        auto it = byClient.find(w);
        if (it != byClient.end() && it->second->attrs &&
            rootChildren_.count(it->second->topLevel)) {
            nextClients[w] = ClientInfo{it->second->topLevel};
        } else if (nextClients.count(w) == 0) {
            unresolved.push_back(w);
        }
    }

    // Batches 2 (and 3): new clients' top-levels, then their details and any new root children.
    std::vector<Fetch> newFetches;
    std::vector<OtherFetch> newOthers;
    if (!unresolved.empty()) {
        auto tops = resolveTopLevels(unresolved);
        std::vector<std::pair<xcb_window_t, xcb_window_t>> fresh;
        for (xcb_window_t w : unresolved) {
            auto t = tops.find(w);
            if (t != tops.end()) {
                fresh.emplace_back(w, t->second);
                nextClients[w] = ClientInfo{t->second};
            }
        }
        newFetches = sendClientRequests(fresh);
    }
    std::unordered_map<xcb_window_t, xcb_window_t> clientOfTop;
    for (const auto& [id, info] : nextClients) {
        clientOfTop[info.topLevel] = id;
    }
    std::unordered_map<xcb_window_t, OtherFetch*> otherById;
    for (OtherFetch& o : otherFetches) {
        if (o.attrs) {
            otherById[o.id] = &o;
        }
    }
    std::vector<xcb_window_t> newOtherIds;
    for (xcb_window_t w : children) {
        if (clientOfTop.count(w) == 0 && otherById.count(w) == 0) {
            newOtherIds.push_back(w);
        }
    }
    if (!newOtherIds.empty() || !newFetches.empty()) {
        newOthers = sendOthers(newOtherIds);
        ++stats.roundTrips;
        collectClientReplies(newFetches);
        collectOthers(newOthers);
        for (OtherFetch& o : newOthers) {
            if (o.attrs) {
                otherById[o.id] = &o;
            }
        }
        for (Fetch& f : newFetches) {
            byClient[f.id] = &f;
        }
    }

    // Assemble top to bottom.
    std::vector<X11Window> result;
    result.reserve(children.size());
    std::vector<xcb_window_t> othersNext;
    std::vector<xcb_window_t> needPids;
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        const xcb_window_t top = *it;
        auto client = clientOfTop.find(top);
        if (client != clientOfTop.end()) {
            auto f = byClient.find(client->second);
            if (f == byClient.end() || !f->second->attrs || !f->second->geom) {
                nextClients.erase(client->second);  // vanished mid-pass
                continue;
            }
            const Fetch& d = *f->second;
            X11Window w;
            w.id = d.id;
            w.topLevel = d.topLevel;
            w.managed = wmLists;
            w.state = decodeWindowState(PropertyView::of(d.stateProp.get()), a);
            auto type = decodeWindowType(PropertyView::of(d.typeProp.get()), a);
            w.desktop = type == WindowType::Desktop;
            w.layer = d.attrs->override_redirect ? layer::kPopup : layerFor(type, w.state);
            w.onScreen = d.attrs->map_state == XCB_MAP_STATE_VIEWABLE && !w.state.hidden;
            const double border = 2.0 * d.geom->border_width;
            Rect r{static_cast<double>(d.geom->x), static_cast<double>(d.geom->y),
                   d.geom->width + border, d.geom->height + border};
            if (d.wantsExtents) {
                auto e = decodeFrameExtents(PropertyView::of(d.extentsProp.get()));
                if (e) {
                    r = Rect{r.x - e->left, r.y - e->top, r.width + e->left + e->right,
                             r.height + e->top + e->bottom};
                }
            }
            w.bounds = r;
            w.onScreen = w.onScreen && visibleOnScreen(r);
            if (w.onScreen) {
                needPids.push_back(w.id);
            }
            result.push_back(w);
            continue;
        }
        auto o = otherById.find(top);
        if (o == otherById.end()) {
            continue;  // vanished mid-pass
        }
        othersNext.push_back(top);
        const OtherFetch& d = *o->second;
        if (!d.geom) {
            continue;
        }
        X11Window w;
        w.id = top;
        w.topLevel = top;
        w.overlay = ctx_.isOverlay(top);
        if (!w.overlay && !d.attrs->override_redirect) {
            // A frame whose client is not listed (being managed or withdrawn), or the window
            // manager's own furniture: not a window of any application.
            continue;
        }
        w.layer = w.overlay ? layer::kNormal : layer::kPopup;
        w.onScreen = d.attrs->map_state == XCB_MAP_STATE_VIEWABLE;
        const double border = 2.0 * d.geom->border_width;
        w.bounds = Rect{static_cast<double>(d.geom->x), static_cast<double>(d.geom->y),
                        d.geom->width + border, d.geom->height + border};
        w.onScreen = w.onScreen && visibleOnScreen(*w.bounds);
        if (w.onScreen) {
            needPids.push_back(w.id);
        }
        result.push_back(w);
    }

    ctx_.resolvePids(needPids);
    for (X11Window& w : result) {
        w.pid = ctx_.cachedPid(w.id);
    }

    clients_ = std::move(nextClients);
    others_ = std::move(othersNext);
    std::unordered_set<xcb_window_t> alive(children.begin(), children.end());
    for (const auto& [id, info] : clients_) {
        alive.insert(id);
    }
    ctx_.retainOnly(alive);
    return result;
}

std::optional<std::vector<RawWindowEntry>> X11WindowList::copyWindowInfo() {
    auto all = windows();
    if (!all) {
        return std::nullopt;
    }
    std::vector<RawWindowEntry> out;
    out.reserve(all->size());
    for (const X11Window& w : *all) {
        if (!w.onScreen || w.desktop) {
            continue;
        }
        RawWindowEntry e;
        e.number = static_cast<std::int64_t>(w.id);
        if (w.pid) {
            e.ownerPID = static_cast<std::int64_t>(*w.pid);
        }
        e.layer = static_cast<std::int64_t>(w.layer);
        if (w.bounds) {
            e.bounds = RawBounds{w.bounds->x, w.bounds->y, w.bounds->width, w.bounds->height};
        }
        out.push_back(std::move(e));
    }
    return out;
}

std::optional<xcb_window_t> X11WindowList::topLevelOf(xcb_window_t client) {
    if (ctx_.connectionBroken()) {
        return std::nullopt;
    }
    auto tops = resolveTopLevels({client});
    auto it = tops.find(client);
    if (it == tops.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::optional<xcb_window_t> X11WindowList::topmostNormalTopLevel(xcb_window_t exclude) {
    auto all = windows();
    if (!all) {
        return std::nullopt;
    }
    for (const X11Window& w : *all) {
        if (w.onScreen && w.layer == layer::kNormal && !w.overlay && !w.desktop &&
            w.id != exclude && w.topLevel != exclude) {
            return w.topLevel;
        }
    }
    return std::nullopt;
}

std::optional<xcb_window_t> X11WindowList::topmostDesktopTopLevel() {
    auto all = windows();
    if (!all) {
        return std::nullopt;
    }
    for (const X11Window& w : *all) {
        if (w.onScreen && w.desktop) {
            return w.topLevel;
        }
    }
    return std::nullopt;
}

std::optional<Rect> X11WindowList::boundsOf(xcb_window_t client) {
    auto top = topLevelOf(client);
    if (!top) {
        return std::nullopt;
    }
    xcb_connection_t* c = ctx_.connection();
    auto geomCookie = xcb_get_geometry(c, *top);
    ++ctx_.stats().requests;
    std::optional<xcb_get_property_cookie_t> extCookie;
    if (*top == client) {
        extCookie =
            ctx_.requestProperty(client, ctx_.atoms().netFrameExtents, XCB_ATOM_CARDINAL, 4);
    }
    ++ctx_.stats().roundTrips;
    auto geom = collectReply(c, xcb_get_geometry_reply, geomCookie);
    Reply<xcb_get_property_reply_t> ext;
    if (extCookie) {
        ext = ctx_.collect(*extCookie);
    }
    if (!geom) {
        return std::nullopt;
    }
    const double border = 2.0 * geom->border_width;
    Rect r{static_cast<double>(geom->x), static_cast<double>(geom->y), geom->width + border,
           geom->height + border};
    if (ext) {
        if (auto e = decodeFrameExtents(PropertyView::of(ext.get()))) {
            r = Rect{r.x - e->left, r.y - e->top, r.width + e->left + e->right,
                     r.height + e->top + e->bottom};
        }
    }
    return r;
}

void X11WindowList::forget(xcb_window_t window) {
    lastPass_.reset();
    clients_.erase(window);
    ctx_.forget(window);
}

}  // namespace sombrix::x11

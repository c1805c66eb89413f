// Shared connection state and the per-window fact cache.
#include "platform/x11/x11_context.h"

#include <unistd.h>
#include <xcb/res.h>

#include <cstdio>
#include <cstdlib>

namespace sombrix::x11 {

X11Context::X11Context(xcb_connection_t* connection, xcb_window_t root)
    : c_(connection), root_(root), ownPid_(static_cast<std::int32_t>(::getpid())) {
    // A connection that is already broken is reported at its first use.
    if (c_ == nullptr || xcb_connection_has_error(c_)) {
        return;
    }
    atoms_ = Atoms::intern(c_);
    if (const xcb_setup_t* setup = xcb_get_setup(c_)) {
        idBase_ = setup->resource_id_base;
        idMask_ = setup->resource_id_mask;
    }
    const xcb_query_extension_reply_t* res = xcb_get_extension_data(c_, &xcb_res_id);
    if (res && res->present) {
        // QueryClientIds needs XRes 1.2.
        auto version =
            own(xcb_res_query_version_reply(c_, xcb_res_query_version(c_, 1, 2), nullptr));
        xresPresent_ = version && (version->server_major > 1 ||
                                   (version->server_major == 1 && version->server_minor >= 2));
    }
}

bool X11Context::connectionBroken() {
    if (c_ == nullptr) {
        return true;
    }
    if (broken_) {
        return true;
    }
    int error = xcb_connection_has_error(c_);
    if (error == 0) {
        return false;
    }
    broken_ = true;
    if (lostHandler_) {
        lostHandler_(error);
    } else {
        // Nothing can be shown any more; leave at once rather than run destructors that would
        // talk to the dead connection.
        std::fprintf(stderr, "Sombrix: the connection to the X server was lost (error %d).\n",
                     error);
        std::fflush(stderr);
        std::_Exit(1);
    }
    return true;
}

void X11Context::setConnectionLostHandler(std::function<void(int)> handler) {
    lostHandler_ = std::move(handler);
}

xcb_get_property_cookie_t X11Context::requestProperty(xcb_window_t window, xcb_atom_t property,
                                                      xcb_atom_t type, std::uint32_t maxItems) {
    ++stats_.requests;
    return xcb_get_property(c_, 0, window, property, type, 0, maxItems);
}

Reply<xcb_get_property_reply_t> X11Context::collect(xcb_get_property_cookie_t cookie) {
    return awaitReply(c_, xcb_get_property_reply, cookie);
}

void X11Context::discard(xcb_void_cookie_t checkedCookie) {
    xcb_discard_reply(c_, checkedCookie.sequence);
}

std::optional<xcb_window_t> X11Context::activeWindow() {
    if (connectionBroken()) {
        return std::nullopt;
    }
    auto cookie = requestProperty(root_, atoms_.netActiveWindow, XCB_ATOM_WINDOW, 1);
    ++stats_.roundTrips;
    auto reply = collect(cookie);
    return decodeWindow(PropertyView::of(reply.get()));
}

std::vector<xcb_window_t> X11Context::clientList() {
    return rootWindowList(atoms_.netClientList);
}

std::vector<xcb_window_t> X11Context::clientListStacking() {
    return rootWindowList(atoms_.netClientListStacking);
}

std::vector<xcb_window_t> X11Context::rootWindowList(xcb_atom_t property) {
    if (connectionBroken()) {
        return {};
    }
    auto cookie = requestProperty(root_, property, XCB_ATOM_WINDOW, 65536);
    ++stats_.roundTrips;
    auto reply = collect(cookie);
    return decodeWindowList(PropertyView::of(reply.get()));
}

std::optional<std::uint32_t> X11Context::currentDesktop() {
    if (connectionBroken()) {
        return std::nullopt;
    }
    auto cookie = requestProperty(root_, atoms_.netCurrentDesktop, XCB_ATOM_CARDINAL, 1);
    ++stats_.roundTrips;
    auto reply = collect(cookie);
    return decodeCardinal(PropertyView::of(reply.get()));
}

std::optional<WindowState> X11Context::windowState(xcb_window_t window) {
    if (connectionBroken()) {
        return std::nullopt;
    }
    // The attributes tell a vanished window (absent) from one without state (no flags).
    ++stats_.requests;
    auto attrCookie = xcb_get_window_attributes(c_, window);
    auto cookie = requestProperty(window, atoms_.netWmState, XCB_ATOM_ATOM, 64);
    ++stats_.roundTrips;
    auto attrs = awaitReply(c_, xcb_get_window_attributes_reply, attrCookie);
    auto reply = collect(cookie);
    if (!attrs) {
        return std::nullopt;
    }
    return decodeWindowState(PropertyView::of(reply.get()), atoms_);
}

void X11Context::resolvePids(const std::vector<xcb_window_t>& windows) {
    if (connectionBroken()) {
        return;
    }
    struct Pending {
        xcb_window_t window;
        xcb_res_query_client_ids_cookie_t xres;
        xcb_get_property_cookie_t netWmPid;
    };
    std::vector<Pending> pending;
    for (xcb_window_t w : windows) {
        if (pids_.count(w) != 0) {
            continue;
        }
        Pending p{w, {}, {}};
        if (xresPresent_) {
            xcb_res_client_id_spec_t spec{w, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
            p.xres = xcb_res_query_client_ids(c_, 1, &spec);
            ++stats_.requests;
        }
        p.netWmPid = requestProperty(w, atoms_.netWmPid, XCB_ATOM_CARDINAL, 1);
        pending.push_back(p);
    }
    if (pending.empty()) {
        return;
    }
    ++stats_.roundTrips;
    for (const Pending& p : pending) {
        std::optional<std::int32_t> pid;
        if (xresPresent_) {
            auto ids = awaitReply(c_, xcb_res_query_client_ids_reply, p.xres);
            if (ids) {
                auto it = xcb_res_query_client_ids_ids_iterator(ids.get());
                for (; it.rem > 0; xcb_res_client_id_value_next(&it)) {
                    if ((it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) &&
                        xcb_res_client_id_value_value_length(it.data) >= 1) {
                        std::uint32_t value = *xcb_res_client_id_value_value(it.data);
                        if (value > 0 && value <= 0x7fffffffu) {
                            pid = static_cast<std::int32_t>(value);
                        }
                    }
                }
            }
        }
        auto prop = collect(p.netWmPid);
        if (!prop) {
            // No such window (yet): the server answers the owner by the id's client slot, which
            // the next client to connect takes over with the same window ids. Remembering the
            // answer would outlive the window it was asked for.
            continue;
        }
        if (!pid) {
            // Only clients on other hosts or servers without XRes land here.
            pid = decodePid(PropertyView::of(prop.get()));
        }
        pids_[p.window] = pid;
    }
}

std::optional<std::int32_t> X11Context::pidOf(xcb_window_t window) {
    if (overlays_.count(window) != 0) {
        return ownPid_;
    }
    resolvePids({window});
    return cachedPid(window);
}

std::optional<std::int32_t> X11Context::cachedPid(xcb_window_t window) const {
    if (overlays_.count(window) != 0) {
        return ownPid_;
    }
    auto it = pids_.find(window);
    return it == pids_.end() ? std::nullopt : it->second;
}

std::optional<std::string> X11Context::wmClassOf(xcb_window_t window) {
    auto it = classes_.find(window);
    if (it != classes_.end()) {
        return it->second;
    }
    if (connectionBroken()) {
        return std::nullopt;
    }
    auto cookie = requestProperty(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 256);
    ++stats_.roundTrips;
    auto reply = collect(cookie);
    if (!reply) {
        return std::nullopt;  // gone: nothing to remember
    }
    auto value = decodeWmClass(PropertyView::of(reply.get()));
    classes_[window] = value;
    return value;
}

const std::vector<Monitor>& X11Context::monitors() {
    if (!monitors_) {
        ++stats_.roundTrips;
        monitors_ = connectionBroken() ? std::vector<Monitor>{} : readMonitors(c_, root_);
    }
    return *monitors_;
}

void X11Context::forget(xcb_window_t window) {
    pids_.erase(window);
    classes_.erase(window);
}

void X11Context::retainOnly(const std::unordered_set<xcb_window_t>& alive) {
    std::erase_if(pids_, [&](const auto& kv) { return alive.count(kv.first) == 0; });
    std::erase_if(classes_, [&](const auto& kv) { return alive.count(kv.first) == 0; });
}

}  // namespace sombrix::x11

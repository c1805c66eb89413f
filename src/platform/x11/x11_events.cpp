// From X events to accessibility and workspace notifications, by comparing desktop states.
#include "platform/x11/x11_events.h"

#include <algorithm>

namespace sombrix::x11 {

namespace {

bool contains(const std::vector<xcb_window_t>& v, xcb_window_t w) {
    return std::find(v.begin(), v.end(), w) != v.end();
}

std::optional<std::int32_t> pidIn(const DesktopState& s, std::optional<xcb_window_t> w) {
    if (!w) {
        return std::nullopt;
    }
    auto it = s.pids.find(*w);
    return it == s.pids.end() ? std::nullopt : std::optional<std::int32_t>(it->second);
}

bool hasClientOf(const DesktopState& s, std::int32_t pid) {
    return std::any_of(s.pids.begin(), s.pids.end(),
                       [&](const auto& kv) { return kv.second == pid; });
}

// Whether every window of `pid` is hidden; absent when it has none.
std::optional<bool> allHidden(const DesktopState& s, std::int32_t pid) {
    std::optional<bool> result;
    for (const auto& [w, p] : s.pids) {
        if (p != pid) {
            continue;
        }
        auto h = s.hidden.find(w);
        bool hidden = h != s.hidden.end() && h->second;
        result = result.value_or(true) && hidden;
    }
    return result;
}

}  // namespace

X11Events::X11Events(X11Context& context, X11WindowList& windowList)
    : ctx_(context), list_(windowList) {}

X11Events::~X11Events() = default;

void X11Events::startListening() {
    if (listening_ || ctx_.connectionBroken()) {
        return;
    }
    xcb_connection_t* c = ctx_.connection();
    auto attrs =
        own(xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, ctx_.root()), nullptr));
    // OR into the mask the toolkit set: replacing it would take its own root events away.
    std::uint32_t mask = attrs ? attrs->your_event_mask : 0;
    mask |= XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(c, ctx_.root(), XCB_CW_EVENT_MASK, &mask);
    ctx_.stats().requests += 2;
    xcb_flush(c);
    listening_ = true;
    ctx_.setListening();
    state_ = readState();
}

void X11Events::watchStructure(xcb_window_t window) {
    if (!listening_ || selected_.count(window) != 0 || ctx_.cachedPid(window) == ctx_.ownPid()) {
        return;
    }
    selectOnClients({window});
}

void X11Events::selectOnClients(const std::vector<xcb_window_t>& clients) {
    if (!listening_) {
        return;
    }
    xcb_connection_t* c = ctx_.connection();
    ctx_.resolvePids(clients);
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    for (xcb_window_t w : clients) {
        // Our own windows are the toolkit's: setting a mask from this connection would replace
        // the one it selected.
        if (selected_.count(w) != 0 || ctx_.cachedPid(w) == ctx_.ownPid() || ctx_.isOverlay(w)) {
            continue;
        }
        selected_.insert(w);
        ++ctx_.stats().requests;
        ctx_.discard(xcb_change_window_attributes_checked(c, w, XCB_CW_EVENT_MASK, &mask));
    }
    xcb_flush(c);
}

DesktopState X11Events::readState() {
    DesktopState s;
    if (ctx_.connectionBroken()) {
        return s;
    }
    const Atoms& a = ctx_.atoms();
    auto activeCookie = ctx_.requestProperty(ctx_.root(), a.netActiveWindow, XCB_ATOM_WINDOW, 1);
    auto listCookie = ctx_.requestProperty(ctx_.root(), a.netClientList, XCB_ATOM_WINDOW, 65536);
    auto deskCookie = ctx_.requestProperty(ctx_.root(), a.netCurrentDesktop, XCB_ATOM_CARDINAL, 1);
    ++ctx_.stats().roundTrips;
    auto active = ctx_.collect(activeCookie);
    auto list = ctx_.collect(listCookie);
    auto desk = ctx_.collect(deskCookie);
    s.active = decodeWindow(PropertyView::of(active.get()));
    s.clients = decodeWindowList(PropertyView::of(list.get()));
    s.desktop = decodeCardinal(PropertyView::of(desk.get()));

    // Select first, read after: a change made after our read then always sends an event.
    selectOnClients(s.clients);
    ctx_.resolvePids(s.clients);
    std::vector<xcb_get_property_cookie_t> stateCookies;
    for (xcb_window_t w : s.clients) {
        stateCookies.push_back(ctx_.requestProperty(w, a.netWmState, XCB_ATOM_ATOM, 64));
    }
    if (!stateCookies.empty()) {
        ++ctx_.stats().roundTrips;
    }
    for (std::size_t i = 0; i < s.clients.size(); ++i) {
        auto reply = ctx_.collect(stateCookies[i]);
        const WindowState ws = decodeWindowState(PropertyView::of(reply.get()), a);
        s.hidden[s.clients[i]] = ws.hidden;
        s.fullscreen[s.clients[i]] = ws.fullscreen;
        if (auto pid = ctx_.cachedPid(s.clients[i])) {
            s.pids[s.clients[i]] = *pid;
        }
    }
    if (s.active) {
        if (auto pid = ctx_.pidOf(*s.active)) {
            s.frontPid = *pid;
        }
    }
    // An application stays frontmost after its focused window closes, while it has a window.
    if (s.frontPid == 0 && state_.frontPid != 0 && hasClientOf(s, state_.frontPid)) {
        s.frontPid = state_.frontPid;
    }
    return s;
}

std::int32_t X11Events::frontmostPid() {
    if (listening_ && !dirty_) {
        return state_.frontPid;
    }
    if (ctx_.connectionBroken()) {
        return 0;
    }
    if (auto active = ctx_.activeWindow()) {
        if (auto pid = ctx_.pidOf(*active)) {
            return *pid;
        }
    }
    if (state_.frontPid == 0) {
        return 0;
    }
    auto clients = ctx_.clientList();
    ctx_.resolvePids(clients);
    for (xcb_window_t w : clients) {
        if (ctx_.cachedPid(w) == state_.frontPid) {
            return state_.frontPid;
        }
    }
    return 0;
}

bool X11Events::handleEvent(const xcb_generic_event_t* event) {
    ctx_.noteEvent();
    const Atoms& a = ctx_.atoms();
    const xcb_window_t root = ctx_.root();
    switch (event->response_type & 0x7f) {
        case XCB_PROPERTY_NOTIFY: {
            auto* ev = reinterpret_cast<const xcb_property_notify_event_t*>(event);
            if (ev->window == root) {
                if (ev->atom == a.netActiveWindow || ev->atom == a.netClientList ||
                    ev->atom == a.netCurrentDesktop) {
                    dirty_ = true;
                    return true;
                }
                if (ev->atom == a.netClientListStacking) {
                    stackingDirty_ = true;
                    return true;
                }
                if (ev->atom == a.netSupportingWmCheck || ev->atom == a.netSupported) {
                    trustValid_ = false;
                    windowManagerDirty_ = true;
                    dirty_ = true;
                    return true;
                }
                return false;
            }
            if (ev->atom == a.netWmState) {
                // Hidden, full screen, above and below all change what the engine decides.
                dirty_ = true;
                stackingDirty_ = true;
                return true;
            }
            return false;
        }
        case XCB_DESTROY_NOTIFY: {
            auto* ev = reinterpret_cast<const xcb_destroy_notify_event_t*>(event);
            gone_.insert(ev->window);
            selected_.erase(ev->window);
            list_.forget(ev->window);
            trustValid_ = false;  // cheap to recheck; the manager's check window may be it
            stackingDirty_ = true;
            return true;
        }
        case XCB_UNMAP_NOTIFY: {
            auto* ev = reinterpret_cast<const xcb_unmap_notify_event_t*>(event);
            gone_.insert(ev->window);
            stackingDirty_ = true;
            return true;
        }
        case XCB_CONFIGURE_NOTIFY: {
            auto* ev = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
            if (ev->event == root) {
                stackingDirty_ = true;
                return true;
            }
            return false;
        }
        case XCB_MAP_NOTIFY:
        case XCB_CREATE_NOTIFY:
        case XCB_REPARENT_NOTIFY:
        case XCB_CIRCULATE_NOTIFY:
        case XCB_GRAVITY_NOTIFY:
            stackingDirty_ = true;
            return true;
        default:
            return false;
    }
}

void X11Events::flush() {
    if (ctx_.connectionBroken()) {
        return;
    }
    const DesktopState old = state_;
    DesktopState now = dirty_ ? readState() : state_;
    std::unordered_set<xcb_window_t> gone;
    gone.swap(gone_);
    const bool stacking = stackingDirty_;
    const bool windowManager = windowManagerDirty_;
    windowManagerDirty_ = false;
    dirty_ = false;
    stackingDirty_ = false;
    state_ = now;
    if (!listening_) {
        return;
    }

    // What happened, per process.
    auto focusChangedFor = [&](std::int32_t pid) {
        return old.active != now.active &&
               (pidIn(old, old.active) == pid || pidIn(now, now.active) == pid);
    };
    auto createdFor = [&](std::int32_t pid) {
        for (xcb_window_t w : now.clients) {
            if (!contains(old.clients, w) && pidIn(now, w) == pid) {
                return true;
            }
        }
        return false;
    };
    auto hiddenChangeFor = [&](std::int32_t pid, bool toHidden) {
        for (const auto& [w, hidden] : now.hidden) {
            auto before = old.hidden.find(w);
            if (before != old.hidden.end() && pidIn(now, w) == pid && before->second != hidden &&
                hidden == toHidden) {
                return true;
            }
        }
        return false;
    };
    auto destroyed = [&](xcb_window_t w) {
        return gone.count(w) != 0 || (contains(old.clients, w) && !contains(now.clients, w));
    };

    struct Delivery {
        X11AXObserver* observer;
        AXElement element;
        std::string notification;
        void* context;
    };
    std::vector<Delivery> ax;
    for (X11AXObserver* o : observers_) {
        const std::int32_t pid = o->pid_;
        // Every notification costs the listener a full refresh, so one per observer and batch.
        for (const auto& r : o->registrations_) {
            bool fires = false;
            const std::string& n = r.notification;
            if (r.element.kind == AXElement::Kind::Application) {
                if (n == ax::kFocusedWindowChanged || n == ax::kMainWindowChanged) {
                    fires = focusChangedFor(pid);
                } else if (n == ax::kWindowCreated) {
                    fires = createdFor(pid);
                } else if (n == ax::kWindowMiniaturized) {
                    fires = hiddenChangeFor(pid, true);
                } else if (n == ax::kWindowDeminiaturized) {
                    fires = hiddenChangeFor(pid, false);
                }
            } else if (r.element.kind == AXElement::Kind::Window && n == ax::kUIElementDestroyed) {
                fires = destroyed(static_cast<xcb_window_t>(r.element.handle));
            }
            if (fires) {
                ax.push_back({o, r.element, r.notification, r.context});
                break;
            }
        }
    }

    std::vector<WorkspaceNotification> ws;
    if (now.frontPid != 0 && now.frontPid != old.frontPid) {
        ws.push_back(WorkspaceNotification::DidActivateApplication);
    }
    if (old.desktop && now.desktop && *old.desktop != *now.desktop) {
        ws.push_back(WorkspaceNotification::ActiveSpaceDidChange);
    }
    std::unordered_set<std::int32_t> pids;
    for (const auto& [w, pid] : old.pids) {
        pids.insert(pid);
    }
    bool hid = false, unhid = false, terminated = false;
    for (std::int32_t pid : pids) {
        auto before = allHidden(old, pid);
        auto after = allHidden(now, pid);
        if (!after) {
            terminated = true;
        } else if (before && *before != *after) {
            (*after ? hid : unhid) = true;
        }
    }
    if (hid) {
        ws.push_back(WorkspaceNotification::DidHideApplication);
    }
    if (unhid) {
        ws.push_back(WorkspaceNotification::DidUnhideApplication);
    }
    if (terminated) {
        ws.push_back(WorkspaceNotification::DidTerminateApplication);
    }

    // Deliver. A handler may detach observers or remove tokens; each is checked right before
    // its turn.
    bool delivered = false;
    for (const Delivery& d : ax) {
        if (std::find(observers_.begin(), observers_.end(), d.observer) == observers_.end()) {
            continue;
        }
        delivered = true;
        d.observer->callback_(d.observer, d.element, d.notification, d.context);
    }
    for (WorkspaceNotification name : ws) {
        std::vector<ObserverToken> tokens;
        for (const auto& [token, entry] : workspace_) {
            if (entry.first == name) {
                tokens.push_back(token);
            }
        }
        for (ObserverToken t : tokens) {
            auto it = workspace_.find(t);
            if (it != workspace_.end()) {
                delivered = true;
                auto handler = it->second.second;  // the handler may remove itself
                handler();
            }
        }
    }
    // Every notification handler above already ran a full refresh after these events; a restack
    // alone (another window moved between an overlay and its bright window) needs one of its own.
    if (stacking && !delivered && stackingChanged_) {
        stackingChanged_();
    }
    if (windowManager && windowManagerChanged_) {
        windowManagerChanged_();
    }
}

void X11Events::notifyWake() {
    std::vector<ObserverToken> tokens;
    for (const auto& [token, entry] : workspace_) {
        if (entry.first == WorkspaceNotification::DidWake) {
            tokens.push_back(token);
        }
    }
    for (ObserverToken t : tokens) {
        auto it = workspace_.find(t);
        if (it != workspace_.end()) {
            auto handler = it->second.second;
            handler();
        }
    }
}

ObserverToken X11Events::addWorkspaceObserver(WorkspaceNotification name,
                                              std::function<void()> handler) {
    ObserverToken token = nextToken_++;
    workspace_[token] = {name, std::move(handler)};
    return token;
}

void X11Events::removeWorkspaceObserver(ObserverToken token) {
    workspace_.erase(token);
}

void X11Events::attach(X11AXObserver* observer) {
    if (std::find(observers_.begin(), observers_.end(), observer) == observers_.end()) {
        observers_.push_back(observer);
    }
}

void X11Events::detach(X11AXObserver* observer) {
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

X11AXObserver::X11AXObserver(X11Events& events, std::int32_t pid, AXObserverCallback callback)
    : events_(events), pid_(pid), callback_(callback) {}

X11AXObserver::~X11AXObserver() {
    events_.detach(this);
}

bool X11AXObserver::addNotification(const AXElement& element, std::string_view notification,
                                    void* context) {
    const bool known =
        notification == ax::kFocusedWindowChanged || notification == ax::kMainWindowChanged ||
        notification == ax::kWindowCreated || notification == ax::kWindowMiniaturized ||
        notification == ax::kWindowDeminiaturized || notification == ax::kUIElementDestroyed;
    if (!known || element.kind == AXElement::Kind::Other) {
        return false;
    }
    if (element.kind == AXElement::Kind::Window) {
        events_.watchStructure(static_cast<xcb_window_t>(element.handle));
    }
    registrations_.push_back({element, std::string(notification), context});
    return true;
}

bool X11AXObserver::removeNotification(const AXElement& element, std::string_view notification) {
    auto it = std::find_if(registrations_.begin(), registrations_.end(), [&](const auto& r) {
        return r.element == element && r.notification == notification;
    });
    if (it == registrations_.end()) {
        return false;
    }
    registrations_.erase(it);
    return true;
}

void X11AXObserver::addToMainRunLoop() {
    events_.attach(this);
}

void X11AXObserver::removeFromMainRunLoop() {
    events_.detach(this);
}

}  // namespace sombrix::x11

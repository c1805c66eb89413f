// From X events to accessibility and workspace notifications, by comparing desktop states.
#include "platform/x11/x11_events.h"

#include <algorithm>
#include <cstring>

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
    : ctx_(context), cache_(windowList.cache()), windowList_(windowList) {
    // Only while the hold lasts: a flush that never came (the connection went) must not stop
    // the engine's ticks for good.
    windowList_.setChangeUnderWay([this] {
        return listening_ && settleSince_ &&
               std::chrono::steady_clock::now() < holdUntil_ + kSettle;
    });
}

X11Events::~X11Events() {
    windowList_.setChangeUnderWay({});
}

void X11Events::startListening() {
    if (listening_ || ctx_.connectionBroken()) {
        return;
    }
    xcb_connection_t* c = ctx_.connection();
    auto attrs =
        own(xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, ctx_.root()), nullptr));
    // OR into the mask the toolkit set: replacing it would take its own root events away. The
    // root's own structure events tell a change of the screen size.
    std::uint32_t mask = attrs ? attrs->your_event_mask : 0;
    toolkitSubstructure_ = (mask & XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY) != 0;
    mask |= XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_STRUCTURE_NOTIFY |
            XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(c, ctx_.root(), XCB_CW_EVENT_MASK, &mask);
    ctx_.stats().requests += 2;
    listening_ = true;
    // Selected first, read after: every change after the first read sends an event.
    cache_.setListening(true);
    cache_.invalidate();
    state_ = readState(0);
    clientsGeneration_ = cache_.clientsGeneration();
}

void X11Events::watchStructure(xcb_window_t window) {
    if (!listening_ || watched_.count(window) != 0 || ctx_.ownsWindow(window)) {
        return;
    }
    watched_.insert(window);
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    ++ctx_.stats().requests;
    ctx_.discard(
        xcb_change_window_attributes_checked(ctx_.connection(), window, XCB_CW_EVENT_MASK, &mask));
    xcb_flush(ctx_.connection());
}

std::int32_t X11Events::frontPidFor(std::optional<xcb_window_t> active, const DesktopState& s,
                                    std::int32_t previous) {
    if (active) {
        if (auto pid = ctx_.pidOf(*active)) {
            return *pid;
        }
    }
    // An application stays frontmost after its focused window closes, while it has a window.
    if (previous != 0 && hasClientOf(s, previous)) {
        return previous;
    }
    return 0;
}

DesktopState X11Events::readState(std::int32_t previousFront) {
    DesktopState s;
    if (ctx_.connectionBroken() || !cache_.update()) {
        return s;
    }
    s.active = cache_.activeWindow();
    s.clients = cache_.clients();
    s.desktop = cache_.currentDesktop();
    for (xcb_window_t w : s.clients) {
        const ClientFacts* facts = cache_.client(w);
        s.hidden[w] = facts && facts->state.hidden;
        s.fullscreen[w] = facts && facts->state.fullscreen;
        if (auto pid = ctx_.cachedPid(w)) {
            s.pids[w] = *pid;
        }
    }
    s.frontPid = frontPidFor(s.active, s, previousFront);
    return s;
}

std::int32_t X11Events::frontmostPid() {
    if (listening_) {
        if (!cache_.update()) {
            return 0;
        }
        if (!dirty_) {
            return state_.frontPid;
        }
        // Events not flushed yet: the facts are current, the last state's lists nearly so.
        return frontPidFor(cache_.activeWindow(), state_, state_.frontPid);
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

bool X11Events::onlyOurs(const xcb_generic_event_t* event) {
    if (!listening_) {
        return false;
    }
    const auto type = event->response_type & 0x7f;
    if (type == XCB_CONFIGURE_NOTIFY && (event->response_type & 0x80) == 0) {
        const auto* ev = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
        if (ev->event == ev->window && ctx_.isOverlay(ev->window)) {
            const std::array<std::int32_t, 5> place{ev->x, ev->y, ev->width, ev->height,
                                                    ev->border_width};
            auto [it, added] = overlayPlaces_.try_emplace(ev->window, place);
            if (!added && it->second == place) {
                return true;
            }
            it->second = place;
            return false;
        }
    } else if (type == XCB_DESTROY_NOTIFY) {
        overlayPlaces_.erase(reinterpret_cast<const xcb_destroy_notify_event_t*>(event)->window);
    }
    if (toolkitSubstructure_) {
        return false;
    }
    switch (type) {
        case XCB_CREATE_NOTIFY:
        case XCB_DESTROY_NOTIFY:
        case XCB_UNMAP_NOTIFY:
        case XCB_MAP_NOTIFY:
        case XCB_REPARENT_NOTIFY:
        case XCB_CONFIGURE_NOTIFY:
        case XCB_GRAVITY_NOTIFY:
        case XCB_CIRCULATE_NOTIFY: {
            // All of these carry the window that selected them, then the one they are about.
            xcb_window_t selecting;
            xcb_window_t about;
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(event);
            std::memcpy(&selecting, bytes + 4, sizeof selecting);
            std::memcpy(&about, bytes + 8, sizeof about);
            return selecting == ctx_.root() && about != ctx_.root();
        }
        default:
            return false;
    }
}

bool X11Events::handleEvent(const xcb_generic_event_t* event) {
    const Atoms& a = ctx_.atoms();
    const X11WindowCache::Change change = cache_.apply(event);
    const auto type = event->response_type & 0x7f;
    // A property of another program's window that nothing here reads (a title with a clock in
    // it, a progress hint) is no news: counted, it would cost an idle tick a whole cycle.
    const auto* property = reinterpret_cast<const xcb_property_notify_event_t*>(event);
    if (type != XCB_PROPERTY_NOTIFY || change != X11WindowCache::Change::None ||
        property->window == ctx_.root() || ctx_.ownsWindow(property->window)) {
        ctx_.eventArrived();
    }
    if (type == XCB_CLIENT_MESSAGE) {
        // A request to the manager, seen because we listen to the root's substructure.
        auto* ev = reinterpret_cast<const xcb_client_message_event_t*>(event);
        if (ev->type == a.netActiveWindow && ev->format == 32) {
            activationAsked_ = std::chrono::steady_clock::now();
        }
        return false;
    }
    if (type == XCB_CONFIGURE_NOTIFY &&
        reinterpret_cast<const xcb_configure_notify_event_t*>(event)->window == ctx_.root()) {
        // The server announces every change of its monitors (and of the screen's size) this way.
        ctx_.invalidateMonitors();
    }
    if (type == XCB_PROPERTY_NOTIFY) {
        auto* ev = reinterpret_cast<const xcb_property_notify_event_t*>(event);
        if (ev->window == ctx_.root() &&
            (ev->atom == a.netSupportingWmCheck || ev->atom == a.netSupported)) {
            trustValid_ = false;
            windowManagerDirty_ = true;
            dirty_ = true;
            return true;
        }
        if (change == X11WindowCache::Change::Relevant) {
            // A root list or a client's state: what the notifications are computed from.
            dirty_ = true;
            return true;
        }
        return false;
    }
    if (type == XCB_DESTROY_NOTIFY) {
        auto* ev = reinterpret_cast<const xcb_destroy_notify_event_t*>(event);
        gone_.insert(ev->window);
        if (watched_.erase(ev->window) != 0) {
            trustValid_ = false;  // cheap to recheck; the manager's check window may be it
        }
    } else if (type == XCB_UNMAP_NOTIFY) {
        gone_.insert(reinterpret_cast<const xcb_unmap_notify_event_t*>(event)->window);
    }
    if (change == X11WindowCache::Change::Relevant) {
        stackingDirty_ = true;
        return true;
    }
    // Our own overlays moving, windows appearing unmapped: nothing to decide again. A watched
    // window that went away still needs its notification.
    return !gone_.empty();
}

bool X11Events::settling() {
    // A focus change under a window manager arrives in steps: the frame is raised, the old
    // window loses focus (the active window is briefly none), the new one gets it. Each step is
    // a batch of its own; answered one by one, the engine would refresh three times and cover
    // everything for a moment in between. A batch that is only such a step waits a little for
    // the rest, never longer than kSettle after the first. After a request to activate a
    // window, its raise waits for the announcement up to kAnnouncementWait after the request.
    const bool onlyStacking = stackingDirty_ && !dirty_ && gone_.empty();
    const bool focusLeft = dirty_ && gone_.empty() && state_.active && !cache_.activeWindow() &&
                           cache_.clientsGeneration() == clientsGeneration_;
    // i3 hides the tab it leaves (and may send that on its own) before it announces the next
    // one. Told at once, the engine would take the window still named active for minimised and
    // hand focus to another window, which the manager then obeys: wait for the announcement.
    const ClientFacts* active = state_.active && cache_.activeWindow() == state_.active
                                    ? cache_.client(*state_.active)
                                    : nullptr;
    const auto was = state_.active ? state_.hidden.find(*state_.active) : state_.hidden.end();
    const bool activeHidden =
        dirty_ && active && active->state.hidden && (was == state_.hidden.end() || !was->second);
    const auto now = std::chrono::steady_clock::now();
    if (onlyStacking || focusLeft || activeHidden) {
        if (!settleSince_) {
            settleSince_ = now;
        }
        holdUntil_ = *settleSince_ + (activeHidden ? kAnnouncementWait : kSettle);
        if (onlyStacking && activationAsked_) {
            holdUntil_ = std::max(holdUntil_, *activationAsked_ + kAnnouncementWait);
        }
        if (now < holdUntil_) {
            return true;
        }
    }
    settleSince_.reset();
    return false;
}

std::chrono::milliseconds X11Events::holdLeft() const {
    const auto left = holdUntil_ - std::chrono::steady_clock::now();
    return std::max(std::chrono::milliseconds(1),
                    std::chrono::ceil<std::chrono::milliseconds>(left));
}

bool X11Events::flush() {
    if (ctx_.connectionBroken() || !listening_) {
        return false;
    }
    cache_.update();
    if (settling()) {
        return true;
    }
    std::unordered_set<xcb_window_t> gone;
    gone.swap(gone_);
    const bool stacking = stackingDirty_;
    const bool windowManager = windowManagerDirty_;
    windowManagerDirty_ = false;
    dirty_ = false;
    stackingDirty_ = false;

    // The per-window maps are rebuilt only when the client list or a client's state changed;
    // a focus change alone compares the active window and the frontmost process.
    const bool clientsChanged = cache_.clientsGeneration() != clientsGeneration_;
    clientsGeneration_ = cache_.clientsGeneration();
    DesktopState previous;
    if (clientsChanged) {
        previous = std::move(state_);
        state_ = readState(previous.frontPid);
    } else {
        previous.active = state_.active;
        previous.desktop = state_.desktop;
        previous.frontPid = state_.frontPid;
        state_.active = cache_.activeWindow();
        state_.desktop = cache_.currentDesktop();
        state_.frontPid = frontPidFor(state_.active, state_, previous.frontPid);
    }
    if (previous.active != state_.active) {
        activationAsked_.reset();  // announced: the next raise waits no longer
    }
    const DesktopState& now = state_;
    const DesktopState& old = clientsChanged ? previous : now;  // its maps and client list

    // What happened, per process.
    auto focusChangedFor = [&](std::int32_t pid) {
        return previous.active != now.active &&
               (pidIn(old, previous.active) == pid || pidIn(now, now.active) == pid);
    };
    auto createdFor = [&](std::int32_t pid) {
        if (!clientsChanged) {
            return false;
        }
        for (xcb_window_t w : now.clients) {
            if (!contains(old.clients, w) && pidIn(now, w) == pid) {
                return true;
            }
        }
        return false;
    };
    auto hiddenChangeFor = [&](std::int32_t pid, bool toHidden) {
        if (!clientsChanged) {
            return false;
        }
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
        return gone.count(w) != 0 ||
               (clientsChanged && contains(old.clients, w) && !contains(now.clients, w));
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
    if (now.frontPid != 0 && now.frontPid != previous.frontPid) {
        ws.push_back(WorkspaceNotification::DidActivateApplication);
    }
    if (previous.desktop && now.desktop && *previous.desktop != *now.desktop) {
        ws.push_back(WorkspaceNotification::ActiveSpaceDidChange);
    }
    if (clientsChanged) {
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
    }

    // Deliver. Every notification makes the listener read the whole desktop again, so the
    // accessibility ones go out only when no workspace notification of the same batch did.
    // A handler may detach observers or remove tokens; each is checked right before its turn.
    bool delivered = false;
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
    const bool workspaceDelivered = delivered;
    for (const Delivery& d : ax) {
        if (workspaceDelivered ||
            std::find(observers_.begin(), observers_.end(), d.observer) == observers_.end()) {
            continue;
        }
        delivered = true;
        d.observer->callback_(d.observer, d.element, d.notification, d.context);
    }
    // A restack alone (another window moved between an overlay and its bright window) needs a
    // refresh of its own.
    if (stacking && !delivered && stackingChanged_) {
        stackingChanged_();
    }
    if (windowManager && windowManagerChanged_) {
        windowManagerChanged_();
    }
    return false;
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

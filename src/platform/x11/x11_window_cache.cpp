// The event-driven facts about the root's children and the window manager's clients, and the
// pass that reads only what the events marked as changed.
#include "platform/x11/x11_window_cache.h"

#include <xcb/xcbext.h>
#include <algorithm>

#include <cstdlib>

namespace sombrix::x11 {

namespace {

// The safety net confirms the stacking and the root's lists and re-reads a slice of the windows
// once per sweep interval, and only once no event has come for a while. Its replies are taken
// at a later tick, so a step never blocks. The slice is small, counted in replies: the server
// writes each reply on its own, and each write can wake our reader thread, so an idle second
// costs about as many wake-ups as the sweep asks questions (a slice of 8 windows cost a desktop
// of 20 windows 9 wake-ups a second). A client is asked 7 things, a top-level 2.
constexpr int kSweepReplies = 16;
// A slice also grows with the desktop, so that every window is read again within this many
// steps (2 min at the 5-s interval) however many there are. A reply costs us about 2,500
// instructions (sending, our reader thread, collecting; 2-3 us here) and the server 2-3 us, and
// a desktop of 300 windows asks about 2,700 questions: 2 min of coverage adds about 0.006 % of a
// core to each side. One minute (0.013 %) took an idle desktop of 300 windows over its 0.05 %;
// below about 30 windows the 16 replies above already cover everything within a minute.
constexpr int kStepsPerCoverage = 24;
constexpr int kClientReplies = 7;
constexpr int kTopLevelReplies = 2;
constexpr auto kQuietBeforeSweep = std::chrono::milliseconds(250);
// Replies this late are waited for after all (the server is busy, not gone: a broken connection
// answers at once).
constexpr auto kSweepPatience = std::chrono::seconds(5);

// Our restacks kept waiting for their outcome at most: more means the events stopped telling.
constexpr std::size_t kMaxOwnRequests = 32;

// Whether the server sent what carries `sequence` before it took our request `request`.
bool sentBefore(std::uint32_t sequence, std::uint32_t request) {
    return static_cast<std::int32_t>(sequence - request) < 0;
}

Rect outerRect(std::int16_t x, std::int16_t y, std::uint16_t width, std::uint16_t height,
               std::uint16_t border) {
    return Rect{double(x), double(y), double(width) + 2.0 * border, double(height) + 2.0 * border};
}

}  // namespace

struct X11WindowCache::Pass {
    std::optional<xcb_query_tree_cookie_t> tree;
    std::optional<xcb_get_geometry_cookie_t> rootGeometry;
    std::optional<xcb_get_property_cookie_t> clientList;
    std::optional<xcb_get_property_cookie_t> active;
    std::optional<xcb_get_property_cookie_t> desktop;
    struct Top {
        xcb_window_t id;
        xcb_get_window_attributes_cookie_t attrs;
        xcb_get_geometry_cookie_t geometry;
    };
    std::vector<Top> tops;
    struct Client {
        xcb_window_t id;
        unsigned dirt;
        xcb_get_property_cookie_t state{};
        xcb_get_property_cookie_t type{};
        xcb_get_property_cookie_t extents{};
        xcb_get_property_cookie_t wmClass{};
        xcb_get_window_attributes_cookie_t attrs{};
        xcb_translate_coordinates_cookie_t place{};
        xcb_get_geometry_cookie_t size{};
    };
    std::vector<Client> clients;
    // Every request of the pass as sent, to drop the replies of a pass that is not collected.
    std::vector<unsigned> sequences() const {
        std::vector<unsigned> out;
        for (const auto* root :
             {tree ? &tree->sequence : nullptr, rootGeometry ? &rootGeometry->sequence : nullptr,
              clientList ? &clientList->sequence : nullptr, active ? &active->sequence : nullptr,
              desktop ? &desktop->sequence : nullptr}) {
            if (root != nullptr) {
                out.push_back(*root);
            }
        }
        for (const Top& t : tops) {
            out.insert(out.end(), {t.attrs.sequence, t.geometry.sequence});
        }
        for (const Client& f : clients) {
            for (unsigned sequence :
                 {f.state.sequence, f.type.sequence, f.extents.sequence, f.wmClass.sequence,
                  f.attrs.sequence, f.place.sequence, f.size.sequence}) {
                if (sequence != 0) {
                    out.push_back(sequence);
                }
            }
        }
        return out;
    }
    bool empty() const {
        return !tree && !rootGeometry && !clientList && !active && !desktop && tops.empty() &&
               clients.empty();
    }
};

// A safety-net step in flight: its requests, the slice it re-reads, and a last request whose
// reply shows that all the others are in.
struct X11WindowCache::Sweep {
    Pass pass;
    std::vector<xcb_window_t> tops;
    std::vector<xcb_window_t> clients;
    xcb_get_input_focus_cookie_t last{};
    std::chrono::steady_clock::time_point sent;
    // Events or a pass came after it was sent: its replies may be older than the facts.
    bool stale = false;
};

X11WindowCache::X11WindowCache(X11Context& context) : ctx_(context) {}

X11WindowCache::~X11WindowCache() {
    if (sweep_) {
        sweep_->stale = true;
        finishSweep();
    }
}

void X11WindowCache::setListening(bool listening) {
    listening_ = listening;
    lastSweep_ = std::chrono::steady_clock::now();
    if (sweep_) {
        sweep_->stale = true;
    }
}

void X11WindowCache::sweepOutdated() {
    if (sweep_) {
        sweep_->stale = true;
    }
}

const TopLevelFacts* X11WindowCache::topLevel(xcb_window_t window) const {
    auto it = tops_.find(window);
    return it == tops_.end() ? nullptr : &it->second;
}

const ClientFacts* X11WindowCache::client(xcb_window_t window) const {
    auto it = clients_.find(window);
    return it == clients_.end() ? nullptr : &it->second;
}

xcb_window_t X11WindowCache::clientOf(xcb_window_t topLevel) const {
    auto it = clientOfTop_.find(topLevel);
    return it == clientOfTop_.end() ? 0 : it->second;
}

bool X11WindowCache::dirty() const {
    return treeDirty_ || rootDirty_ || clientListDirty_ || activeDirty_ || desktopDirty_ ||
           !dirtyTops_.empty() || !dirtyClients_.empty();
}

void X11WindowCache::invalidate() {
    sweepOutdated();
    membersChanged_ = true;
    treeDirty_ = rootDirty_ = clientListDirty_ = activeDirty_ = desktopDirty_ = true;
    stackingListDirty_ = true;
    for (const auto& [id, facts] : tops_) {
        dirtyTops_.insert(id);
    }
    for (const auto& [id, facts] : clients_) {
        dirtyClients_[id] |= kAll;
    }
}

void X11WindowCache::sweepStep() {
    if (sweep_) {
        finishSweep();
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - lastEvent_ < kQuietBeforeSweep || now - lastSweep_ < sweepInterval_ ||
        ctx_.connectionBroken()) {
        return;
    }
    lastSweep_ = now;
    sendSweep();
}

void X11WindowCache::sendSweep() {
    xcb_connection_t* c = ctx_.connection();
    const Atoms& a = ctx_.atoms();
    const xcb_window_t root = ctx_.root();
    auto sweep = std::make_unique<Sweep>();
    Pass& pass = sweep->pass;
    pass.tree = xcb_query_tree(c, root);
    pass.rootGeometry = xcb_get_geometry(c, root);
    ctx_.stats().requests += 2;
    pass.clientList = ctx_.requestProperty(root, a.netClientList, XCB_ATOM_WINDOW, 65536);
    pass.active = ctx_.requestProperty(root, a.netActiveWindow, XCB_ATOM_WINDOW, 1);
    pass.desktop = ctx_.requestProperty(root, a.netCurrentDesktop, XCB_ATOM_CARDINAL, 1);
    stackingListDirty_ = true;
    if (sweepTops_.empty() && sweepClients_.empty()) {
        sweepTops_.assign(stack_.begin(), stack_.end());
        sweepClients_.assign(clientList_.begin(), clientList_.end());
    }
    const auto questions = kClientReplies * clientList_.size() + kTopLevelReplies * stack_.size();
    int budget =
        std::max(kSweepReplies, int((questions + kStepsPerCoverage - 1) / kStepsPerCoverage));
    std::vector<std::pair<xcb_window_t, unsigned>> clients;
    while (budget > 0 && !sweepClients_.empty()) {
        const xcb_window_t w = sweepClients_.back();
        sweepClients_.pop_back();
        // Only a client whose top-level is known can be read (where it sits in its frame).
        if (auto it = clients_.find(w);
            it != clients_.end() && tops_.count(it->second.topLevel) != 0) {
            clients.emplace_back(w, kAll);
            sweep->clients.push_back(w);
            budget -= kClientReplies;
        }
    }
    while (budget > 0 && !sweepTops_.empty()) {
        if (tops_.count(sweepTops_.back()) != 0) {
            sweep->tops.push_back(sweepTops_.back());
            budget -= kTopLevelReplies;
        }
        sweepTops_.pop_back();
    }
    sendTopLevelRequests(pass, sweep->tops);
    sendClientRequests(pass, clients);
    sweep->last = xcb_get_input_focus(c);
    ++ctx_.stats().requests;
    xcb_flush(c);
    sweep->sent = std::chrono::steady_clock::now();
    sweep_ = std::move(sweep);
}

void X11WindowCache::finishSweep() {
    xcb_connection_t* c = ctx_.connection();
    Sweep& sweep = *sweep_;
    if (sweep.stale) {
        // Read again at the next interval; the replies are dropped as they come.
        for (unsigned sequence : sweep.pass.sequences()) {
            xcb_discard_reply(c, sequence);
        }
        xcb_discard_reply(c, sweep.last.sequence);
        sweepTops_.insert(sweepTops_.end(), sweep.tops.begin(), sweep.tops.end());
        sweepClients_.insert(sweepClients_.end(), sweep.clients.begin(), sweep.clients.end());
        sweep_.reset();
        return;
    }
    void* reply = nullptr;
    xcb_generic_error_t* error = nullptr;
    if (xcb_poll_for_reply(c, sweep.last.sequence, &reply, &error) == 0) {
        if (std::chrono::steady_clock::now() - sweep.sent < kSweepPatience) {
            return;  // not all in yet: the next tick looks again
        }
        xcb_discard_reply(c, sweep.last.sequence);
    }
    std::free(reply);
    std::free(error);
    // Replies are read in order: with the last one in, collecting the others waits for nothing.
    const auto pending = std::move(sweep_);
    if (collect(pending->pass)) {
        settle();
    }
}

// --- Events -------------------------------------------------------------------------------

bool X11WindowCache::afterTree(const xcb_generic_event_t* event) const {
    // An event sent before the server answered our last tree read is already part of it.
    return treeRead_ && static_cast<std::int32_t>(event->full_sequence - treeSequence_) >= 0;
}

bool X11WindowCache::beforeOwnRestack(const xcb_generic_event_t* event) const {
    return lastOwnRestack_ && sentBefore(event->full_sequence, *lastOwnRestack_);
}

void X11WindowCache::ownRestack(xcb_window_t overlay, std::optional<xcb_window_t> sibling,
                                std::uint32_t mode, xcb_void_cookie_t request) {
    changed();
    sweepOutdated();
    if (request.sequence == 0) {
        treeDirty_ = true;
        return;
    }
    ownRequests_.push_back(request.sequence);
    if (ownRequests_.size() > kMaxOwnRequests) {
        xcb_discard_reply(ctx_.connection(), ownRequests_.front());
        ownRequests_.erase(ownRequests_.begin());
        treeDirty_ = true;
    }
    lastOwnRestack_ = request.sequence;
    ownLast_[overlay] = request.sequence;
    auto at = std::find(stack_.begin(), stack_.end(), overlay);
    if (!listening_ || !treeRead_ || at == stack_.end() ||
        (sibling && std::find(stack_.begin(), stack_.end(), *sibling) == stack_.end())) {
        treeDirty_ = true;  // not a window we know the place of: ask
        return;
    }
    stack_.erase(at);
    if (!sibling) {
        stack_.insert(mode == XCB_STACK_MODE_ABOVE ? stack_.end() : stack_.begin(), overlay);
        return;
    }
    auto next = std::find(stack_.begin(), stack_.end(), *sibling);
    stack_.insert(mode == XCB_STACK_MODE_ABOVE ? next + 1 : next, overlay);
}

void X11WindowCache::ownMapping(xcb_window_t overlay, bool mapped) {
    changed();
    sweepOutdated();
    auto it = tops_.find(overlay);
    if (it == tops_.end()) {
        treeDirty_ = true;  // created a moment ago: its events are still on their way
        return;
    }
    it->second.mapped = mapped;
}

void X11WindowCache::ownRequestConfirmed(std::uint32_t sequence) {
    auto it = std::find(ownRequests_.begin(), ownRequests_.end(), sequence);
    if (it != ownRequests_.end()) {
        xcb_discard_reply(ctx_.connection(), sequence);
        ownRequests_.erase(it);
    }
}

void X11WindowCache::settleOwnRequests() {
    xcb_connection_t* c = ctx_.connection();
    std::erase_if(ownRequests_, [&](std::uint32_t sequence) {
        void* reply = nullptr;
        xcb_generic_error_t* error = nullptr;
        if (xcb_poll_for_reply(c, sequence, &reply, &error) == 0) {
            return false;  // not answered yet
        }
        std::free(reply);
        if (error != nullptr) {
            // The sibling went away before the server took the request: the overlay stayed
            // where it was, not where the kept order put it.
            treeDirty_ = true;
            std::free(error);
        }
        return true;
    });
}

void X11WindowCache::eraseFromStack(xcb_window_t window) {
    auto it = std::find(stack_.begin(), stack_.end(), window);
    if (it != stack_.end()) {
        stack_.erase(it);
    }
}

void X11WindowCache::placeAbove(xcb_window_t window, xcb_window_t sibling) {
    eraseFromStack(window);
    if (sibling == XCB_NONE) {
        stack_.insert(stack_.begin(), window);
        return;
    }
    auto it = std::find(stack_.begin(), stack_.end(), sibling);
    if (it == stack_.end()) {
        stack_.push_back(window);
        treeDirty_ = true;  // out of step with the server: ask once
        return;
    }
    stack_.insert(it + 1, window);
}

void X11WindowCache::markClient(xcb_window_t window, unsigned dirt) {
    if (clients_.count(window) != 0) {
        dirtyClients_[window] |= dirt;
    }
}

X11WindowCache::Change X11WindowCache::apply(const xcb_generic_event_t* event) {
    const Change change = applyEvent(event);
    if (change != Change::None) {
        lastEvent_ = std::chrono::steady_clock::now();
        sweepOutdated();  // the event may be newer than the sweep's replies
    }
    return change;
}

X11WindowCache::Change X11WindowCache::applyEvent(const xcb_generic_event_t* event) {
    const xcb_window_t root = ctx_.root();
    const Atoms& a = ctx_.atoms();
    // What an on-screen change of a root child means: ours and unmapped ones change nothing the
    // engine decides on.
    auto onScreenChange = [&](xcb_window_t window, bool wasMapped) {
        auto it = tops_.find(window);
        const bool mapped = it != tops_.end() && it->second.mapped;
        if (ctx_.isOverlay(window) || (!mapped && !wasMapped)) {
            return Change::Quiet;
        }
        return Change::Relevant;
    };
    switch (event->response_type & 0x7f) {
        case XCB_CREATE_NOTIFY: {
            auto* ev = reinterpret_cast<const xcb_create_notify_event_t*>(event);
            if (ev->parent != root) {
                return Change::None;
            }
            ctx_.forget(ev->window);  // a new window may reuse the id of one long gone
            membersChanged_ = true;
            TopLevelFacts& facts = tops_[ev->window];
            facts = TopLevelFacts{true, ev->override_redirect != 0, false,
                                  outerRect(ev->x, ev->y, ev->width, ev->height, ev->border_width)};
            if (facts.overrideRedirect) {
                dirtyTops_.insert(ev->window);  // whether it is ever drawn
            }
            if (afterTree(event) &&
                std::find(stack_.begin(), stack_.end(), ev->window) == stack_.end()) {
                stack_.push_back(ev->window);  // a new window starts on top of its siblings
            }
            changed();
            return Change::Quiet;
        }
        case XCB_DESTROY_NOTIFY: {
            auto* ev = reinterpret_cast<const xcb_destroy_notify_event_t*>(event);
            const xcb_window_t w = ev->window;
            Change result = Change::Quiet;
            membersChanged_ = true;
            if (auto it = tops_.find(w); it != tops_.end()) {
                result = onScreenChange(w, it->second.mapped);
                tops_.erase(it);
                eraseFromStack(w);
                dirtyTops_.erase(w);
                if (xcb_window_t held = clientOf(w)) {
                    // The frame went before its client left the list: find its new place.
                    clients_[held].topLevel = 0;
                    markClient(held, kAll);
                    clientOfTop_.erase(w);
                }
            }
            if (auto it = clients_.find(w); it != clients_.end()) {
                if (clientOf(it->second.topLevel) == w) {
                    clientOfTop_.erase(it->second.topLevel);
                }
                clients_.erase(it);
                dirtyClients_.erase(w);
                ++clientsGeneration_;
                result = Change::Relevant;
            }
            selected_.erase(w);
            parentHint_.erase(w);
            ownLast_.erase(w);
            ctx_.forget(w);
            changed();
            return result;
        }
        case XCB_MAP_NOTIFY:
        case XCB_UNMAP_NOTIFY: {
            const bool mapping = (event->response_type & 0x7f) == XCB_MAP_NOTIFY;
            xcb_window_t w;
            xcb_window_t on;
            bool overrideRedirect = false;
            if (mapping) {
                auto* ev = reinterpret_cast<const xcb_map_notify_event_t*>(event);
                w = ev->window;
                on = ev->event;
                overrideRedirect = ev->override_redirect != 0;
            } else {
                auto* ev = reinterpret_cast<const xcb_unmap_notify_event_t*>(event);
                w = ev->window;
                on = ev->event;
            }
            if (on == root) {
                auto it = tops_.find(w);
                if (it == tops_.end()) {
                    return Change::None;
                }
                const bool was = it->second.mapped;
                it->second.mapped = mapping;
                if (mapping) {
                    it->second.overrideRedirect = overrideRedirect;
                }
                changed();
                return onScreenChange(w, was);
            }
            auto client = clients_.find(w);
            if (on != w || client == clients_.end()) {
                return Change::None;
            }
            client->second.mapped = mapping;
            changed();
            return Change::Relevant;
        }
        case XCB_CONFIGURE_NOTIFY: {
            auto* ev = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
            if (ev->window == root) {
                root_ = Rect{0, 0, double(ev->width), double(ev->height)};
                changed();
                return Change::Relevant;
            }
            if (ev->event != root) {
                // A client resized or moved inside its frame: where the decorations lie changed.
                // (The manager's own notices of a frame move, sent events, change nothing here.)
                auto c = clients_.find(ev->window);
                if ((event->response_type & 0x80) != 0 || ev->event != ev->window ||
                    c == clients_.end() || c->second.topLevel == ev->window) {
                    return Change::None;
                }
                markClient(ev->window, kExtents);
                return Change::Relevant;
            }
            auto it = tops_.find(ev->window);
            if (it == tops_.end()) {
                return Change::None;
            }
            const Rect outer = outerRect(ev->x, ev->y, ev->width, ev->height, ev->border_width);
            bool moved = false;
            if (ctx_.isOverlay(ev->window)) {
                ownRequestConfirmed(event->full_sequence);
            }
            if (afterTree(event)) {
                auto pos = std::find(stack_.begin(), stack_.end(), ev->window);
                const xcb_window_t below =
                    pos == stack_.end() || pos == stack_.begin() ? XCB_NONE : *(pos - 1);
                if (pos == stack_.end() || below != ev->above_sibling) {
                    auto own = ownLast_.find(ev->window);
                    if (own != ownLast_.end() && sentBefore(event->full_sequence, own->second)) {
                        // An overlay's place before our newer restack of it: that one's own
                        // event follows.
                    } else if (beforeOwnRestack(event)) {
                        // A move from before our restack, which the kept order already shows:
                        // where the two cross the event cannot tell.
                        treeDirty_ = true;
                        moved = true;
                    } else {
                        placeAbove(ev->window, ev->above_sibling);
                        moved = true;
                    }
                }
            }
            const bool resized = !(it->second.outer == outer);
            if (it->second.outer.width != outer.width || it->second.outer.height != outer.height) {
                markClient(clientOf(ev->window), kExtents);  // the client may sit elsewhere in it
            }
            it->second.outer = outer;
            it->second.overrideRedirect = ev->override_redirect != 0;
            if (!moved && !resized) {
                return Change::Quiet;
            }
            changed();
            return onScreenChange(ev->window, false);
        }
        case XCB_CIRCULATE_NOTIFY: {
            auto* ev = reinterpret_cast<const xcb_circulate_notify_event_t*>(event);
            if (ev->event != root || tops_.count(ev->window) == 0) {
                return Change::None;
            }
            if (afterTree(event) && beforeOwnRestack(event)) {
                treeDirty_ = true;
            } else if (afterTree(event)) {
                eraseFromStack(ev->window);
                if (ev->place == XCB_PLACE_ON_TOP) {
                    stack_.push_back(ev->window);
                } else {
                    stack_.insert(stack_.begin(), ev->window);
                }
            }
            changed();
            return onScreenChange(ev->window, false);
        }
        case XCB_GRAVITY_NOTIFY: {
            auto* ev = reinterpret_cast<const xcb_gravity_notify_event_t*>(event);
            auto it = tops_.find(ev->window);
            if (ev->event != root || it == tops_.end()) {
                return Change::None;
            }
            it->second.outer.x = ev->x;
            it->second.outer.y = ev->y;
            changed();
            return onScreenChange(ev->window, false);
        }
        case XCB_REPARENT_NOTIFY: {
            auto* ev = reinterpret_cast<const xcb_reparent_notify_event_t*>(event);
            const xcb_window_t w = ev->window;
            changed();
            membersChanged_ = true;
            if (ev->event == root && ev->parent == root) {
                // Joined the root (a client the manager let go): its size is not in the event.
                TopLevelFacts& facts = tops_[w];
                facts.overrideRedirect = ev->override_redirect != 0;
                facts.known = false;
                dirtyTops_.insert(w);
                if (afterTree(event) &&
                    std::find(stack_.begin(), stack_.end(), w) == stack_.end()) {
                    stack_.push_back(w);
                }
                return Change::Relevant;
            }
            if (ev->event == root) {
                // Left the root, usually into the frame the manager made for it.
                auto it = tops_.find(w);
                const bool was = it != tops_.end() && it->second.mapped;
                if (it != tops_.end()) {
                    tops_.erase(it);
                }
                eraseFromStack(w);
                dirtyTops_.erase(w);
                parentHint_[w] = ev->parent;
                if (auto c = clients_.find(w); c != clients_.end()) {
                    c->second.topLevel = 0;
                    markClient(w, kAll);
                }
                return was ? Change::Relevant : Change::Quiet;
            }
            if (ev->event == w && clients_.count(w) != 0) {
                // A client moved between frames: find its top-level again.
                parentHint_[w] = ev->parent;
                clients_[w].topLevel = 0;
                markClient(w, kAll);
                return Change::Relevant;
            }
            return Change::None;
        }
        case XCB_PROPERTY_NOTIFY: {
            auto* ev = reinterpret_cast<const xcb_property_notify_event_t*>(event);
            if (ev->window == root) {
                // A manager often writes the same list twice in one change (openbox sets the
                // active window twice per activation): a write our last read already saw asks
                // for nothing.
                auto seen = [&](const std::optional<std::uint32_t>& read) {
                    return read && sentBefore(event->full_sequence, *read);
                };
                if (ev->atom == a.netActiveWindow) {
                    if (seen(activeRead_)) {
                        return Change::None;
                    }
                    activeDirty_ = true;
                } else if (ev->atom == a.netClientList) {
                    if (seen(clientListRead_)) {
                        return Change::None;
                    }
                    clientListDirty_ = true;
                } else if (ev->atom == a.netCurrentDesktop) {
                    if (seen(desktopRead_)) {
                        return Change::None;
                    }
                    desktopDirty_ = true;
                } else if (ev->atom == a.netClientListStacking) {
                    // The real stacking comes from the structure events; this list is read
                    // only when someone asks for it.
                    stackingListDirty_ = true;
                    return Change::Quiet;
                } else {
                    return Change::None;
                }
                return Change::Relevant;
            }
            if (ev->atom == XCB_ATOM_WM_CLASS) {
                ctx_.forgetClass(ev->window);
                if (clients_.count(ev->window) == 0) {
                    return Change::Quiet;
                }
                // Exclusions go by class: a renamed window may have to show, or stop showing.
                markClient(ev->window, kClass);
                return Change::Relevant;
            }
            unsigned dirt = 0;
            if (ev->atom == a.netWmState) {
                dirt = kState;
            } else if (ev->atom == a.netWmWindowType) {
                dirt = kType;
            } else if (ev->atom == a.netFrameExtents) {
                dirt = kExtents;
            }
            if (dirt == 0 || clients_.count(ev->window) == 0) {
                return Change::None;
            }
            markClient(ev->window, dirt);
            return Change::Relevant;
        }
        default:
            return Change::None;
    }
}

// --- The pass ------------------------------------------------------------------------------

void X11WindowCache::sendRootRequests(Pass& pass) {
    xcb_connection_t* c = ctx_.connection();
    const xcb_window_t root = ctx_.root();
    const Atoms& a = ctx_.atoms();
    if (treeDirty_) {
        pass.tree = xcb_query_tree(c, root);
        ++ctx_.stats().requests;
    }
    if (rootDirty_) {
        pass.rootGeometry = xcb_get_geometry(c, root);
        ++ctx_.stats().requests;
    }
    if (clientListDirty_) {
        pass.clientList = ctx_.requestProperty(root, a.netClientList, XCB_ATOM_WINDOW, 65536);
        clientListRead_ = pass.clientList->sequence;
    }
    if (activeDirty_) {
        pass.active = ctx_.requestProperty(root, a.netActiveWindow, XCB_ATOM_WINDOW, 1);
        activeRead_ = pass.active->sequence;
    }
    if (desktopDirty_) {
        pass.desktop = ctx_.requestProperty(root, a.netCurrentDesktop, XCB_ATOM_CARDINAL, 1);
        desktopRead_ = pass.desktop->sequence;
    }
    treeDirty_ = rootDirty_ = clientListDirty_ = activeDirty_ = desktopDirty_ = false;
}

void X11WindowCache::sendTopLevelRequests(Pass& pass, const std::vector<xcb_window_t>& windows) {
    xcb_connection_t* c = ctx_.connection();
    for (xcb_window_t w : windows) {
        pass.tops.push_back({w, xcb_get_window_attributes(c, w), xcb_get_geometry(c, w)});
    }
    ctx_.stats().requests += 2 * windows.size();
}

void X11WindowCache::sendClientRequests(
    Pass& pass, const std::vector<std::pair<xcb_window_t, unsigned>>& windows) {
    xcb_connection_t* c = ctx_.connection();
    const Atoms& a = ctx_.atoms();
    for (const auto& [w, dirt] : windows) {
        Pass::Client f{w, dirt};
        if (dirt & kState) {
            f.state = ctx_.requestProperty(w, a.netWmState, XCB_ATOM_ATOM, 64);
        }
        if (dirt & kType) {
            f.type = ctx_.requestProperty(w, a.netWmWindowType, XCB_ATOM_ATOM, 64);
        }
        if (f.dirt & kExtents) {
            f.extents = ctx_.requestProperty(w, a.netFrameExtents, XCB_ATOM_CARDINAL, 4);
            auto it = clients_.find(w);
            if (it != clients_.end() && it->second.topLevel != w) {
                f.place = xcb_translate_coordinates(c, w, it->second.topLevel, 0, 0);
                f.size = xcb_get_geometry(c, w);
                ctx_.stats().requests += 2;
            }
        }
        if (dirt & kClass) {
            f.wmClass = ctx_.requestProperty(w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 256);
        }
        if (dirt & kMapState) {
            f.attrs = xcb_get_window_attributes(c, w);
            ++ctx_.stats().requests;
        }
        pass.clients.push_back(f);
    }
}

void X11WindowCache::selectOn(Pass&, const std::vector<xcb_window_t>& clients) {
    xcb_connection_t* c = ctx_.connection();
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    for (xcb_window_t w : clients) {
        // Our own windows are the toolkit's, which already selected these: setting a mask from
        // this connection would replace its own.
        if (selected_.count(w) != 0 || ctx_.ownsWindow(w)) {
            continue;
        }
        selected_.insert(w);
        ++ctx_.stats().requests;
        ctx_.discard(xcb_change_window_attributes_checked(c, w, XCB_CW_EVENT_MASK, &mask));
    }
}

bool X11WindowCache::collect(Pass& pass) {
    xcb_connection_t* c = ctx_.connection();
    ++ctx_.stats().roundTrips;
    std::vector<xcb_window_t> freshClients;
    if (pass.tree) {
        auto tree = awaitReply(c, xcb_query_tree_reply, *pass.tree);
        if (!tree) {
            ctx_.connectionBroken();
            return false;
        }
        const xcb_window_t* kids = xcb_query_tree_children(tree.get());
        adoptTree(
            std::vector<xcb_window_t>(kids, kids + xcb_query_tree_children_length(tree.get())),
            pass.tree->sequence);
    }
    if (pass.rootGeometry) {
        auto geometry = awaitReply(c, xcb_get_geometry_reply, *pass.rootGeometry);
        if (!geometry) {
            ctx_.connectionBroken();
            return false;
        }
        const Rect root{0, 0, double(geometry->width), double(geometry->height)};
        differs_ |= !(root == root_);
        root_ = root;
    }
    if (pass.clientList) {
        auto reply = ctx_.collect(*pass.clientList);
        const bool listed = reply && reply->type != XCB_ATOM_NONE;
        differs_ |= listed != hasClientList_;
        hasClientList_ = listed;
        auto list = decodeWindowList(PropertyView::of(reply.get()));
        if (list != clientList_) {
            clientList_ = std::move(list);
            ++clientsGeneration_;
            differs_ = true;
        }
        for (xcb_window_t w : clientList_) {
            if (clients_.count(w) == 0) {
                freshClients.push_back(w);
            }
        }
        // Every client was listed when it was adopted: the same number listed and known, none
        // of them new, means none left.
        if (!freshClients.empty() || clients_.size() != clientList_.size()) {
            membersChanged_ = true;
            std::unordered_set<xcb_window_t> listed(clientList_.begin(), clientList_.end());
            std::erase_if(clients_, [&](const auto& kv) { return listed.count(kv.first) == 0; });
            std::erase_if(dirtyClients_,
                          [&](const auto& kv) { return listed.count(kv.first) == 0; });
        }
    }
    if (pass.active) {
        auto reply = ctx_.collect(*pass.active);
        const auto active = decodeWindow(PropertyView::of(reply.get()));
        differs_ |= active != active_;
        active_ = active;
    }
    if (pass.desktop) {
        auto reply = ctx_.collect(*pass.desktop);
        const auto desktop = decodeCardinal(PropertyView::of(reply.get()));
        differs_ |= desktop != desktop_;
        desktop_ = desktop;
    }
    for (const Pass::Top& t : pass.tops) {
        auto attrs = awaitReply(c, xcb_get_window_attributes_reply, t.attrs);
        auto geometry = awaitReply(c, xcb_get_geometry_reply, t.geometry);
        auto it = tops_.find(t.id);
        if (it == tops_.end()) {
            continue;  // destroyed or reparented meanwhile
        }
        if (!attrs || !geometry) {
            tops_.erase(it);  // gone; its DestroyNotify is on its way
            eraseFromStack(t.id);
            membersChanged_ = true;
            continue;
        }
        const TopLevelFacts read{true, attrs->override_redirect != 0,
                                 attrs->map_state == XCB_MAP_STATE_VIEWABLE,
                                 outerRect(geometry->x, geometry->y, geometry->width,
                                           geometry->height, geometry->border_width),
                                 attrs->_class == XCB_WINDOW_CLASS_INPUT_ONLY};
        differs_ |= !(read == it->second);
        it->second = read;
    }
    const Atoms& a = ctx_.atoms();
    for (const Pass::Client& f : pass.clients) {
        Reply<xcb_get_property_reply_t> state, type, extents, wmClass;
        Reply<xcb_get_window_attributes_reply_t> attrs;
        Reply<xcb_translate_coordinates_reply_t> place;
        Reply<xcb_get_geometry_reply_t> size;
        if (f.dirt & kState) {
            state = ctx_.collect(f.state);
        }
        if (f.dirt & kType) {
            type = ctx_.collect(f.type);
        }
        if (f.dirt & kExtents) {
            extents = ctx_.collect(f.extents);
            if (f.place.sequence != 0) {
                place = awaitReply(c, xcb_translate_coordinates_reply, f.place);
                size = awaitReply(c, xcb_get_geometry_reply, f.size);
            }
        }
        if (f.dirt & kClass) {
            wmClass = ctx_.collect(f.wmClass);
        }
        if (f.dirt & kMapState) {
            attrs = awaitReply(c, xcb_get_window_attributes_reply, f.attrs);
        }
        auto it = clients_.find(f.id);
        if (it == clients_.end()) {
            continue;
        }
        ClientFacts& facts = it->second;
        const ClientFacts before = facts;
        if (f.dirt & kState) {
            const WindowState decoded = decodeWindowState(PropertyView::of(state.get()), a);
            if (!(decoded == facts.state) || !facts.known) {
                facts.state = decoded;
                ++clientsGeneration_;
            }
        }
        if (f.dirt & kType) {
            facts.type = decodeWindowType(PropertyView::of(type.get()), a);
        }
        if (f.dirt & kExtents) {
            facts.extents = decodeFrameExtents(PropertyView::of(extents.get()));
            facts.inFrame.reset();
            if (place && size) {
                facts.inFrame = outerRect(std::int16_t(place->dst_x - size->border_width),
                                          std::int16_t(place->dst_y - size->border_width),
                                          size->width, size->height, size->border_width);
            }
        }
        if (f.dirt & kClass) {
            facts.wmClass = decodeWmClassNames(PropertyView::of(wmClass.get()));
        }
        if (f.dirt & kMapState) {
            if (!attrs) {
                clients_.erase(it);  // gone; the list drops it next
                membersChanged_ = true;
                continue;
            }
            facts.mapped = attrs->map_state != XCB_MAP_STATE_UNMAPPED;
            facts.overrideRedirect = attrs->override_redirect != 0;
        }
        facts.known = true;
        differs_ |= !(facts == before);
    }
    if (!freshClients.empty()) {
        adoptNewClients(freshClients);
    }
    return true;
}

void X11WindowCache::adoptTree(const std::vector<xcb_window_t>& children, std::uint32_t sequence) {
    treeRead_ = true;
    treeSequence_ = sequence;
    if (stack_ != children) {
        differs_ = true;
        stack_ = children;
    }
    // Usually the same windows in another order (we read the tree again after our own
    // restack): then there is nothing to add or drop.
    std::size_t present = 0;
    for (xcb_window_t w : children) {
        auto it = tops_.find(w);
        if (it == tops_.end()) {
            continue;
        }
        ++present;
        if (!it->second.known) {
            dirtyTops_.insert(w);
        }
    }
    if (present == children.size() && tops_.size() == children.size()) {
        return;
    }
    membersChanged_ = true;
    std::unordered_set<xcb_window_t> listed(children.begin(), children.end());
    std::erase_if(tops_, [&](const auto& kv) { return listed.count(kv.first) == 0; });
    for (xcb_window_t w : children) {
        if (!tops_[w].known) {
            dirtyTops_.insert(w);
        }
    }
}

void X11WindowCache::adoptNewClients(const std::vector<xcb_window_t>& fresh) {
    membersChanged_ = true;
    for (xcb_window_t w : fresh) {
        ClientFacts& facts = clients_[w];
        facts = ClientFacts{};
        dirtyClients_[w] |= kAll;
    }
}

void X11WindowCache::resolveTopLevels(std::vector<xcb_window_t> windows) {
    membersChanged_ = true;
    // The parent the last reparent named is usually the frame; otherwise walk up, one round
    // trip per level for all windows at once.
    std::vector<std::pair<xcb_window_t, xcb_window_t>> walking;
    for (xcb_window_t w : windows) {
        if (tops_.count(w) != 0) {
            clients_[w].topLevel = w;
            continue;
        }
        auto hint = parentHint_.find(w);
        if (hint != parentHint_.end() && tops_.count(hint->second) != 0) {
            clients_[w].topLevel = hint->second;
            continue;
        }
        walking.emplace_back(w, w);
    }
    xcb_connection_t* c = ctx_.connection();
    for (int depth = 0; depth < 16 && !walking.empty(); ++depth) {
        std::vector<xcb_query_tree_cookie_t> cookies;
        for (const auto& [origin, current] : walking) {
            cookies.push_back(xcb_query_tree(c, current));
        }
        ctx_.stats().requests += cookies.size();
        ++ctx_.stats().roundTrips;
        std::vector<std::pair<xcb_window_t, xcb_window_t>> next;
        for (std::size_t i = 0; i < walking.size(); ++i) {
            auto reply = awaitReply(c, xcb_query_tree_reply, cookies[i]);
            if (!reply) {
                continue;  // gone
            }
            const auto [origin, current] = walking[i];
            if (reply->parent == ctx_.root() || reply->parent == XCB_NONE) {
                clients_[origin].topLevel = current;
            } else if (tops_.count(reply->parent) != 0) {
                clients_[origin].topLevel = reply->parent;
            } else {
                next.emplace_back(origin, reply->parent);
            }
        }
        walking = std::move(next);
    }
}

bool X11WindowCache::update() {
    if (ctx_.connectionBroken()) {
        return false;
    }
    if (!listening_ || !hasClientList_) {
        invalidate();  // nothing keeps the facts current: read them all
    }
    if (!ownRequests_.empty()) {
        settleOwnRequests();
    }
    if (!dirty()) {
        return true;
    }
    sweepOutdated();  // this pass reads newer facts than it did
    Pass pass;
    sendRootRequests(pass);
    std::vector<xcb_window_t> tops(dirtyTops_.begin(), dirtyTops_.end());
    dirtyTops_.clear();
    sendTopLevelRequests(pass, tops);
    std::vector<std::pair<xcb_window_t, unsigned>> clients;
    for (const auto& [w, dirt] : dirtyClients_) {
        auto it = clients_.find(w);
        if (it != clients_.end() && it->second.topLevel != 0 &&
            tops_.count(it->second.topLevel) != 0) {
            clients.emplace_back(w, dirt);
        }
    }
    for (const auto& [w, dirt] : clients) {
        dirtyClients_.erase(w);
    }
    sendClientRequests(pass, clients);
    if (!collect(pass)) {
        return false;
    }

    // New windows: where they sit, who owns them, then everything about them. Selecting comes
    // before reading, so a change made after our read always sends an event.
    std::vector<xcb_window_t> unplaced;
    for (const auto& [w, dirt] : dirtyClients_) {
        auto it = clients_.find(w);
        if (it != clients_.end() &&
            (it->second.topLevel == 0 || tops_.count(it->second.topLevel) == 0)) {
            unplaced.push_back(w);
        }
    }
    if (!unplaced.empty()) {
        resolveTopLevels(unplaced);
    }
    if (!dirtyClients_.empty() || !dirtyTops_.empty()) {
        std::vector<xcb_window_t> fresh;
        for (const auto& [w, dirt] : dirtyClients_) {
            if (clients_.count(w) != 0 && clients_[w].topLevel != 0) {
                fresh.push_back(w);
            }
        }
        ctx_.resolvePids(fresh);
        Pass second;
        selectOn(second, fresh);
        std::vector<std::pair<xcb_window_t, unsigned>> more;
        for (xcb_window_t w : fresh) {
            more.emplace_back(w, dirtyClients_[w] | kAll);
        }
        dirtyClients_.clear();
        std::vector<xcb_window_t> moreTops(dirtyTops_.begin(), dirtyTops_.end());
        dirtyTops_.clear();
        sendTopLevelRequests(second, moreTops);
        sendClientRequests(second, more);
        if (!second.empty() && !collect(second)) {
            return false;
        }
        // Clients that vanished before they could be placed are dropped by the list's next
        // change; nothing is left dirty.
        dirtyClients_.clear();
        dirtyTops_.clear();
    }
    settle();
    return true;
}

void X11WindowCache::settle() {
    if (membersChanged_) {
        // Only when windows came, went or moved between frames: a focus change reorders the
        // same windows, and this is linear in all of them.
        membersChanged_ = false;
        differs_ = true;
        rebuildClientIndex();
        std::unordered_set<xcb_window_t> alive(stack_.begin(), stack_.end());
        alive.insert(clientList_.begin(), clientList_.end());
        ctx_.retainOnly(alive);
        // What windows gone unseen leave behind, dropped here with the windows that went rather
        // than by a walk per destroy: a client gone before our selection reached it sends us no
        // DestroyNotify, and one destroyed inside its frame before we adopted it leaves the hint
        // naming that frame (a hint is only ever used while its frame is a top-level).
        std::erase_if(selected_, [&](xcb_window_t w) { return alive.count(w) == 0; });
        std::erase_if(parentHint_, [&](const auto& hint) { return tops_.count(hint.second) == 0; });
    }
    if (differs_) {
        differs_ = false;
        changed();
    }
}

void X11WindowCache::rebuildClientIndex() {
    clientOfTop_.clear();
    for (const auto& [id, facts] : clients_) {
        if (facts.topLevel != 0) {
            clientOfTop_[facts.topLevel] = id;
        }
    }
}

const std::vector<xcb_window_t>& X11WindowCache::clientListStacking() {
    if (stackingListDirty_ || !listening_) {
        stackingList_ = ctx_.clientListStacking();
        stackingListDirty_ = false;
    }
    return stackingList_;
}

std::optional<Rect> X11WindowCache::boundsOf(xcb_window_t client) const {
    const ClientFacts* facts = this->client(client);
    if (facts == nullptr) {
        return std::nullopt;
    }
    const TopLevelFacts* top = topLevel(facts->topLevel);
    if (top == nullptr || !top->known) {
        return std::nullopt;
    }
    return boundsFrom(client, *facts, *top);
}

Rect X11WindowCache::boundsFrom(xcb_window_t client, const ClientFacts& facts,
                                const TopLevelFacts& top) {
    const Rect& r = top.outer;
    if (!facts.extents) {
        return r;
    }
    const FrameExtents& e = *facts.extents;
    if (facts.topLevel == client) {
        // Decorations drawn around a window that is its own top-level (a compositing manager).
        return Rect{r.x - e.left, r.y - e.top, r.width + e.left + e.right,
                    r.height + e.top + e.bottom};
    }
    if (!facts.inFrame) {
        return r;
    }
    // The client and its decorations, within the frame window: a frame larger than that keeps
    // an invisible border around it, and a shaded client leaves only what the frame shows.
    const Rect& in = *facts.inFrame;
    const double x0 = std::max(r.x, r.x + in.x - e.left);
    const double y0 = std::max(r.y, r.y + in.y - e.top);
    const double x1 = std::min(r.maxX(), r.x + in.maxX() + e.right);
    const double y1 = std::min(r.maxY(), r.y + in.maxY() + e.bottom);
    if (x1 <= x0 || y1 <= y0) {
        return r;
    }
    return Rect{x0, y0, x1 - x0, y1 - y0};
}

}  // namespace sombrix::x11

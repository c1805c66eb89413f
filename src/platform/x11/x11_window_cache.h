// What the backend knows about every top-level window and the root, kept up to date from the X
// events that change it: the stacking of the root's children, each child's geometry, map state
// and override-redirect flag (all carried by the structure events themselves), and for each
// client of the window manager its top-level, state, type and frame extents (re-read only when a
// property event names them). A pass asks the server only about what events marked as changed,
// so an idle desktop costs no request and a focus change one round trip. A safety net confirms
// the stacking and the root's lists every few seconds and re-reads every window, a few at a time
// while nothing happens, so that it never holds up a focus change: its requests go out at one
// tick and their replies are taken at a later one, and only a difference from what is known
// counts as a change.
#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/geometry.h"
#include "platform/x11/x11_context.h"

namespace sombrix::x11 {

// A child of the root as the structure events describe it.
struct TopLevelFacts {
    bool known = false;  // attributes and geometry read or learned from an event
    bool overrideRedirect = false;
    bool mapped = false;  // a mapped child of the root is viewable
    Rect outer;           // root coordinates, borders included
    // Never drawn (a manager's input catcher, such as the guard window mutter keeps beneath
    // everything over the whole screen). Read with the attributes, so a created
    // override-redirect window is read once.
    bool inputOnly = false;
    friend bool operator==(const TopLevelFacts&, const TopLevelFacts&) = default;
};

// A window the window manager lists as a client.
struct ClientFacts {
    xcb_window_t topLevel = 0;  // the root's child holding it; 0 while unknown
    bool known = false;         // its properties were read at least once
    bool mapped = true;
    bool overrideRedirect = false;
    WindowState state;
    std::optional<WindowType> type;
    std::optional<FrameExtents> extents;
    // The client's rectangle relative to its top-level's corner, read with the extents: what
    // the manager draws is this grown by the extents, and a frame window may be larger (mutter
    // adds an invisible resize border around it).
    std::optional<Rect> inFrame;
    WmClassNames wmClass;  // may change after mapping: re-read on its property event
    friend bool operator==(const ClientFacts&, const ClientFacts&) = default;
};

class X11WindowCache {
public:
    // What an event changed, for whoever decides whether a refresh must follow.
    enum class Change {
        None,      // nothing the backend keeps
        Quiet,     // kept facts changed, but nothing on screen (an unmapped window, an overlay)
        Relevant,  // the stacking, a window on screen, or a root list changed
    };

    explicit X11WindowCache(X11Context& context);
    ~X11WindowCache();

    // While listening, events keep the facts current; otherwise every pass reads everything.
    void setListening(bool listening);
    bool listening() const { return listening_; }
    // Whether events alone keep the facts current; otherwise every pass reads everything.
    bool eventsKeepCurrent() const { return listening_ && hasClientList_; }

    Change apply(const xcb_generic_event_t* event);

    // Reads what events marked as changed; nothing at all when nothing did. Returns false when
    // the server could not be asked.
    bool update();
    // The next update() reads everything again.
    void invalidate();
    // We just restacked an overlay by `request` (0: not on this connection): the kept order follows
    // the request at once, so that no pass shows the order from before it, and the server's events
    // confirm it. A request the server refused, or one whose outcome the events cannot tell, makes
    // the next update() read the order again.
    void ownRestack(xcb_window_t overlay, std::optional<xcb_window_t> sibling, std::uint32_t mode,
                    xcb_void_cookie_t request);
    // We just mapped or unmapped an overlay.
    void ownMapping(xcb_window_t overlay, bool mapped);
    // The periodic full re-read, a slice of the windows at a time: takes the replies of the
    // slice sent before once they are in (without waiting for them), or sends the next one when
    // it is due. Call when no event is pending; never blocks.
    void sweepStep();
    void setSweepInterval(std::chrono::milliseconds interval) { sweepInterval_ = interval; }
    bool dirty() const;

    // Grows whenever anything in the facts below changes (a re-read that finds them the same
    // leaves it alone).
    std::uint64_t generation() const { return generation_; }
    // Grows when the client list or a client's state changed: what the workspace notifications
    // are computed from.
    std::uint64_t clientsGeneration() const { return clientsGeneration_; }

    // Root children bottom to top.
    const std::vector<xcb_window_t>& stack() const { return stack_; }
    const TopLevelFacts* topLevel(xcb_window_t window) const;
    const ClientFacts* client(xcb_window_t window) const;
    // The client a root child holds, 0 when none.
    xcb_window_t clientOf(xcb_window_t topLevel) const;
    // _NET_CLIENT_LIST order; absent facts when the window manager publishes no list.
    const std::vector<xcb_window_t>& clients() const { return clientList_; }
    bool windowManagerLists() const { return hasClientList_; }
    std::optional<xcb_window_t> activeWindow() const { return active_; }
    std::optional<std::uint32_t> currentDesktop() const { return desktop_; }
    // _NET_CLIENT_LIST_STACKING, bottom to top; read when first asked after it changed.
    const std::vector<xcb_window_t>& clientListStacking();
    Rect rootBounds() const { return root_; }
    // Entries kept about windows, all tables together: windows that are gone leave none.
    std::size_t entriesKept() const {
        return tops_.size() + clients_.size() + clientOfTop_.size() + parentHint_.size() +
               selected_.size() + dirtyTops_.size() + dirtyClients_.size() + ownLast_.size();
    }

    // A client's visible frame in root coordinates: the client grown by the decorations the
    // manager says it draws, within the frame window; the frame window when it says nothing.
    std::optional<Rect> boundsOf(xcb_window_t client) const;
    // The same from the client's facts and those of its top-level.
    static Rect boundsFrom(xcb_window_t client, const ClientFacts& facts, const TopLevelFacts& top);

private:
    enum Dirt : unsigned {
        kState = 1,
        kType = 2,
        kExtents = 4,
        kMapState = 8,
        kClass = 16,
        kAll = 31,
    };
    struct Pass;
    struct Sweep;

    Change applyEvent(const xcb_generic_event_t* event);
    void sendRootRequests(Pass& pass);
    void sendTopLevelRequests(Pass& pass, const std::vector<xcb_window_t>& windows);
    void sendClientRequests(Pass& pass, const std::vector<std::pair<xcb_window_t, unsigned>>&);
    bool collect(Pass& pass);
    void adoptTree(const std::vector<xcb_window_t>& children, std::uint32_t sequence);
    // Clients that appeared in the list: their top-level, their owner, then their facts.
    void adoptNewClients(const std::vector<xcb_window_t>& fresh);
    void resolveTopLevels(std::vector<xcb_window_t> windows);
    void selectOn(Pass& pass, const std::vector<xcb_window_t>& clients);
    void rebuildClientIndex();

    // Stacking from structure events, skipped for events the last tree read already shows.
    bool afterTree(const xcb_generic_event_t* event) const;
    // Whether the event left the server before our newest restack: the kept order already
    // shows that restack, so such an event may describe an order that is no longer there.
    bool beforeOwnRestack(const xcb_generic_event_t* event) const;
    // Takes the outcome of our restacks that the server has answered since.
    void settleOwnRequests();
    void ownRequestConfirmed(std::uint32_t sequence);
    void eraseFromStack(xcb_window_t window);
    void placeAbove(xcb_window_t window, xcb_window_t sibling);
    void markClient(xcb_window_t window, unsigned dirt);
    void changed() { ++generation_; }
    // After a pass: the client index when windows came or went, and the generation when
    // anything read differed from what was known.
    void settle();
    void sendSweep();
    // Takes the sweep's replies once they are all in; drops them when the facts may have moved
    // on since it was sent.
    void finishSweep();
    // What we know now may be newer than the replies of the sweep in flight.
    void sweepOutdated();

    X11Context& ctx_;
    bool listening_ = false;

    std::vector<xcb_window_t> stack_;
    std::unordered_map<xcb_window_t, TopLevelFacts> tops_;
    std::unordered_map<xcb_window_t, ClientFacts> clients_;
    std::unordered_map<xcb_window_t, xcb_window_t> clientOfTop_;
    // Where a window went when it left the root (a frame): the likeliest top-level of a client.
    std::unordered_map<xcb_window_t, xcb_window_t> parentHint_;
    std::unordered_set<xcb_window_t> selected_;
    std::vector<xcb_window_t> clientList_;
    bool hasClientList_ = false;
    std::optional<xcb_window_t> active_;
    std::optional<std::uint32_t> desktop_;
    std::vector<xcb_window_t> stackingList_;
    Rect root_;

    // Windows were added, dropped or given another top-level since the index was built.
    bool membersChanged_ = true;
    bool treeDirty_ = true;
    bool rootDirty_ = true;
    bool clientListDirty_ = true;
    bool activeDirty_ = true;
    bool desktopDirty_ = true;
    bool stackingListDirty_ = true;
    std::unordered_set<xcb_window_t> dirtyTops_;
    std::unordered_map<xcb_window_t, unsigned> dirtyClients_;
    std::uint32_t treeSequence_ = 0;
    bool treeRead_ = false;
    // The requests of the last reads of the root's lists: a property event sent before one is
    // already in what it read.
    std::optional<std::uint32_t> activeRead_;
    std::optional<std::uint32_t> clientListRead_;
    std::optional<std::uint32_t> desktopRead_;
    // Our restacks whose outcome is not known yet, the newest of them, and each overlay's newest.
    std::vector<std::uint32_t> ownRequests_;
    std::optional<std::uint32_t> lastOwnRestack_;
    std::unordered_map<xcb_window_t, std::uint32_t> ownLast_;
    // A read of this pass found something other than what was known.
    bool differs_ = false;
    std::uint64_t generation_ = 0;
    std::uint64_t clientsGeneration_ = 0;

    std::chrono::milliseconds sweepInterval_{5000};
    std::chrono::steady_clock::time_point lastSweep_{};
    std::unique_ptr<Sweep> sweep_;  // sent, replies not taken yet
    std::chrono::steady_clock::time_point lastEvent_{};
    std::vector<xcb_window_t> sweepTops_;
    std::vector<xcb_window_t> sweepClients_;
};

}  // namespace sombrix::x11

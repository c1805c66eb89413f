// The list as the engine and the overlays read it, built from the event-driven facts: each root
// child front to back, a frame standing for the client it holds.
#include "platform/x11/x11_window_list.h"

#include <algorithm>
#include <cstdlib>

namespace sombrix::x11 {

namespace {

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

X11WindowList::X11WindowList(X11Context& context) : ctx_(context), cache_(context) {}

bool X11WindowList::update() {
    if (cache_.listening() && !cache_.dirty()) {
        cache_.sweepStep();
    }
    return cache_.update();
}

namespace {

// Assigns only what differs (a string keeps its storage), and says so.
template <typename T>
[[gnu::always_inline]] inline void assign(T& field, const T& value, bool& changed) {
    if (!(field == value)) {
        field = value;
        changed = true;
    }
}

}  // namespace

bool X11WindowList::fill(X11Window& w, xcb_window_t top, const TopLevelFacts& facts) const {
    // Mapped but entirely off the screen (window managers park helper windows at -100,-100)
    // is not on screen.
    const Rect screen = cache_.rootBounds();
    auto visibleOnScreen = [&](const Rect& r) {
        return r.width > 0 && r.height > 0 && r.maxX() > screen.minX() && r.x < screen.maxX() &&
               r.maxY() > screen.minY() && r.y < screen.maxY();
    };
    bool changed = false;
    assign(w.topLevel, top, changed);
    if (const xcb_window_t client = cache_.clientOf(top)) {
        const ClientFacts& c = *cache_.client(client);
        assign(w.id, client, changed);
        assign(w.managed, cache_.windowManagerLists(), changed);
        assign(w.overlay, false, changed);
        assign(w.state, c.state, changed);
        assign(w.wmClass.instance, c.wmClass.instance, changed);
        assign(w.wmClass.name, c.wmClass.name, changed);
        assign(w.desktop, c.type == WindowType::Desktop, changed);
        assign(w.layer, c.overrideRedirect ? layer::kPopup : layerFor(c.type, c.state), changed);
        // The facts at hand, rather than two more lookups per window and pass.
        std::optional<Rect> bounds;
        if (c.topLevel == top) {
            bounds = X11WindowCache::boundsFrom(client, c, facts);
        }
        assign(w.bounds, bounds, changed);
        assign(w.onScreen,
               facts.mapped && c.mapped && !c.state.hidden && bounds && visibleOnScreen(*bounds),
               changed);
        return changed;
    }
    static const std::string none;
    const bool overlay = ctx_.isOverlay(top);
    assign(w.overlay, overlay, changed);
    assign(w.managed, false, changed);
    assign(w.desktop, false, changed);
    assign(w.state, WindowState{}, changed);
    assign(w.wmClass.instance, none, changed);
    assign(w.wmClass.name, none, changed);
    assign(w.layer, overlay ? layer::kNormal : layer::kPopup, changed);
    if (!overlay && (!facts.overrideRedirect || facts.inputOnly)) {
        // A frame whose client is not listed (being managed or withdrawn), the window manager's
        // own furniture, or a window that is never drawn: not a window of any application.
        assign(w.id, xcb_window_t{0}, changed);
        return changed;
    }
    assign(w.id, top, changed);
    assign(w.bounds, std::optional<Rect>(facts.outer), changed);
    assign(w.onScreen, facts.mapped && visibleOnScreen(facts.outer), changed);
    return changed;
}

std::optional<std::vector<X11Window>> X11WindowList::windows() {
    const auto* all = current();
    if (!all) {
        return std::nullopt;
    }
    std::vector<X11Window> out;
    out.reserve(all->size());
    for (const Kept* k : *all) {
        out.push_back(k->window);
    }
    return out;
}

const std::vector<X11WindowList::Kept*>* X11WindowList::current() {
    if (!update()) {
        return nullptr;
    }
    if (passBuilt_ && lastPassGeneration_ == cache_.generation() &&
        lastPassOverlays_ == ctx_.overlaysGeneration()) {
        return &pass_;
    }
    const auto& stack = cache_.stack();
    ++passNumber_;
    pass_.clear();
    std::vector<Kept*> needPids;  // on-screen windows whose owner is not known yet
    for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
        const TopLevelFacts* facts = cache_.topLevel(*it);
        if (facts == nullptr || !facts->known) {
            continue;  // vanished mid-pass
        }
        Kept& k = kept_[*it];
        k.pass = passNumber_;
        bool changed = fill(k.window, *it, *facts);
        if (k.window.id == 0) {
            continue;
        }
        assign(k.window.pid, ctx_.cachedPid(k.window.id), changed);
        if (changed) {
            k.entry.reset();
        }
        if (!k.window.pid && k.window.onScreen) {
            needPids.push_back(&k);
        }
        pass_.push_back(&k);
    }
    // Owners are asked once per window (new popups and overlays; clients were asked on arrival).
    if (!needPids.empty()) {
        std::vector<xcb_window_t> ask;
        ask.reserve(needPids.size());
        for (const Kept* k : needPids) {
            ask.push_back(k->window.id);
        }
        ctx_.resolvePids(ask);
        for (Kept* k : needPids) {
            if ((k->window.pid = ctx_.cachedPid(k->window.id))) {
                k->entry.reset();
            }
        }
    }
    // What left the root is forgotten once it outnumbers what is there.
    if (kept_.size() > 2 * pass_.size() + 64) {
        std::erase_if(kept_, [&](const auto& item) { return item.second.pass != passNumber_; });
    }
    passBuilt_ = true;
    entriesCurrent_ = false;
    lastPassGeneration_ = cache_.generation();
    lastPassOverlays_ = ctx_.overlaysGeneration();
    return &pass_;
}

namespace {

RawWindowEntry entryOf(const X11Window& w) {
    RawWindowEntry e;
    e.number = static_cast<std::int64_t>(w.id);
    if (w.pid) {
        e.ownerPID = static_cast<std::int64_t>(*w.pid);
    }
    e.layer = static_cast<std::int64_t>(w.layer);
    if (w.bounds) {
        e.bounds = RawBounds{w.bounds->x, w.bounds->y, w.bounds->width, w.bounds->height};
    }
    e.classInstance = w.wmClass.instance;
    e.className = w.wmClass.name;
    return e;
}

}  // namespace

SharedWindowEntries X11WindowList::windowEntries() {
    const auto* all = current();
    if (!all) {
        return nullptr;
    }
    if (entriesCurrent_ && lastEntries_) {
        return lastEntries_;  // nothing changed since the last cycle took it
    }
    auto out = std::make_shared<std::vector<SharedWindowEntry>>();
    out->reserve(all->size());
    for (Kept* k : *all) {
        if (!k->window.onScreen || k->window.desktop) {
            continue;
        }
        if (!k->entry) {
            k->entry = std::make_shared<const RawWindowEntry>(entryOf(k->window));
        }
        out->push_back(k->entry);
    }
    lastEntries_ = std::move(out);
    entriesCurrent_ = true;
    return lastEntries_;
}

std::optional<std::uint64_t> X11WindowList::changeCount() {
    if (!cache_.eventsKeepCurrent() || ctx_.connectionBroken()) {
        return std::nullopt;
    }
    cache_.sweepStep();
    if (cache_.dirty()) {
        return std::nullopt;
    }
    // Each part only grows, so the sum moves whenever any of them does.
    return ctx_.eventsSeen() + cache_.generation() + ctx_.overlaysGeneration();
}

std::optional<xcb_window_t> X11WindowList::topLevelOf(xcb_window_t client) {
    // The pass that decided the arrangement already knows where every client sits.
    if (!update()) {
        return std::nullopt;
    }
    if (const ClientFacts* facts = cache_.client(client);
        facts && cache_.topLevel(facts->topLevel) != nullptr) {
        return facts->topLevel;
    }
    if (cache_.topLevel(client) != nullptr) {
        return client;
    }
    return std::nullopt;
}

std::optional<xcb_window_t> X11WindowList::topmostNormalTopLevel(xcb_window_t exclude) {
    const auto* all = current();
    if (!all) {
        return std::nullopt;
    }
    for (const Kept* k : *all) {
        const X11Window& w = k->window;
        if (w.onScreen && w.layer == layer::kNormal && !w.overlay && !w.desktop &&
            w.id != exclude && w.topLevel != exclude) {
            return w.topLevel;
        }
    }
    return std::nullopt;
}

std::optional<xcb_window_t> X11WindowList::topmostDesktopTopLevel() {
    const auto* all = current();
    if (!all) {
        return std::nullopt;
    }
    for (const Kept* k : *all) {
        const X11Window& w = k->window;
        if (w.onScreen && w.desktop) {
            return w.topLevel;
        }
    }
    return std::nullopt;
}

std::optional<Rect> X11WindowList::boundsOf(xcb_window_t client) {
    if (!update()) {
        return std::nullopt;
    }
    return cache_.boundsOf(client);
}

}  // namespace sombrix::x11

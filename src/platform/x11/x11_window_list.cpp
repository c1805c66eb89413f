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

void X11WindowList::fill(X11Window& w, xcb_window_t top, const TopLevelFacts& facts) const {
    // Mapped but entirely off the screen (window managers park helper windows at -100,-100)
    // is not on screen.
    const Rect screen = cache_.rootBounds();
    auto visibleOnScreen = [&](const Rect& r) {
        return r.width > 0 && r.height > 0 && r.maxX() > screen.minX() && r.x < screen.maxX() &&
               r.maxY() > screen.minY() && r.y < screen.maxY();
    };
    w.topLevel = top;
    w.pid.reset();
    w.bounds.reset();
    if (const xcb_window_t client = cache_.clientOf(top)) {
        const ClientFacts& c = *cache_.client(client);
        w.id = client;
        w.managed = cache_.windowManagerLists();
        w.overlay = false;
        w.state = c.state;
        w.wmClass.instance = c.wmClass.instance;  // assigned into the storage already there
        w.wmClass.name = c.wmClass.name;
        w.desktop = c.type == WindowType::Desktop;
        w.layer = c.overrideRedirect ? layer::kPopup : layerFor(c.type, c.state);
        // The facts at hand, rather than two more lookups per window and pass.
        if (c.topLevel == top) {
            w.bounds = X11WindowCache::boundsFrom(client, c, facts);
        }
        w.onScreen =
            facts.mapped && c.mapped && !c.state.hidden && w.bounds && visibleOnScreen(*w.bounds);
        return;
    }
    w.id = top;
    w.managed = false;
    w.desktop = false;
    w.state = WindowState{};
    w.wmClass.instance.clear();
    w.wmClass.name.clear();
    w.overlay = ctx_.isOverlay(top);
    w.layer = w.overlay ? layer::kNormal : layer::kPopup;
    w.onScreen = false;
    if (!w.overlay && (!facts.overrideRedirect || facts.inputOnly)) {
        // A frame whose client is not listed (being managed or withdrawn), the window manager's
        // own furniture, or a window that is never drawn: not a window of any application.
        w.id = 0;
        return;
    }
    w.bounds = facts.outer;
    w.onScreen = facts.mapped && visibleOnScreen(facts.outer);
}

std::optional<std::vector<X11Window>> X11WindowList::windows() {
    const auto* all = current();
    return all ? std::optional(*all) : std::nullopt;
}

const std::vector<X11Window>* X11WindowList::current() {
    if (!update()) {
        return nullptr;
    }
    if (lastPass_ && lastPassGeneration_ == cache_.generation() &&
        lastPassOverlays_ == ctx_.overlaysGeneration()) {
        return &*lastPass_;
    }
    const auto& stack = cache_.stack();
    // Built into the list before last: its strings keep their storage, so a class name is
    // copied without an allocation.
    std::vector<X11Window> result = std::move(spare_);
    std::size_t count = 0;
    std::vector<xcb_window_t> needPids;
    for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
        const TopLevelFacts* facts = cache_.topLevel(*it);
        if (facts == nullptr || !facts->known) {
            continue;  // vanished mid-pass
        }
        if (count == result.size()) {
            result.emplace_back();
        }
        X11Window& w = result[count];
        fill(w, *it, *facts);
        if (w.id == 0) {
            continue;
        }
        if (w.onScreen) {
            needPids.push_back(w.id);
        }
        ++count;
    }
    result.resize(count);
    // Owners are asked once per window (new popups and overlays; clients were asked on arrival).
    ctx_.resolvePids(needPids);
    for (X11Window& w : result) {
        w.pid = ctx_.cachedPid(w.id);
    }
    if (lastPass_) {
        spare_ = std::move(*lastPass_);
    }
    lastPass_ = std::move(result);
    entriesCurrent_ = false;
    lastPassGeneration_ = cache_.generation();
    lastPassOverlays_ = ctx_.overlaysGeneration();
    return &*lastPass_;
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

// Whether `e` is what entryOf(w) would build, read in place.
bool describes(const RawWindowEntry& e, const X11Window& w) {
    const auto* number = std::get_if<std::int64_t>(&e.number);
    const auto* pid = std::get_if<std::int64_t>(&e.ownerPID);
    const auto* layer = std::get_if<std::int64_t>(&e.layer);
    const auto* b = std::get_if<RawBounds>(&e.bounds);
    return number && *number == static_cast<std::int64_t>(w.id) && layer &&
           *layer == static_cast<std::int64_t>(w.layer) &&
           (pid ? w.pid && *pid == static_cast<std::int64_t>(*w.pid) : !w.pid) &&
           (b ? w.bounds && b->x == w.bounds->x && b->y == w.bounds->y &&
                    b->width == w.bounds->width && b->height == w.bounds->height
              : !w.bounds) &&
           e.classInstance == w.wmClass.instance && e.className == w.wmClass.name;
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
    // The last list's entries in their order: after a restack or a change of a few windows, the
    // others find theirs at the next place, or the one after when a window before them moved.
    static const std::vector<SharedWindowEntry> none;
    const auto& before = lastEntries_ ? *lastEntries_ : none;
    std::size_t next = 0;
    auto out = std::make_shared<std::vector<SharedWindowEntry>>();
    out->reserve(before.size());
    for (const X11Window& w : *all) {
        if (!w.onScreen || w.desktop) {
            continue;
        }
        if (next + 1 < before.size() && !describes(*before[next], w) &&
            describes(*before[next + 1], w)) {
            ++next;
        }
        if (next < before.size() && describes(*before[next], w)) {
            out->push_back(before[next++]);
        } else {
            out->push_back(std::make_shared<const RawWindowEntry>(entryOf(w)));
        }
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
    for (const X11Window& w : *all) {
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
    for (const X11Window& w : *all) {
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

// The fake window server's stacking and the fake overlays that reorder it.
#include "fakes/fake_window_server.h"

#include <algorithm>
#include <utility>

namespace sombrix::fakes {

RawWindowEntry FakeWindowServer::entryFor(const FakeWindow& w) {
    return RawWindowEntry{
        .number = static_cast<std::int64_t>(w.id),
        .ownerPID = static_cast<std::int64_t>(w.pid),
        .layer = w.layer,
        .bounds = RawBounds{w.bounds.x, w.bounds.y, w.bounds.width, w.bounds.height},
        .classInstance = w.wmClass,
        .className = w.wmClass,
    };
}

std::optional<std::uint32_t> FakeWindowServer::numberOf(const Slot& slot) {
    if (slot.raw)
        return rawToUInt32(slot.entry.number);
    return slot.window.id;
}

std::optional<std::vector<RawWindowEntry>> FakeWindowServer::copyWindowInfo() {
    ++copyCount_;
    if (absent_)
        return std::nullopt;
    if (!cacheValid_) {
        cache_.clear();
        for (const auto& slot : stack_) {
            if (slot.raw) {
                cache_.push_back(slot.entry);
            } else if (slot.window.onScreen) {
                cache_.push_back(entryFor(slot.window));
            }
        }
        cacheValid_ = true;
    }
    return cache_;
}

void FakeWindowServer::insert(bool front, Slot slot) {
    stack_.insert(front ? stack_.begin() : stack_.end(), std::move(slot));
    changed();
}

void FakeWindowServer::addFront(const FakeWindow& window) {
    insert(true, {false, false, window, {}});
}
void FakeWindowServer::addBack(const FakeWindow& window) {
    insert(false, {false, false, window, {}});
}
void FakeWindowServer::addRawFront(const RawWindowEntry& entry) {
    insert(true, {true, false, {}, entry});
}
void FakeWindowServer::addRawBack(const RawWindowEntry& entry) {
    insert(false, {true, false, {}, entry});
}

std::optional<std::size_t> FakeWindowServer::indexOf(std::uint32_t id) const {
    for (std::size_t i = 0; i < stack_.size(); ++i) {
        if (numberOf(stack_[i]) == id)
            return i;
    }
    return std::nullopt;
}

std::optional<FakeWindowServer::Slot> FakeWindowServer::take(std::uint32_t id) {
    const auto i = indexOf(id);
    if (!i)
        return std::nullopt;
    Slot slot = stack_[*i];
    stack_.erase(stack_.begin() + static_cast<std::ptrdiff_t>(*i));
    changed();
    return slot;
}

void FakeWindowServer::remove(std::uint32_t id) {
    take(id);
}

void FakeWindowServer::raise(std::uint32_t id) {
    if (auto slot = take(id))
        insert(true, *slot);
    if (!restacksStick)
        overlaysBackOnTop();
}

void FakeWindowServer::overlaysBackOnTop() {
    std::stable_partition(stack_.begin(), stack_.end(), [](const Slot& s) { return s.overlay; });
    changed();
}

void FakeWindowServer::setBounds(std::uint32_t id, const Rect& bounds) {
    if (const auto i = indexOf(id); i && !stack_[*i].raw) {
        stack_[*i].window.bounds = bounds;
        changed();
    }
}

void FakeWindowServer::setOnScreen(std::uint32_t id, bool onScreen) {
    if (const auto i = indexOf(id); i && !stack_[*i].raw) {
        stack_[*i].window.onScreen = onScreen;
        changed();
    }
}

void FakeWindowServer::clearWindows() {
    std::erase_if(stack_, [](const Slot& s) { return !s.overlay; });
    changed();
}

void FakeWindowServer::addOverlay(const FakeWindow& window) {
    insert(true, {false, true, window, {}});
}

void FakeWindowServer::setAbsent(bool absent) {
    absent_ = absent;
}

bool FakeWindowServer::isOnScreen(std::uint32_t id) const {
    const auto i = indexOf(id);
    return i && (stack_[*i].raw || stack_[*i].window.onScreen);
}

std::vector<std::uint32_t> FakeWindowServer::onScreenOrder() const {
    std::vector<std::uint32_t> order;
    for (const auto& slot : stack_) {
        if (!slot.raw && !slot.window.onScreen)
            continue;
        if (const auto n = numberOf(slot))
            order.push_back(*n);
    }
    return order;
}

bool FakeWindowServer::isAbove(std::uint32_t upper, std::uint32_t lower) const {
    const auto order = onScreenOrder();
    const auto u = std::find(order.begin(), order.end(), upper);
    const auto l = std::find(order.begin(), order.end(), lower);
    return u != order.end() && l != order.end() && u < l;
}

void FakeWindowServer::placeBelow(std::uint32_t id, std::uint32_t target) {
    place(id, target, 1);
}

void FakeWindowServer::placeAbove(std::uint32_t id, std::uint32_t target) {
    place(id, target, 0);
}

void FakeWindowServer::place(std::uint32_t id, std::uint32_t target, std::size_t offset) {
    const auto from = indexOf(id);
    auto slot = take(id);
    if (!slot)
        return;
    slot->window.onScreen = true;
    // Like a restack against a sibling that vanished: the window is mapped where it was.
    const auto to = indexOf(target);
    stack_.insert(stack_.begin() + static_cast<std::ptrdiff_t>(to ? *to + offset : *from), *slot);
    if (!restacksStick)
        overlaysBackOnTop();
}

void FakeWindowServer::placeFront(std::uint32_t id) {
    auto slot = take(id);
    if (!slot)
        return;
    slot->window.onScreen = true;
    // In front of every normal-layer window, behind panels and other upper layers.
    const auto at = std::find_if(stack_.begin(), stack_.end(), [](const Slot& s) {
        return (s.raw ? rawToInteger(s.entry.layer)
                      : std::optional<std::int64_t>(s.window.layer)) == 0;
    });
    stack_.insert(at, *slot);
    if (!restacksStick)
        overlaysBackOnTop();
}

void FakeWindowServer::hide(std::uint32_t id) {
    setOnScreen(id, false);
}

FakeOverlay::FakeOverlay(FakeOverlayFactory& factory, std::uint32_t number, const Display& display)
    : factory_(factory), number_(number), display_(display) {
    // Created hidden, on top of its siblings, as a new X window is.
    factory_.server_.addOverlay(FakeWindow{number, factory_.ownPID_, 0, display.frame, false});
    factory_.live_.push_back(this);
}

FakeOverlay::~FakeOverlay() {
    factory_.server_.remove(number_);
    std::erase(factory_.live_, this);
}

bool FakeOverlay::isVisible() const {
    return factory_.server_.isOnScreen(number_);
}

void FakeOverlay::orderBelow(std::uint32_t windowNumber) {
    ++factory_.orderingCalls_;
    factory_.server_.placeBelow(number_, windowNumber);
}

void FakeOverlay::orderFrontRegardless() {
    ++factory_.orderingCalls_;
    factory_.server_.placeFront(number_);
}

void FakeOverlay::orderAbove(std::uint32_t windowNumber) {
    ++factory_.orderingCalls_;
    factory_.server_.placeAbove(number_, windowNumber);
}

void FakeOverlay::setHoles(std::vector<Rect> newHoles) {
    // Counted like the X11 overlay's requests: only a change costs one.
    if (newHoles != holes)
        ++holeChanges;
    holes = std::move(newHoles);
}

void FakeOverlay::orderOut() {
    ++factory_.orderingCalls_;
    factory_.server_.hide(number_);
}

void FakeOverlay::apply(Style style, double strength) {
    applied.push_back({style, strength});
}

void FakeOverlay::captureWallpaper() {
    ++factory_.captureCalls_;
}

void FakeOverlay::fadeOut(double, std::function<void()> done) {
    fadeOutDone = std::move(done);
}

void FakeOverlayFactory::finishFades() {
    // Collected first: a callback may release its overlay.
    std::vector<std::function<void()>> callbacks;
    for (FakeOverlay* overlay : live_) {
        if (!overlay->fadeOutDone)
            continue;
        server_.hide(overlay->windowNumber());
        callbacks.push_back(std::exchange(overlay->fadeOutDone, nullptr));
    }
    for (const auto& callback : callbacks)
        callback();
}

FakeOverlayFactory::FakeOverlayFactory(FakeWindowServer& server, std::int32_t ownPID,
                                       std::uint32_t firstNumber)
    : server_(server), ownPID_(ownPID), nextNumber_(firstNumber) {}

std::unique_ptr<Overlay> FakeOverlayFactory::makeOverlay(const Display& display) {
    ++created_;
    return std::make_unique<FakeOverlay>(*this, nextNumber_++, display);
}

void FakeOverlayFactory::resetCounts() {
    orderingCalls_ = 0;
    captureCalls_ = 0;
}

}  // namespace sombrix::fakes

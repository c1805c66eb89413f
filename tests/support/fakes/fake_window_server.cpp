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

SharedWindowEntries FakeWindowServer::windowEntries() {
    ++copyCount;
    if (absent)
        return nullptr;
    auto list = std::make_shared<std::vector<SharedWindowEntry>>();
    for (const auto& slot : stack_) {
        if (slot.onScreen)
            list->push_back(slot.entry);
    }
    return list;
}

void FakeWindowServer::insert(bool front, RawWindowEntry entry, bool onScreen, bool overlay) {
    stack_.insert(front ? stack_.begin() : stack_.end(),
                  Slot{std::make_shared<RawWindowEntry>(std::move(entry)), onScreen, overlay});
}

std::optional<std::size_t> FakeWindowServer::indexOf(std::uint32_t id) const {
    for (std::size_t i = 0; i < stack_.size(); ++i) {
        if (rawToUInt32(stack_[i].entry->number) == id)
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
    return slot;
}

void FakeWindowServer::raise(std::uint32_t id) {
    if (auto slot = take(id))
        stack_.insert(stack_.begin(), *slot);
    if (!restacksStick)
        std::stable_partition(stack_.begin(), stack_.end(),
                              [](const Slot& s) { return s.overlay; });
}

void FakeWindowServer::put(std::uint32_t id, std::optional<std::uint32_t> target,
                           std::size_t offset) {
    const auto from = indexOf(id);
    auto slot = take(id);
    if (!slot)
        return;
    slot->onScreen = true;
    // Like a restack against a sibling that vanished: the window is mapped where it was.
    auto at = static_cast<std::ptrdiff_t>(*from);
    if (!target) {
        at = std::find_if(stack_.begin(), stack_.end(),
                          [](const Slot& s) { return rawToInteger(s.entry->layer) == 0; }) -
             stack_.begin();
    } else if (const auto to = indexOf(*target)) {
        at = static_cast<std::ptrdiff_t>(*to + offset);
    }
    stack_.insert(stack_.begin() + at, *slot);
    if (!restacksStick)
        std::stable_partition(stack_.begin(), stack_.end(),
                              [](const Slot& s) { return s.overlay; });
}

void FakeWindowServer::setBounds(std::uint32_t id, const Rect& bounds) {
    if (const auto i = indexOf(id)) {  // a new entry: one handed out never changes
        auto& entry = stack_[*i].entry = std::make_shared<RawWindowEntry>(*stack_[*i].entry);
        entry->bounds = RawBounds{bounds.x, bounds.y, bounds.width, bounds.height};
    }
}

void FakeWindowServer::setOnScreen(std::uint32_t id, bool onScreen) {
    if (const auto i = indexOf(id))
        stack_[*i].onScreen = onScreen;
}

void FakeWindowServer::clearWindows() {
    std::erase_if(stack_, [](const Slot& s) { return !s.overlay; });
}

bool FakeWindowServer::isOnScreen(std::uint32_t id) const {
    const auto i = indexOf(id);
    return i && stack_[*i].onScreen;
}

std::vector<std::uint32_t> FakeWindowServer::onScreenOrder() const {
    std::vector<std::uint32_t> order;
    for (const auto& slot : stack_) {
        if (const auto n = rawToUInt32(slot.entry->number); n && slot.onScreen)
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

FakeOverlay::FakeOverlay(FakeOverlayFactory& factory, std::uint32_t number, const Display& display)
    : factory_(factory), number_(number), display_(display) {
    // Created hidden, on top of its siblings, as a new X window is.
    factory_.server_.insert(
        true, FakeWindowServer::entryFor({number, factory_.ownPID_, 0, display.frame}), false,
        true);
    factory_.live_.push_back(this);
}

FakeOverlay::~FakeOverlay() {
    factory_.server_.remove(number_);
    std::erase(factory_.live_, this);
}

bool FakeOverlayFactory::isOverlay(std::uint32_t number) const {
    return std::any_of(live_.begin(), live_.end(),
                       [number](const FakeOverlay* o) { return o->windowNumber() == number; });
}

void FakeOverlayFactory::finishFades() {
    // Collected first: a callback may release its overlay.
    std::vector<std::function<void()>> callbacks;
    for (FakeOverlay* overlay : live_) {
        if (!overlay->fadeOutDone)
            continue;
        server_.setOnScreen(overlay->windowNumber(), false);
        callbacks.push_back(std::exchange(overlay->fadeOutDone, nullptr));
    }
    for (const auto& callback : callbacks)
        callback();
}

std::unique_ptr<Overlay> FakeOverlayFactory::makeOverlay(const Display& display) {
    ++created;
    return std::make_unique<FakeOverlay>(*this, nextNumber_++, display);
}

}  // namespace sombrix::fakes

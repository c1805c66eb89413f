// The fake accessibility service and its observers.
#include "fakes/fake_accessibility.h"

#include <algorithm>

namespace sombrix::fakes {

FakeAXObserver::FakeAXObserver(FakeAccessibility& owner, std::int32_t pid,
                               AXObserverCallback callback)
    : owner_(owner), pid_(pid), callback_(callback) {
    owner_.observers_.push_back(this);
}

FakeAXObserver::~FakeAXObserver() {
    std::erase(owner_.observers_, this);
}

bool FakeAXObserver::addNotification(const AXElement& element, std::string_view notification,
                                     void* context) {
    registrations.push_back({element, std::string(notification), context});
    return true;
}

bool FakeAXObserver::removeNotification(const AXElement& element, std::string_view notification) {
    const auto removed = std::erase_if(registrations, [&](const Registration& r) {
        return r.element == element && r.notification == notification;
    });
    return removed > 0;
}

bool FakeAXObserver::isRegistered(const AXElement& element, std::string_view notification) const {
    return std::any_of(registrations.begin(), registrations.end(), [&](const Registration& r) {
        return r.element == element && r.notification == notification;
    });
}

int FakeAXObserver::countRegistrations(std::string_view notification) const {
    return static_cast<int>(
        std::count_if(registrations.begin(), registrations.end(),
                      [&](const Registration& r) { return r.notification == notification; }));
}

FakeAccessibility::Key FakeAccessibility::keyFor(const AXElement& element,
                                                 std::string_view attribute) {
    return {element.kind, element.pid, element.handle, std::string(attribute)};
}

AXElement FakeAccessibility::applicationElement(std::int32_t pid) {
    return application(pid);
}

std::optional<AXAttributeValue> FakeAccessibility::copyAttributeValue(const AXElement& element,
                                                                      std::string_view attribute) {
    const auto it = attributes_.find(keyFor(element, attribute));
    if (it == attributes_.end())
        return std::nullopt;
    return it->second;
}

std::optional<std::uint32_t> FakeAccessibility::windowNumber(const AXElement& element) {
    const auto it = numbers_.find({element.kind, element.pid, element.handle});
    if (it != numbers_.end())
        return it->second;
    if (element.kind != AXElement::Kind::Window)
        return std::nullopt;
    return static_cast<std::uint32_t>(element.handle);
}

bool FakeAccessibility::performAction(const AXElement& element, std::string_view action) {
    actions.push_back({element, std::string(action)});
    return true;
}

bool FakeAccessibility::setAttributeValue(const AXElement& element, std::string_view attribute,
                                          bool) {
    sets.push_back({element, std::string(attribute)});
    return true;
}

std::unique_ptr<AXObserver> FakeAccessibility::createObserver(std::int32_t pid,
                                                              AXObserverCallback callback) {
    if (std::find(failingPIDs_.begin(), failingPIDs_.end(), pid) != failingPIDs_.end()) {
        return nullptr;
    }
    ++observersCreated;
    return std::make_unique<FakeAXObserver>(*this, pid, callback);
}

void FakeAccessibility::setAttribute(const AXElement& element, std::string_view attribute,
                                     AXAttributeValue value) {
    attributes_[keyFor(element, attribute)] = std::move(value);
}

void FakeAccessibility::removeAttribute(const AXElement& element, std::string_view attribute) {
    attributes_.erase(keyFor(element, attribute));
}

void FakeAccessibility::setFocusedWindow(std::int32_t pid, std::uint32_t id) {
    setAttribute(application(pid), ax::kFocusedWindow, window(pid, id));
}

void FakeAccessibility::setFrame(const AXElement& element, const Rect& frame) {
    setAttribute(element, ax::kPosition, Point{frame.x, frame.y});
    setAttribute(element, ax::kSize, Size{frame.width, frame.height});
}

void FakeAccessibility::setWindowNumber(const AXElement& element,
                                        std::optional<std::uint32_t> number) {
    numbers_[{element.kind, element.pid, element.handle}] = number;
}

void FakeAccessibility::failObserverCreation(std::int32_t pid, bool fail) {
    std::erase(failingPIDs_, pid);
    if (fail)
        failingPIDs_.push_back(pid);
}

int FakeAccessibility::deliver(const AXElement& element, std::string_view notification) {
    struct Call {
        FakeAXObserver* observer;
        AXObserverCallback callback;
        void* context;
    };
    std::vector<Call> calls;
    for (auto* observer : observers_) {
        if (!observer->attached)
            continue;
        for (const auto& r : observer->registrations) {
            if (r.element == element && r.notification == notification) {
                calls.push_back({observer, observer->callback_, r.context});
            }
        }
    }
    int delivered = 0;
    for (const auto& call : calls) {
        // A callback may drop the observer (the engine moves on to another process).
        if (std::find(observers_.begin(), observers_.end(), call.observer) == observers_.end()) {
            continue;
        }
        call.callback(call.observer, element, notification, call.context);
        ++delivered;
    }
    return delivered;
}

FakeAXObserver* FakeAccessibility::observerFor(std::int32_t pid) const {
    for (auto* observer : observers_) {
        if (observer->pid() == pid)
            return observer;
    }
    return nullptr;
}

}  // namespace sombrix::fakes

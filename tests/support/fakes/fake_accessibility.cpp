// The fake accessibility service's observers and deliveries.
#include "fakes/fake_accessibility.h"

namespace sombrix::fakes {

FakeAXObserver::FakeAXObserver(FakeAccessibility& owner, std::int32_t pid,
                               AXObserverCallback callback)
    : pid(pid), owner_(owner), callback_(callback) {
    owner_.observers_.push_back(this);
}

FakeAXObserver::~FakeAXObserver() {
    std::erase(owner_.observers_, this);
}

std::optional<std::uint32_t> FakeAccessibility::windowNumber(const AXElement& element) {
    if (const auto it = numbers_.find(keyFor(element, {})); it != numbers_.end())
        return it->second;
    if (element.kind != AXElement::Kind::Window)
        return std::nullopt;
    return static_cast<std::uint32_t>(element.handle);
}

int FakeAccessibility::deliver(const AXElement& element, std::string_view notification) {
    struct Call {
        FakeAXObserver* observer;
        void* context;
    };
    std::vector<Call> calls;
    for (auto* observer : observers_) {
        for (const auto& r : observer->registrations) {
            if (observer->attached && r.element == element && r.notification == notification)
                calls.push_back({observer, r.context});
        }
    }
    int delivered = 0;
    for (const auto& call : calls) {
        // A callback may drop the observer (the engine moves on to another process).
        if (std::find(observers_.begin(), observers_.end(), call.observer) == observers_.end())
            continue;
        call.observer->callback_(call.observer, element, notification, call.context);
        ++delivered;
    }
    return delivered;
}

}  // namespace sombrix::fakes

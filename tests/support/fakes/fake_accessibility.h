// An in-memory accessibility service: attributes set by the test, observers that record their
// registrations and deliver notifications on demand, and a record of every action performed.
#pragma once

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "platform/accessibility.h"

namespace sombrix::fakes {

class FakeAccessibility;

class FakeAXObserver : public AXObserver {
public:
    struct Registration {
        AXElement element;
        std::string notification;
        void* context;
    };

    FakeAXObserver(FakeAccessibility& owner, std::int32_t pid, AXObserverCallback callback);
    ~FakeAXObserver() override;

    bool addNotification(const AXElement& element, std::string_view notification,
                         void* context) override {
        registrations.push_back({element, std::string(notification), context});
        return true;
    }
    bool removeNotification(const AXElement& element, std::string_view notification) override {
        return std::erase_if(registrations, [&](const Registration& r) {
                   return r.element == element && r.notification == notification;
               }) > 0;
    }
    void addToMainRunLoop() override { attached = true; }
    void removeFromMainRunLoop() override { attached = false; }

    // Control side.
    const std::int32_t pid;
    // Registrations for `notification` (on `element` when given).
    int registered(std::string_view notification, std::optional<AXElement> element = {}) const {
        return static_cast<int>(
            std::count_if(registrations.begin(), registrations.end(), [&](const Registration& r) {
                return r.notification == notification && (!element || r.element == *element);
            }));
    }
    std::vector<Registration> registrations;
    bool attached = false;

private:
    friend class FakeAccessibility;
    FakeAccessibility& owner_;
    AXObserverCallback callback_;
};

class FakeAccessibility : public Accessibility {
public:
    struct Action {
        AXElement element;
        std::string name;
    };

    bool isProcessTrusted() override { return trusted; }
    std::uint64_t windowManagerIdentity() override { return windowManager; }
    void requestTrustWithPrompt() override { ++promptCount; }
    AXElement applicationElement(std::int32_t pid) override { return application(pid); }
    std::optional<AXAttributeValue> copyAttributeValue(const AXElement& element,
                                                       std::string_view attribute) override {
        const auto it = attributes_.find(keyFor(element, attribute));
        return it == attributes_.end() ? std::nullopt : std::optional(it->second);
    }
    std::optional<std::uint32_t> windowNumber(const AXElement& element) override;
    bool performAction(const AXElement& element, std::string_view action) override {
        actions.push_back({element, std::string(action)});
        return true;
    }
    bool setAttributeValue(const AXElement& element, std::string_view attribute, bool) override {
        sets.push_back({element, std::string(attribute)});
        return true;
    }
    std::unique_ptr<AXObserver> createObserver(std::int32_t pid,
                                               AXObserverCallback callback) override {
        if (failingPIDs.contains(pid))
            return nullptr;
        ++observersCreated;
        return std::make_unique<FakeAXObserver>(*this, pid, callback);
    }

    // Control side.
    static AXElement application(std::int32_t pid) {
        return {AXElement::Kind::Application, pid, static_cast<std::uint64_t>(pid)};
    }
    // A window element whose number (by default) is `id`.
    static AXElement window(std::int32_t pid, std::uint32_t id) {
        return {AXElement::Kind::Window, pid, id};
    }
    void setAttribute(const AXElement& element, std::string_view attribute,
                      AXAttributeValue value) {
        attributes_[keyFor(element, attribute)] = std::move(value);
    }
    void removeAttribute(const AXElement& element, std::string_view attribute) {
        attributes_.erase(keyFor(element, attribute));
    }
    // The application's focused window, and its frame as "AXPosition"/"AXSize".
    void setFocusedWindow(std::int32_t pid, std::uint32_t id) {
        setAttribute(application(pid), ax::kFocusedWindow, window(pid, id));
    }
    void setFrame(const AXElement& element, const Rect& frame) {
        setAttribute(element, ax::kPosition, Point{frame.x, frame.y});
        setAttribute(element, ax::kSize, Size{frame.width, frame.height});
    }
    // Overrides the number a window element reports; absent makes the call fail.
    void setWindowNumber(const AXElement& element, std::optional<std::uint32_t> number) {
        numbers_[keyFor(element, {})] = number;
    }

    // Calls the callback of every attached observer registered for `notification` on `element`;
    // returns how many callbacks ran.
    int deliver(const AXElement& element, std::string_view notification);
    const std::vector<FakeAXObserver*>& liveObservers() const { return observers_; }
    FakeAXObserver* observerFor(std::int32_t pid) const {
        const auto it = std::find_if(observers_.begin(), observers_.end(),
                                     [pid](const FakeAXObserver* o) { return o->pid == pid; });
        return it == observers_.end() ? nullptr : *it;
    }

    bool trusted = true;
    std::uint64_t windowManager = 1;
    int promptCount = 0;
    int observersCreated = 0;
    std::vector<Action> actions;
    std::vector<Action> sets;
    // Observer creation for these processes fails.
    std::set<std::int32_t> failingPIDs;

private:
    friend class FakeAXObserver;
    using Key = std::tuple<AXElement::Kind, std::int32_t, std::uint64_t, std::string>;
    static Key keyFor(const AXElement& element, std::string_view attribute) {
        return {element.kind, element.pid, element.handle, std::string(attribute)};
    }

    std::map<Key, AXAttributeValue> attributes_;
    std::map<Key, std::optional<std::uint32_t>> numbers_;
    std::vector<FakeAXObserver*> observers_;
};

}  // namespace sombrix::fakes

// An in-memory accessibility service: attributes set by the test, observers that record their
// registrations and deliver notifications on demand, and a record of every action performed.
#pragma once

#include <map>
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
                         void* context) override;
    bool removeNotification(const AXElement& element, std::string_view notification) override;
    void addToMainRunLoop() override { attached = true; }
    void removeFromMainRunLoop() override { attached = false; }

    // Control side.
    std::int32_t pid() const { return pid_; }
    bool isRegistered(const AXElement& element, std::string_view notification) const;
    int countRegistrations(std::string_view notification) const;
    std::vector<Registration> registrations;
    bool attached = false;

private:
    friend class FakeAccessibility;
    FakeAccessibility& owner_;
    std::int32_t pid_;
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
    AXElement applicationElement(std::int32_t pid) override;
    std::optional<AXAttributeValue> copyAttributeValue(const AXElement& element,
                                                       std::string_view attribute) override;
    std::optional<std::uint32_t> windowNumber(const AXElement& element) override;
    bool performAction(const AXElement& element, std::string_view action) override;
    bool setAttributeValue(const AXElement& element, std::string_view attribute,
                           bool value) override;
    std::unique_ptr<AXObserver> createObserver(std::int32_t pid,
                                               AXObserverCallback callback) override;

    // Control side.
    static AXElement application(std::int32_t pid) {
        return {AXElement::Kind::Application, pid, static_cast<std::uint64_t>(pid)};
    }
    // A window element whose number (by default) is `id`.
    static AXElement window(std::int32_t pid, std::uint32_t id) {
        return {AXElement::Kind::Window, pid, id};
    }
    void setAttribute(const AXElement& element, std::string_view attribute, AXAttributeValue value);
    void removeAttribute(const AXElement& element, std::string_view attribute);
    // The application's focused window, and its frame as "AXPosition"/"AXSize".
    void setFocusedWindow(std::int32_t pid, std::uint32_t id);
    void setFrame(const AXElement& element, const Rect& frame);
    // Overrides the number a window element reports; absent makes the call fail.
    void setWindowNumber(const AXElement& element, std::optional<std::uint32_t> number);
    // Observer creation for this process fails until cleared.
    void failObserverCreation(std::int32_t pid, bool fail = true);

    // Calls the callback of every attached observer registered for `notification` on `element`;
    // returns how many callbacks ran.
    int deliver(const AXElement& element, std::string_view notification);
    const std::vector<FakeAXObserver*>& liveObservers() const { return observers_; }
    FakeAXObserver* observerFor(std::int32_t pid) const;

    bool trusted = true;
    std::uint64_t windowManager = 1;
    int promptCount = 0;
    int observersCreated = 0;
    std::vector<Action> actions;
    std::vector<Action> sets;

private:
    friend class FakeAXObserver;
    using Key = std::tuple<AXElement::Kind, std::int32_t, std::uint64_t, std::string>;
    static Key keyFor(const AXElement& element, std::string_view attribute);

    std::map<Key, AXAttributeValue> attributes_;
    std::map<std::tuple<AXElement::Kind, std::int32_t, std::uint64_t>, std::optional<std::uint32_t>>
        numbers_;
    std::vector<std::int32_t> failingPIDs_;
    std::vector<FakeAXObserver*> observers_;
};

}  // namespace sombrix::fakes

// The accessibility service: trust, elements of applications and windows, their attributes and
// actions, and observers that report changes in another process.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/geometry.h"

namespace sombrix {

// An element names an application (by process id) or one of its windows. `handle` is the
// backend's own identity of the element (on X11 the window id); two elements are equal when they
// name the same thing.
struct AXElement {
    enum class Kind : std::uint8_t { Application, Window, Other };
    Kind kind = Kind::Other;
    std::int32_t pid = 0;
    std::uint64_t handle = 0;
    friend bool operator==(const AXElement&, const AXElement&) = default;
};

// What an attribute read may yield. A backend returns whatever the application exposes; the
// engine's readers accept only the type they expect.
using AXAttributeValue =
    std::variant<AXElement, bool, Point, Size, std::vector<AXElement>, std::int64_t, double>;

namespace ax {
inline constexpr std::string_view kFocusedWindow = "AXFocusedWindow";
inline constexpr std::string_view kFocusedUIElement = "AXFocusedUIElement";
inline constexpr std::string_view kWindow = "AXWindow";
inline constexpr std::string_view kWindows = "AXWindows";
inline constexpr std::string_view kMinimized = "AXMinimized";
inline constexpr std::string_view kFullScreen = "AXFullScreen";
inline constexpr std::string_view kPosition = "AXPosition";
inline constexpr std::string_view kSize = "AXSize";
inline constexpr std::string_view kMain = "AXMain";
inline constexpr std::string_view kRaise = "AXRaise";
inline constexpr std::string_view kFocusedWindowChanged = "AXFocusedWindowChanged";
inline constexpr std::string_view kMainWindowChanged = "AXMainWindowChanged";
inline constexpr std::string_view kWindowCreated = "AXWindowCreated";
inline constexpr std::string_view kWindowMiniaturized = "AXWindowMiniaturized";
inline constexpr std::string_view kWindowDeminiaturized = "AXWindowDeminiaturized";
inline constexpr std::string_view kUIElementDestroyed = "AXUIElementDestroyed";
}  // namespace ax

class AXObserver;

// Called on the main thread, synchronously, for every registered notification.
using AXObserverCallback = void (*)(AXObserver* observer, const AXElement& element,
                                    std::string_view notification, void* context);

// Watches one process. Destroying the observer ends all of its registrations.
class AXObserver {
public:
    virtual ~AXObserver() = default;
    // False when the element or the notification is not supported; the caller ignores it.
    virtual bool addNotification(const AXElement& element, std::string_view notification,
                                 void* context) = 0;
    virtual bool removeNotification(const AXElement& element, std::string_view notification) = 0;
    // Deliveries happen only while the observer is attached to the main loop.
    virtual void addToMainRunLoop() = 0;
    virtual void removeFromMainRunLoop() = 0;
};

class Accessibility {
public:
    virtual ~Accessibility() = default;

    // Whether this process may see other applications' focus and windows.
    virtual bool isProcessTrusted() = 0;
    // Names whoever manages the windows, as learnt by the last trust check (on X11 the window
    // manager's check window); a new value means a new manager. 0 when there is none.
    virtual std::uint64_t windowManagerIdentity() = 0;
    // Asks the user for trust where the platform has a prompt; the answer is learnt later.
    virtual void requestTrustWithPrompt() = 0;

    virtual AXElement applicationElement(std::int32_t pid) = 0;
    // Absent when the read fails or yields no value.
    virtual std::optional<AXAttributeValue> copyAttributeValue(const AXElement& element,
                                                               std::string_view attribute) = 0;
    // The window-server number of a window element; absent when the call fails.
    virtual std::optional<std::uint32_t> windowNumber(const AXElement& element) = 0;
    // Results are informational only; the engine ignores them.
    virtual bool performAction(const AXElement& element, std::string_view action) = 0;
    virtual bool setAttributeValue(const AXElement& element, std::string_view attribute,
                                   bool value) = 0;

    // Null when no observer can be created for that process.
    virtual std::unique_ptr<AXObserver> createObserver(std::int32_t pid,
                                                       AXObserverCallback callback) = 0;
};

}  // namespace sombrix

// Following focus inside the frontmost application through the accessibility service, and naming
// the focused window by its number in the window list.
#include <cmath>

#include "engine/dim_controller.h"

namespace sombrix {

namespace {

// Accessibility frames and window-list bounds are rounded differently by some toolkits.
constexpr double kBoundsMatchTolerance = 2.0;

constexpr std::string_view kFinderBundleIdentifier = "com.apple.finder";

constexpr std::string_view kApplicationNotifications[] = {
    ax::kFocusedWindowChanged, ax::kMainWindowChanged,    ax::kWindowCreated,
    ax::kWindowMiniaturized,   ax::kWindowDeminiaturized,
};

template <typename T>
std::optional<T> copyValue(Accessibility& ax, const AXElement& element,
                           std::string_view attribute) {
    auto value = ax.copyAttributeValue(element, attribute);
    if (!value)
        return std::nullopt;
    if (auto* typed = std::get_if<T>(&*value))
        return *typed;
    return std::nullopt;
}

}  // namespace

void DimController::attachObserver(std::int32_t pid) {
    if (pid == observedPID_)
        return;
    detachObserver();
    // No process has a non-positive id; attaching to one would also break "observer present
    // exactly when observedPID is non-zero".
    if (pid <= 0)
        return;
    auto observer = services_.accessibility.createObserver(pid, &DimController::observerCallback);
    if (!observer)
        return;
    const auto app = services_.accessibility.applicationElement(pid);
    for (const auto notification : kApplicationNotifications) {
        observer->addNotification(app, notification, this);
    }
    observer->addToMainRunLoop();
    observer_ = std::move(observer);
    observedPID_ = pid;
}

void DimController::detachObserver() {
    if (observer_)
        observer_->removeFromMainRunLoop();
    // Dropping the observer ends all of its registrations at once.
    observer_.reset();
    observedPID_ = 0;
    observedWindow_.reset();
}

void DimController::observeDestruction(const AXElement& element) {
    if (!observer_)
        return;
    if (observedWindow_ && *observedWindow_ == element)
        return;
    if (observedWindow_)
        observer_->removeNotification(*observedWindow_, ax::kUIElementDestroyed);
    observer_->addNotification(element, ax::kUIElementDestroyed, this);
    observedWindow_ = element;
}

std::optional<DimController::FocusedWindow> DimController::focusedWindow(
    const RunningApplication& app) {
    const std::int32_t pid = app.pid;
    focusNamedButUnlisted_ = false;
    const auto appElement = services_.accessibility.applicationElement(pid);
    const auto window = copyElement(appElement, ax::kFocusedWindow);
    if (!window)
        return std::nullopt;
    if (copyBool(*window, ax::kMinimized) == true)
        return std::nullopt;

    // The file manager reports its desktop as focused window while the focus is on desktop
    // icons, outside any window: nothing of it should stay bright then.
    if (app.bundleIdentifier == kFinderBundleIdentifier) {
        if (const auto focusedElement = copyElement(appElement, ax::kFocusedUIElement)) {
            if (!copyElement(*focusedElement, ax::kWindow))
                return std::nullopt;
        }
    }

    observeDestruction(*window);

    const bool fullScreen = copyBool(*window, ax::kFullScreen) == true;
    const auto number = services_.accessibility.windowNumber(*window);
    if (number && *number != 0 && isOnScreenNormalWindow(*number)) {
        return FocusedWindow{*number, fullScreen};
    }
    if (const auto matched = matchWindowByBounds(*window, pid)) {
        return FocusedWindow{*matched, fullScreen};
    }
    focusNamedButUnlisted_ = number && number == lastFocusedWindow_;
    return std::nullopt;
}

std::optional<std::uint32_t> DimController::matchWindowByBounds(const AXElement& element,
                                                                std::int32_t pid) {
    const auto position = copyPoint(element, ax::kPosition);
    const auto size = copySize(element, ax::kSize);
    if (!position || !size)
        return std::nullopt;
    const Rect frame{position->x, position->y, size->width, size->height};
    auto close = [](double a, double b) { return std::fabs(a - b) < kBoundsMatchTolerance; };

    for (const auto& r : records_) {
        if (r.layer != 0 || r.pid != pid || !r.bounds)
            continue;
        const Rect& bounds = *r.bounds;
        if (close(bounds.minX(), frame.minX()) && close(bounds.minY(), frame.minY()) &&
            close(bounds.width, frame.width) && close(bounds.height, frame.height)) {
            // The frontmost match decides, even when its number is unusable.
            return r.id;
        }
    }
    return std::nullopt;
}

std::optional<AXElement> DimController::copyElement(const AXElement& element,
                                                    std::string_view attribute) {
    return copyValue<AXElement>(services_.accessibility, element, attribute);
}

std::optional<bool> DimController::copyBool(const AXElement& element, std::string_view attribute) {
    return copyValue<bool>(services_.accessibility, element, attribute);
}

std::optional<Point> DimController::copyPoint(const AXElement& element,
                                              std::string_view attribute) {
    return copyValue<Point>(services_.accessibility, element, attribute);
}

std::optional<Size> DimController::copySize(const AXElement& element, std::string_view attribute) {
    return copyValue<Size>(services_.accessibility, element, attribute);
}

void DimController::observerCallback(AXObserver*, const AXElement&, std::string_view,
                                     void* context) {
    if (!context)
        return;
    static_cast<DimController*>(context)->refresh();
}

}  // namespace sombrix

// The focus record, and the hand-over to the next window when the focused one goes away.
#include "engine/dim_controller.h"

namespace sombrix {

namespace {

constexpr double kMinimumHandOverSide = 40;

}  // namespace

void DimController::focus(const FocusedWindow& focused, const std::vector<WindowInfo>& windows) {
    lastFocusedWindow_ = focused.windowID;
    noFocusSince_.reset();
    const auto ids = overlayIDs();
    for (const auto& overlay : overlays_)
        arrange(*overlay, focused, windows, ids);
}

bool DimController::handOverFocusIfWindowClosed(const std::vector<WindowInfo>& windows) {
    const TimePoint now = services_.clock.now();
    if (!noFocusSince_)
        noFocusSince_ = now;
    if (!lastFocusedWindow_)
        return false;
    // Written as a negation so that a clock that yields no number also ends the grace period.
    if (!(now - *noFocusSince_ < kHandOverGracePeriod))
        return false;
    for (const auto& w : windows) {
        if (w.id == *lastFocusedWindow_)
            return false;
    }
    // Gone means closed, minimised or hidden, never moved to another layer: a window the user
    // made keep-above, or that the window manager lifted there when it went full screen, still
    // exists and may still have focus, which must not be taken from it.
    if (isOnScreenInAnyLayer(*lastFocusedWindow_))
        return false;

    const auto ids = overlayIDs();
    const auto ownPID = services_.application.processIdentifier();
    for (const auto& w : windows) {
        if (ids.contains(w.id) || w.pid == ownPID)
            continue;
        if (!(w.bounds.width > kMinimumHandOverSide && w.bounds.height > kMinimumHandOverSide)) {
            continue;
        }
        // At most one hand-over per focused window, whatever the raise achieves.
        decisions_.everyDisplay("the focused window " + DecisionLog::window(*lastFocusedWindow_) +
                                " is gone: focus handed to " + DecisionLog::window(w.id));
        lastFocusedWindow_.reset();
        raise(w.id, w.pid);
        if (const auto app = services_.workspace.runningApplication(w.pid)) {
            services_.workspace.activate(*app);
        }
        return true;
    }
    return false;
}

void DimController::raise(std::uint32_t windowID, std::int32_t pid) {
    auto& ax = services_.accessibility;
    const auto value = ax.copyAttributeValue(ax.applicationElement(pid), ax::kWindows);
    if (!value)
        return;
    const auto* elements = std::get_if<std::vector<AXElement>>(&*value);
    if (!elements)
        return;
    for (const auto& element : *elements) {
        if (ax.windowNumber(element) != windowID)
            continue;
        ax.performAction(element, ax::kRaise);
        ax.setAttributeValue(element, ax::kMain, true);
        return;
    }
}

}  // namespace sombrix

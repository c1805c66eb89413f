// The decision cycle: which window stays bright on each display, and where each overlay goes.
#include <algorithm>

#include "engine/dim_controller.h"

namespace sombrix {

namespace {

// A window this close to the display's edges counts as filling it: there is nothing left to dim.
constexpr double kFillSideTolerance = 1;
constexpr double kFillHeightTolerance = 40;

std::string brightText(std::uint32_t id, bool focused) {
    return "bright " + DecisionLog::window(id) +
           (focused ? " (the focused window)" : " (the topmost window here)");
}

}  // namespace

void DimController::refresh() {
    cycle();
    lastCycleInputs_ = isRunning_ ? cycleInputs() : std::nullopt;
}

void DimController::reconcile() {
    // Halfway through a change the focused window may look gone (i3 hides the tab it leaves
    // before it names the next one): a hand-over now would take focus from a window that still
    // has it. The change's end refreshes.
    if (services_.windowList.changeUnderWay())
        return;
    if (lastCycleInputs_ && !timeRuleRunning() && cycleInputs() == lastCycleInputs_)
        return;
    refresh();
}

std::optional<DimController::CycleInputs> DimController::cycleInputs() {
    const auto server = services_.windowList.changeCount();
    if (!server)
        return std::nullopt;
    return CycleInputs{*server, services_.defaults.object(keys::kExcludedWindowClasses)};
}

bool DimController::timeRuleRunning() {
    const TimePoint now = services_.clock.now();
    if (noFocusSince_ && now - *noFocusSince_ < kHandOverGracePeriod)
        return true;
    return std::any_of(lastRestack_.begin(), lastRestack_.end(), [now](const auto& request) {
        return now - request.second.at < kJudgedRestackAge;
    });
}

void DimController::cycle() {
    if (!isRunning_)
        return;
    if (!services_.accessibility.isProcessTrusted()) {
        // Without the permission focus is invisible; the permission poll starts us again.
        decisions_.everyDisplay("no window manager reports the active window: overlays removed");
        stop();
        return;
    }
    followWindowManager();
    const auto front = services_.workspace.frontmostApplication();
    if (!front) {
        decisions_.everyDisplay("no application is active: every overlay in front");
        snapshot();
        dimEverything();
        return;
    }
    const auto& windows = snapshot();

    if (front->pid == services_.application.processIdentifier()) {
        const auto key = services_.application.keyWindow();
        if (key && key->isVisible && !key->isOverlay) {
            focus(FocusedWindow{key->windowNumber, false}, windows);
        } else {
            // Our own menu or tray is in front: keep the arrangement unless the window the user
            // worked in has just closed.
            decisions_.everyDisplay("Sombrix's own menu is in front: arrangement kept");
            handOverFocusIfWindowClosed(windows);
        }
        return;
    }

    attachObserver(front->pid);
    if (const auto focused = focusedWindow(*front)) {
        focus(*focused, windows);
    } else if (focusNamedButUnlisted_ && !stack_.empty()) {
        // Still the focused window, only out of a list that could be read (it holds at least
        // the overlays) for a moment, as metacity swaps its frame when it goes full screen: not
        // closed, so focus stays with it.
        decisions_.everyDisplay(
            "the focused window is briefly out of the window list: "
            "arrangement kept");
    } else if (!handOverFocusIfWindowClosed(windows)) {
        decisions_.everyDisplay("the active application shows no window: every overlay in front");
        dimEverything();
    }
}

void DimController::arrange(Overlay& overlay, const FocusedWindow& focused,
                            const std::vector<WindowInfo>& windows, const OverlayIDs& overlayIDs) {
    const std::uint32_t self = overlay.windowNumber();
    const Rect frame = overlay.cgFrame();

    std::optional<std::size_t> focusedHere;
    for (const auto& w : windows) {
        if (w.id == focused.windowID && frame.containsHalfOpen(w.bounds.centre()))
            focusedHere = stackIndex(w.id);
    }

    // Candidates on this display, front to back; flags index `windows`.
    std::vector<char> isCandidate(windows.size(), 0);
    std::vector<std::uint32_t> candidateIDs;
    std::size_t first = windows.size();
    std::size_t target = windows.size();
    for (std::size_t i = 0; i < windows.size(); ++i) {
        const auto& w = windows[i];
        if (!isCandidateOn(frame, w.bounds) || overlayIDs.contains(w.id)) {
            continue;
        }
        isCandidate[i] = 1;
        candidateIDs.push_back(w.id);
        if (first == windows.size())
            first = i;
        if (target == windows.size() && w.id == focused.windowID)
            target = i;
    }

    if (candidateIDs.empty()) {
        // Nothing stays bright here: the overlay must be the topmost window of its display.
        const BrightRule rule{frame, std::nullopt, focusedHere};
        for (const auto& w : windows) {
            if (w.id == self) {
                decisions_.display(self, frame, "no window to keep bright: overlay in front",
                                   false);
                cutHoles(overlay, rule, stackIndex(self).value_or(stack_.size()) + 1, overlayIDs);
                return;
            }
            if (frame.containsHalfOpen(w.bounds.centre()))
                break;
        }
        decisions_.display(self, frame, "no window to keep bright: overlay raised in front", true);
        forgetRestack(overlay);
        overlay.orderFrontRegardless();
        cutHoles(overlay, rule, frontOfNormalLayer(overlayIDs), overlayIDs);
        return;
    }

    bool fullScreen = false;
    const bool isFocused = target != windows.size();
    if (isFocused) {
        fullScreen = focused.isFullScreen;
    } else {
        target = first;
    }
    const WindowInfo& bright = windows[target];

    const Rect& b = bright.bounds;
    const bool fills = b.minX() <= frame.minX() + kFillSideTolerance &&
                       b.maxX() >= frame.maxX() - kFillSideTolerance &&
                       b.height >= frame.height - kFillHeightTolerance;
    if (fullScreen || fills) {
        if (decisions_.enabled())
            decisions_.display(self, frame,
                               brightText(bright.id, isFocused) + ": overlay hidden, the window " +
                                   (fullScreen ? "is full screen" : "fills the display"),
                               false);
        forgetRestack(overlay);
        if (overlay.isVisible())
            overlay.orderOut();
        return;
    }

    // Windows of other programs above the bright window that do not touch it (tiles of a tiling
    // window manager) are dimmed: the overlay goes above them and leaves the bright window open.
    // So it does wherever the window manager does not let it stay beneath the bright window.
    const BrightRule rule{frame, stackIndex(bright.id), focusedHere};
    if (!restacksStick() || dimmedAboveBright(rule, overlayIDs)) {
        if (decisions_.enabled())
            decisions_.display(self, frame,
                               brightText(bright.id, isFocused) +
                                   ": overlay above it with a hole over it, " +
                                   (restacksStick() ? "windows of other applications above it "
                                                      "do not touch it"
                                                    : "the window manager undoes restacks"),
                               false);
        arrangeAboveDimmed(overlay, rule, overlayIDs);
        return;
    }

    // The overlay may stay where it is when, among this display's candidates and the overlay,
    // it comes right after the bright window and only the bright window's own panels and sheets
    // lie above it. Anything else means the stacking moved under us: restack.
    // Sorted only when a window outside the candidates is met: the walk usually ends first.
    bool sorted = false;
    auto inK = [&](std::size_t i) {
        const auto id = windows[i].id;
        if (id == self || isCandidate[i])
            return true;
        if (!sorted) {
            std::sort(candidateIDs.begin(), candidateIDs.end());
            sorted = true;
        }
        return std::binary_search(candidateIDs.begin(), candidateIDs.end(), id);
    };
    bool placed = false;
    bool foundBright = false;
    bool othersAbove = false;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        if (!inK(i))
            continue;
        if (foundBright) {
            placed = windows[i].id == self;
            break;
        }
        if (windows[i].id == bright.id) {
            foundBright = true;
            continue;
        }
        if (windows[i].pid != bright.pid)
            othersAbove = true;
    }
    if (placed && !othersAbove) {
        if (decisions_.enabled())
            decisions_.display(self, frame,
                               brightText(bright.id, isFocused) + ": overlay already beneath it",
                               false);
        cutHoles(overlay, rule, stackIndex(self).value_or(stack_.size()) + 1, overlayIDs);
        return;
    }
    if (decisions_.enabled())
        decisions_.display(self, frame,
                           brightText(bright.id, isFocused) + ": overlay restacked beneath it, " +
                               (othersAbove ? "windows of other applications lay above it"
                                            : "it was not directly beneath"),
                           true);
    if (requestRestack(overlay, Restack::below, bright.id, overlayIDs)) {
        cutHoles(overlay, rule, rule.bright.value_or(stack_.size()) + 1, overlayIDs);
    } else {
        arrangeAboveDimmed(overlay, rule, overlayIDs);
    }
}

void DimController::dimEverything() {
    // Called after this cycle's snapshot: its stacking is read, not the list again.
    const auto ids = overlayIDs();
    // In front when the first normal-layer windows of the list are the overlays, all of them.
    const auto prefixEnd = normalLayerIDs_.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                         ids.ids.size(), normalLayerIDs_.size()));
    const bool inFront = std::all_of(ids.ids.begin(), ids.ids.end(), [&](std::uint32_t id) {
        return std::find(normalLayerIDs_.begin(), prefixEnd, id) != prefixEnd;
    });
    for (const auto& overlay : overlays_) {
        if (!inFront) {
            forgetRestack(*overlay);
            overlay->orderFrontRegardless();
        }
        const BrightRule rule{overlay->cgFrame(), std::nullopt};
        const auto position = stackIndex(overlay->windowNumber());
        cutHoles(*overlay, rule, inFront && position ? *position + 1 : frontOfNormalLayer(ids),
                 ids);
    }
}

}  // namespace sombrix

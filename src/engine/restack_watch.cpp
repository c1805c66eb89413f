// Whether the window manager lets our restacks stick. Some managers move every override-redirect
// window back to the top after any restack; asking again would only start an endless exchange
// of restacks with them. When the overlay keeps turning up somewhere else than where it was
// put, the engine stops asking and arranges with holes instead, until another window manager
// takes over.
#include <algorithm>
#include <string>

#include "engine/dim_controller.h"

namespace sombrix {

namespace {

// This many restacks found undone within the window below settle it. One alone proves nothing:
// a manager may map a new window right beneath the focused one.
constexpr std::size_t kIgnoredRestacksForVerdict = 3;
constexpr double kIgnoredRestackWindow = 5.0;

}  // namespace

void DimController::followWindowManager() {
    const auto manager = services_.accessibility.windowManagerIdentity();
    if (windowManager_ == manager)
        return;
    windowManager_ = manager;
    if (restacksIgnored_)
        decisions_.everyDisplay("another window manager runs: restacks are tried again");
    restacksIgnored_ = false;
    ignoredRestacks_.clear();
    lastRestack_.clear();
    lastFrontRestack_.clear();
}

bool DimController::wasIgnored(std::uint32_t overlay, Restack kind, std::uint32_t target,
                               const OverlayIDs& overlayIDs) const {
    const auto at = stackIndex(target);
    if (!at || !stackIndex(overlay))
        return false;  // the target or the overlay went away: nothing to judge by
    // The neighbour on the asked side, other overlays skipped (they may share the target).
    const std::ptrdiff_t step = kind == Restack::below ? 1 : -1;
    for (auto i = static_cast<std::ptrdiff_t>(*at) + step;
         i >= 0 && i < static_cast<std::ptrdiff_t>(stack_.size()); i += step) {
        const auto id = stack_[static_cast<std::size_t>(i)].id;
        if (id == overlay)
            return false;
        if (!overlayIDs.contains(id))
            return true;
    }
    return true;
}

bool DimController::requestRestack(Overlay& overlay, Restack kind, std::uint32_t target,
                                   const OverlayIDs& overlayIDs) {
    const std::uint32_t self = overlay.windowNumber();
    const TimePoint now = services_.clock.now();
    if (const auto last = lastRestack_.find(self);
        last != lastRestack_.end() && now - last->second.at < kJudgedRestackAge &&
        wasIgnored(self, last->second.kind, last->second.target, overlayIDs)) {
        std::erase_if(ignoredRestacks_,
                      [now](TimePoint t) { return !(now - t < kIgnoredRestackWindow); });
        ignoredRestacks_.push_back(now);
        if (ignoredRestacks_.size() >= kIgnoredRestacksForVerdict) {
            restacksIgnored_ = true;
            decisions_.everyDisplay(
                "the window manager undid " + std::to_string(kIgnoredRestacksForVerdict) +
                " restacks within " + std::to_string(int(kIgnoredRestackWindow)) +
                " s: no more restacks, overlays stay in "
                "front with holes over what stays bright");
            lastRestack_.clear();
            ignoredRestacks_.clear();
            return false;
        }
    }
    lastRestack_[self] = RestackRequest{kind, target, now};
    if (kind == Restack::below)
        overlay.orderBelow(target);
    else
        overlay.orderAbove(target);
    return true;
}

}  // namespace sombrix

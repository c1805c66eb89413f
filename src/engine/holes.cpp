// Holes in an overlay: when the overlay cannot sit directly beneath the bright window (a tiling
// window manager leaves other programs' tiles above it, a window manager puts the overlay back
// on top, an excluded window lies beneath it), it goes above every window that must be dimmed
// and leaves open the visible part of each window below it that must stay bright.
#include <algorithm>
#include <iterator>

#include "engine/dim_controller.h"
#include "engine/region.h"

namespace sombrix {

namespace {

// A window manager that puts the overlay back above the bright window is answered by bringing
// it to the front of the normal layer again, but never more often than this.
constexpr double kFrontRestackInterval = 1.0;
// Tiles that share a border, or overlap by no more than a border's width, are neighbours: only
// a window reaching further over the bright window (a dialog, a floating window) stays bright.
constexpr double kNeighbourOverlap = 2;

bool liesOver(const Rect& w, const Rect& bright) {
    const double width = std::min(w.maxX(), bright.maxX()) - std::max(w.minX(), bright.minX());
    const double height = std::min(w.maxY(), bright.maxY()) - std::max(w.minY(), bright.minY());
    return width > kNeighbourOverlap && height > kNeighbourOverlap;
}

}  // namespace

std::optional<std::size_t> DimController::stackIndex(std::uint32_t id) const {
    for (std::size_t i = 0; i < stack_.size(); ++i) {
        if (stack_[i].id == id)
            return i;
    }
    return std::nullopt;
}

std::size_t DimController::frontOfNormalLayer(const OverlayIDs& overlayIDs) const {
    for (std::size_t i = 0; i < stack_.size(); ++i) {
        if (stack_[i].layer == 0 && !overlayIDs.contains(stack_[i].id))
            return i;
    }
    return stack_.size();
}

bool DimController::isBright(const BrightRule& rule, std::size_t i) const {
    const StackedWindow& w = stack_[i];
    if (w.excluded || w.layer > 0)
        return true;
    if (w.layer == 0 && (i == rule.bright || i == rule.focused))
        return true;
    if (!rule.bright || i >= *rule.bright)
        return false;
    const StackedWindow& bright = stack_[*rule.bright];
    // Whatever lies above the bright window and reaches over it shows, even a window of a lower
    // layer that the stacking puts there: dimmed, it would dim the bright window's own place.
    if (liesOver(w.bounds, bright.bounds))
        return true;
    // Otherwise above it only other programs' tiles of this display are dimmed; a window that
    // merely spills over from another display keeps the place its own display gives it.
    return w.layer == 0 && (w.pid == bright.pid || !isCandidateOn(rule.frame, w.bounds));
}

bool DimController::dimmedAboveBright(const BrightRule& rule, const OverlayIDs& overlayIDs) const {
    if (!rule.bright)
        return false;
    for (std::size_t i = 0; i < *rule.bright; ++i) {
        const StackedWindow& w = stack_[i];
        if (w.layer == 0 && !overlayIDs.contains(w.id) && region::overlaps(w.bounds, rule.frame) &&
            !isBright(rule, i)) {
            return true;
        }
    }
    return false;
}

void DimController::arrangeAboveDimmed(Overlay& overlay, const BrightRule& rule,
                                       const OverlayIDs& overlayIDs) {
    const std::uint32_t self = overlay.windowNumber();
    // The topmost window of this display that must be dimmed, and whether it lies above us.
    std::optional<std::size_t> topDimmed;
    std::optional<std::size_t> position;
    for (std::size_t i = 0; i < stack_.size(); ++i) {
        const StackedWindow& w = stack_[i];
        if (w.id == self) {
            position = i;
            if (!topDimmed)
                break;
            continue;
        }
        if (!topDimmed && !overlayIDs.contains(w.id) && region::overlaps(w.bounds, rule.frame) &&
            !isBright(rule, i)) {
            topDimmed = i;
            if (position)
                break;
        }
    }
    const bool aboveEveryDimmed = position && (!topDimmed || *position < *topDimmed);
    if (aboveEveryDimmed) {
        cutHoles(overlay, rule, *position + 1, overlayIDs);
        return;
    }
    if (topDimmed && stack_[*topDimmed].layer == 0 &&
        requestRestack(overlay, Restack::above, stack_[*topDimmed].id, overlayIDs)) {
        cutHoles(overlay, rule, *topDimmed, overlayIDs);
        return;
    }
    // The window manager undoes restacks (it keeps override-redirect windows on top): the front
    // of the normal layer is the one place it leaves us, and only rarely has to be asked for.
    const TimePoint now = services_.clock.now();
    const auto last = lastFrontRestack_.find(self);
    if (!overlay.isVisible() || last == lastFrontRestack_.end() ||
        !(now - last->second < kFrontRestackInterval)) {
        lastFrontRestack_[self] = now;
        overlay.orderFrontRegardless();
        cutHoles(overlay, rule, frontOfNormalLayer(overlayIDs), overlayIDs);
        return;
    }
    cutHoles(overlay, rule, position ? *position + 1 : stack_.size(), overlayIDs);
}

void DimController::cutHoles(Overlay& overlay, const BrightRule& rule, std::size_t firstBelow,
                             const OverlayIDs& overlayIDs) const {
    // Walking down from the overlay: a bright window shows where no dimmed window above it (and
    // below the overlay) covers it. Every cycle runs this for every display, and most find no
    // bright window below the overlay at all: the dimmed windows are gathered only down to the
    // last bright one, and the region arithmetic is kept to those that reach over a bright one.
    auto onDisplay = [&](const StackedWindow& w) {
        return region::overlaps(w.bounds, rule.frame) && !overlayIDs.contains(w.id);
    };
    // The last bright window below the overlay, found without a walk of the whole stacking: a
    // window is bright only where it lies anyway, as the bright or focused window, or above the
    // bright window.
    std::size_t end = firstBelow;
    auto consider = [&](std::size_t i) {
        if (i >= end && i < stack_.size() && onDisplay(stack_[i]) && isBright(rule, i))
            end = i + 1;
    };
    for (const std::size_t i : brightAnywhere_)
        consider(i);
    if (rule.focused)
        consider(*rule.focused);
    if (rule.bright) {
        consider(*rule.bright);
        for (std::size_t i = firstBelow; i < *rule.bright; ++i)
            consider(i);
    }
    region::Region covered;
    region::Region holes;
    region::Region cut;
    for (std::size_t i = firstBelow; i < end; ++i) {
        const StackedWindow& w = stack_[i];
        if (!onDisplay(w))
            continue;
        const double x0 = std::max(w.bounds.minX(), rule.frame.minX());
        const double y0 = std::max(w.bounds.minY(), rule.frame.minY());
        const Rect visible{x0, y0, std::min(w.bounds.maxX(), rule.frame.maxX()) - x0,
                           std::min(w.bounds.maxY(), rule.frame.maxY()) - y0};
        if (!isBright(rule, i)) {
            covered.push_back(visible);
            continue;
        }
        cut.clear();
        std::copy_if(covered.begin(), covered.end(), std::back_inserter(cut),
                     [&](const Rect& c) { return region::overlaps(c, visible); });
        holes = region::unite(holes, region::subtract({visible}, cut));
    }
    overlay.setHoles(std::move(holes));
}

}  // namespace sombrix

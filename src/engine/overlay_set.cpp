// The engine's side of the overlays: one per display, their look, and fresh wallpaper pictures.
#include <algorithm>

#include "engine/dim_controller.h"

namespace sombrix {

namespace {

// Pictures are renewed at least this often while the wallpaper look is in force, in case the
// wallpaper changed in a way the store date did not show (a slideshow, another desktop).
constexpr double kWallpaperMaximumAge = 30.0;
// Gives the desktop time to finish drawing the new wallpaper before it is captured.
constexpr double kWallpaperChangeSettleDelay = 1.5;

}  // namespace

void DimController::rebuildOverlays() {
    // Old overlays are never reused: a display that stayed may still have changed its geometry.
    for (const auto& overlay : overlays_)
        overlay->orderOut();
    std::vector<std::unique_ptr<Overlay>> fresh;
    // Read once per rebuild: a display that comes back under a listed name is left alone again.
    const auto undimmed = undimmedDisplays();
    builtWithUndimmed_ = undimmed;
    for (const auto& display : services_.displays.screens()) {
        if (std::find(undimmed.begin(), undimmed.end(), display.name) != undimmed.end())
            continue;
        // Mirrored outputs show one picture: a second veil over the same pixels would darken
        // them twice.
        const auto sameFrame = [&](const auto& made) { return made->cgFrame() == display.frame; };
        if (std::any_of(fresh.begin(), fresh.end(), sameFrame))
            continue;
        auto overlay = services_.overlayFactory.makeOverlay(display);
        if (!overlay)
            continue;
        overlay->apply(style(), strength());
        fresh.push_back(std::move(overlay));
    }
    overlays_ = std::move(fresh);
    lastCycleInputs_.reset();
    appliedWithCapture_ = services_.wallpaper.canCapture();
}

void DimController::displaySettingsChanged() {
    if (!isRunning_ || undimmedDisplays() == builtWithUndimmed_)
        return;
    rebuildOverlays();
    refresh();
}

void DimController::applyAppearance() {
    for (const auto& overlay : overlays_)
        overlay->apply(style(), strength());
    appliedWithCapture_ = services_.wallpaper.canCapture();
}

void DimController::setStyle(Style style) {
    services_.defaults.setString(keys::kDimStyle, rawValue(style));
    applyAppearance();
}

void DimController::refreshWallpaperIfNeeded() {
    if (style() != Style::wallpaper)
        return;
    // A picture that became available (a wallpaper was set, a desktop started) or went away
    // changes the look itself: the black veil stands in for the picture only while there is none.
    if (services_.wallpaper.canCapture() != appliedWithCapture_)
        applyAppearance();
    const auto current = services_.wallpaper.storeModificationDate();
    if (current == wallpaperStoreDate_) {
        if (services_.clock.now() - lastWallpaperCapture_ > kWallpaperMaximumAge) {
            captureWallpapers();
        }
        return;
    }
    wallpaperStoreDate_ = current;
    services_.scheduler.scheduleOnce(kWallpaperChangeSettleDelay,
                                     [weak = std::weak_ptr<DimController*>(self_)] {
                                         if (const auto strong = weak.lock())
                                             (*strong)->captureWallpapers();
                                     });
}

void DimController::captureWallpapers() {
    if (style() != Style::wallpaper)
        return;
    // Stamped even without capture access, so the 30-second rule does not fire on every tick.
    lastWallpaperCapture_ = services_.clock.now();
    for (const auto& overlay : overlays_) {
        if (services_.wallpaper.canCapture())
            overlay->captureWallpaper();
    }
}

}  // namespace sombrix

// Bringing the engine up and down: overlays, event sources and timers, and the settings readers.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <functional>
#include <string>

#include "engine/dim_controller.h"

namespace sombrix {

namespace {

constexpr double kReconcileInterval = 0.25;
constexpr double kFadeDuration = 0.2;
constexpr double kWallpaperCheckInterval = 2.0;

constexpr double kDefaultStrength = 0.5;
constexpr double kMinimumStrength = 0.1;
constexpr double kMaximumStrength = 1.0;

constexpr WorkspaceNotification kRefreshNotifications[] = {
    WorkspaceNotification::DidActivateApplication,
    WorkspaceNotification::ActiveSpaceDidChange,
    WorkspaceNotification::DidWake,
    WorkspaceNotification::DidHideApplication,
    WorkspaceNotification::DidUnhideApplication,
    WorkspaceNotification::DidTerminateApplication,
};

constexpr WorkspaceNotification kCaptureNotifications[] = {
    WorkspaceNotification::DidActivateApplication,
    WorkspaceNotification::ActiveSpaceDidChange,
};

// A handler that does nothing once the controller is gone.
template <typename F>
std::function<void()> weakly(const std::shared_ptr<DimController*>& self, F action) {
    return [weak = std::weak_ptr<DimController*>(self), action] {
        if (const auto strong = weak.lock())
            action(**strong);
    };
}

// A list with a single entry is stored as that entry's plain text, so a string reads as a list
// of one. Empty entries name nothing and are dropped.
std::vector<std::string> readStringList(DefaultsStore& defaults, std::string_view key) {
    std::vector<std::string> list;
    const auto value = defaults.object(key);
    if (!value)
        return list;
    if (const auto* entries = std::get_if<std::vector<std::string>>(&*value))
        list = *entries;
    else if (const auto* single = std::get_if<std::string>(&*value))
        list.push_back(*single);
    std::erase_if(list, [](const std::string& entry) { return entry.empty(); });
    return list;
}

// A hand-edited file may say 0, 1, yes, no, on or off (in any case) as well as true and false.
std::optional<bool> toBool(const DefaultsValue& value) {
    if (const auto* b = std::get_if<bool>(&value))
        return *b;
    if (const auto* i = std::get_if<std::int64_t>(&value))
        return *i != 0;
    if (const auto* d = std::get_if<double>(&value)) {
        if (std::isnan(*d))
            return std::nullopt;
        return *d != 0.0;
    }
    const auto* raw = std::get_if<std::string>(&value);
    if (!raw)
        return std::nullopt;
    std::string text = *raw;
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (text == "true" || text == "yes" || text == "on")
        return true;
    if (text == "false" || text == "no" || text == "off")
        return false;
    return std::nullopt;
}

}  // namespace

DimController::DimController(EngineServices services)
    : services_(services), self_(std::make_shared<DimController*>(this)) {}

// Members go in reverse order: `self_` first, so no handler can reach a half-destroyed controller.
DimController::~DimController() = default;

void DimController::startIfPossible(Transition transition) {
    if (!isEnabled() || isRunning_ || !services_.accessibility.isProcessTrusted())
        return;
    // Switched on again before the fade-out ended: the new overlays take over.
    dropFadingOverlays();
    isRunning_ = true;
    rebuildOverlays();
    if (transition == Transition::fade && fadeOnToggle()) {
        for (const auto& overlay : overlays_)
            overlay->fadeIn(kFadeDuration);
    }

    auto& workspace = services_.workspace;
    std::vector<ObserverToken> tokens;
    for (const auto name : kRefreshNotifications) {
        tokens.push_back(
            workspace.addObserver(name, weakly(self_, [](DimController& c) { c.refresh(); })));
    }
    for (const auto name : kCaptureNotifications) {
        tokens.push_back(workspace.addObserver(
            name, weakly(self_, [](DimController& c) { c.captureWallpapers(); })));
    }
    workspaceTokens_ = std::move(tokens);

    // The two calls resolve the controller separately: the rebuild may be the last thing it does.
    appTokens_ = {services_.displays.addScreenParametersObserver(
        [rebuild = weakly(self_, [](DimController& c) { c.rebuildOverlays(); }),
         refresh = weakly(self_, [](DimController& c) { c.refresh(); })] {
            rebuild();
            refresh();
        })};

    reconcileTimer_ = services_.scheduler.scheduleRepeating(
        kReconcileInterval, weakly(self_, [](DimController& c) { c.reconcile(); }));
    wallpaperTimer_ = services_.scheduler.scheduleRepeating(kWallpaperCheckInterval,
                                                            weakly(self_, [](DimController& c) {
                                                                c.refreshWallpaperIfNeeded();
                                                                // A hand edit of the list of
                                                                // displays left alone takes effect
                                                                // without a restart.
                                                                c.displaySettingsChanged();
                                                            }));

    refresh();
}

void DimController::stop(Transition transition) {
    dropFadingOverlays();
    if (!isRunning_)
        return;
    isRunning_ = false;
    lastCycleInputs_.reset();
    if (reconcileTimer_)
        reconcileTimer_->invalidate();
    reconcileTimer_.reset();
    if (wallpaperTimer_)
        wallpaperTimer_->invalidate();
    wallpaperTimer_.reset();
    for (const auto token : workspaceTokens_)
        services_.workspace.removeObserver(token);
    for (const auto token : appTokens_)
        services_.displays.removeObserver(token);
    workspaceTokens_.clear();
    appTokens_.clear();
    detachObserver();
    const bool fade = transition == Transition::fade && fadeOnToggle();
    for (auto& overlay : overlays_) {
        if (!fade || !overlay->isVisible()) {
            overlay->orderOut();
            continue;
        }
        overlay->fadeOut(kFadeDuration,
                         [weak = std::weak_ptr<DimController*>(self_), faded = overlay.get()] {
                             if (const auto strong = weak.lock())
                                 (*strong)->finishFadeOut(faded);
                         });
        fadingOut_.push_back(std::move(overlay));
    }
    overlays_.clear();
}

void DimController::finishFadeOut(const Overlay* overlay) {
    std::erase_if(fadingOut_, [&](const std::unique_ptr<Overlay>& fading) {
        if (fading.get() != overlay)
            return false;
        fading->orderOut();
        return true;
    });
}

void DimController::dropFadingOverlays() {
    for (const auto& overlay : fadingOut_)
        overlay->orderOut();
    fadingOut_.clear();
}

bool DimController::isEnabled() const {
    if (const auto value = services_.defaults.object(keys::kDimEnabled)) {
        if (const auto enabled = toBool(*value))
            return *enabled;
    }
    return true;
}

DimController::Style DimController::style() const {
    const auto value = services_.defaults.object(keys::kDimStyle);
    if (value) {
        if (const auto* raw = std::get_if<std::string>(&*value)) {
            return parseStyle(*raw).value_or(Style::black);
        }
    }
    return Style::black;
}

double DimController::strength() const {
    double strength = kDefaultStrength;
    if (const auto value = services_.defaults.object(keys::kDimStrength)) {
        if (const auto* i = std::get_if<std::int64_t>(&*value)) {
            strength = static_cast<double>(*i);
        } else if (const auto* d = std::get_if<double>(&*value)) {
            // NaN fails every comparison of the clamp and would reach the window opacity.
            if (!std::isnan(*d))
                strength = *d;
        }
    }
    if (strength <= kMinimumStrength)
        return kMinimumStrength;
    if (strength > kMaximumStrength)
        return kMaximumStrength;
    return strength;
}

std::vector<std::string> DimController::excludedWindowClasses() const {
    return readStringList(services_.defaults, keys::kExcludedWindowClasses);
}

std::vector<std::string> DimController::undimmedDisplays() const {
    return readStringList(services_.defaults, keys::kUndimmedDisplays);
}

bool DimController::fadeOnToggle() const {
    const auto value = services_.defaults.object(keys::kFadeOnToggle);
    if (value) {
        if (const auto* fade = std::get_if<bool>(&*value))
            return *fade;
    }
    return false;
}

}  // namespace sombrix

// The dim engine: decides, several times a second, which window stays bright on each display and
// stacks one overlay per display directly beneath it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/decision_log.h"
#include "platform/accessibility.h"
#include "platform/clock.h"
#include "platform/defaults_store.h"
#include "platform/diagnostic_log.h"
#include "platform/displays.h"
#include "platform/overlay.h"
#include "platform/own_application.h"
#include "platform/scheduler.h"
#include "platform/wallpaper_service.h"
#include "platform/window_list.h"
#include "platform/workspace.h"

namespace sombrix {

// The services the engine talks to; all must outlive the controller.
struct EngineServices {
    WindowList& windowList;
    Accessibility& accessibility;
    Workspace& workspace;
    OwnApplication& application;
    Displays& displays;
    OverlayFactory& overlayFactory;
    WallpaperService& wallpaper;
    Clock& clock;
    Scheduler& scheduler;
    DefaultsStore& defaults;
    // Optional: where each decision is told, with its reason.
    DiagnosticLog* log = nullptr;
};

namespace keys {
inline constexpr std::string_view kDimEnabled = "dimEnabled";
inline constexpr std::string_view kDimStyle = "dimStyle";
inline constexpr std::string_view kDimStrength = "dimStrength";
inline constexpr std::string_view kExcludedWindowClasses = "excludedWindowClasses";
inline constexpr std::string_view kUndimmedDisplays = "undimmedDisplays";
inline constexpr std::string_view kFadeOnToggle = "fadeOnToggle";
}  // namespace keys

class DimController {
public:
    using Style = sombrix::Style;

    // One window of the snapshot, already checked.
    struct WindowInfo {
        std::uint32_t id = 0;
        std::int32_t pid = 0;
        Rect bounds;

        // Absent when the number, the owner or the bounds are missing or do not convert.
        static std::optional<WindowInfo> from(const RawWindowEntry& entry);
        friend bool operator==(const WindowInfo&, const WindowInfo&) = default;
    };

    struct FocusedWindow {
        std::uint32_t windowID = 0;
        bool isFullScreen = false;
        friend bool operator==(const FocusedWindow&, const FocusedWindow&) = default;
    };

    // One on-screen window of any layer, as the holes cut into an overlay need it.
    struct StackedWindow {
        std::uint32_t id = 0;
        std::int32_t pid = 0;  // 0 when unknown
        Rect bounds;
        std::int64_t layer = 0;
        bool excluded = false;  // its class is on the exclusion list: never dimmed
    };

    explicit DimController(EngineServices services);
    ~DimController();
    DimController(const DimController&) = delete;
    DimController& operator=(const DimController&) = delete;

    // How a switch of the dim shows: at once, or, when "fadeOnToggle" is on, as a short fade.
    enum class Transition { instant, fade };

    // Lifecycle. Only the user's switches on and off ask for a fade; a stop of any kind first
    // ends a fade-out still running, so no overlay outlives it.
    void startIfPossible(Transition transition = Transition::instant);
    void stop(Transition transition = Transition::instant);
    bool isRunning() const { return isRunning_; }

    // The decision cycle; safe to call at any time and as often as callers like.
    void refresh();
    // The reconcile tick: the cycle, unless nothing it reads can have changed since the last one.
    void reconcile();

    // Settings, read from the store on every access.
    bool isEnabled() const;
    Style style() const;
    void setStyle(Style style);
    double strength() const;
    // WM_CLASS names (instance or class) whose windows are never dimmed.
    std::vector<std::string> excludedWindowClasses() const;
    // Display names (Display::name) that get no overlay.
    std::vector<std::string> undimmedDisplays() const;
    bool fadeOnToggle() const;

    // Overlay set and appearance.
    void rebuildOverlays();
    // Rebuilds the overlays of a running engine when the list of displays left undimmed is no
    // longer the one they were built with.
    void displaySettingsChanged();
    void applyAppearance();
    void refreshWallpaperIfNeeded();
    void captureWallpapers();

    const std::vector<std::unique_ptr<Overlay>>& overlays() const { return overlays_; }

private:
    friend struct DimControllerTestPeer;

    // Long enough to cover closing a window and the application choosing its next one; short
    // enough that a later loss of focus (the user clicked the desktop) is left alone.
    static constexpr double kHandOverGracePeriod = 2.0;
    // A manager that undoes a restack does so at once; an older request may have been overtaken
    // by our own later moves (hiding the overlay, bringing it to the front). The window list must
    // show the server's stacking after the request, never an answer kept from before it.
    static constexpr double kJudgedRestackAge = 1.0;

    void cycle();
    // What a cycle reads that may change without anyone calling refresh(). A tick that finds all
    // of it as the last cycle left it, with no time rule running, would decide the same again.
    struct CycleInputs {
        std::uint64_t windowServer = 0;
        std::optional<DefaultsValue> excludedClasses;
        friend bool operator==(const CycleInputs&, const CycleInputs&) = default;
    };
    std::optional<CycleInputs> cycleInputs();
    bool timeRuleRunning();

    // Window snapshot.
    // The overlays' numbers: a handful, which a scan finds sooner than a tree on the walks that
    // ask about every window of the list.
    struct OverlayIDs {
        std::vector<std::uint32_t> ids;
        bool contains(std::uint32_t id) const {
            return std::find(ids.begin(), ids.end(), id) != ids.end();
        }
    };
    // Answered from the list this cycle's snapshot() read.
    bool isOnScreenNormalWindow(std::uint32_t id) const;
    // On screen at all, whatever its layer.
    bool isOnScreenInAnyLayer(std::uint32_t id) const;
    // Reads the list once per cycle: the checked windows of the normal layer, front to back, and
    // the whole stacking, every layer, in `stack_` for the holes of this cycle.
    const std::vector<WindowInfo>& snapshot();
    OverlayIDs overlayIDs() const;

    // Arrangement.
    void arrange(Overlay& overlay, const FocusedWindow& focused,
                 const std::vector<WindowInfo>& windows, const OverlayIDs& overlayIDs);
    void dimEverything();
    // Small windows (toolbars, tooltips that slipped through, dock-like strips) never stay
    // bright.
    static constexpr double kMinimumCandidateSide = 40;
    // Whether a window of these bounds may stay bright on the display of `frame`. Inline: asked
    // about every window for every display in each cycle.
    static bool isCandidateOn(const Rect& frame, const Rect& bounds) {
        return frame.containsHalfOpen(bounds.centre()) && bounds.width > kMinimumCandidateSide &&
               bounds.height > kMinimumCandidateSide;
    }

    // Fade-out: overlays already dropped from the set, released once their fade has ended.
    void finishFadeOut(const Overlay* overlay);
    void dropFadingOverlays();
    // Holes: what must stay bright although it lies below an overlay (holes.cpp). On one
    // display, the bright window, the windows above it that reach over it, belong to its process
    // or are no candidates of this display, excluded windows and every window of an upper layer
    // (panels, menus) stay bright; without a bright window only the last two. Indices are into
    // `stack_`.
    struct BrightRule {
        Rect frame;
        std::optional<std::size_t> bright;
        // The focused window when it lies on this display, however small: a tiling manager
        // raises nothing, so it may lie anywhere in the stacking and still never goes dim.
        std::optional<std::size_t> focused{};
    };
    bool isBright(const BrightRule& rule, std::size_t i) const;
    bool dimmedAboveBright(const BrightRule& rule, const OverlayIDs& overlayIDs) const;
    void arrangeAboveDimmed(Overlay& overlay, const BrightRule& rule, const OverlayIDs& overlayIDs);
    void cutHoles(Overlay& overlay, const BrightRule& rule, std::size_t firstBelow,
                  const OverlayIDs& overlayIDs) const;
    std::optional<std::size_t> stackIndex(std::uint32_t id) const;
    std::size_t frontOfNormalLayer(const OverlayIDs& overlayIDs) const;

    // Whether the window manager lets a restack stick (restack_watch.cpp).
    enum class Restack : std::uint8_t { below, above };
    // Issues the restack unless the window manager has been found to undo them; false then.
    bool requestRestack(Overlay& overlay, Restack kind, std::uint32_t target,
                        const OverlayIDs& overlayIDs);
    bool wasIgnored(std::uint32_t overlay, Restack kind, std::uint32_t target,
                    const OverlayIDs& overlayIDs) const;
    // The overlay is moved some other way: its last restack no longer tells anything.
    void forgetRestack(const Overlay& overlay) { lastRestack_.erase(overlay.windowNumber()); }
    bool restacksStick() const { return !restacksIgnored_; }
    void followWindowManager();

    // Focus record and hand-over.
    void focus(const FocusedWindow& focused, const std::vector<WindowInfo>& windows);
    bool handOverFocusIfWindowClosed(const std::vector<WindowInfo>& windows);
    void raise(std::uint32_t windowID, std::int32_t pid);

    // Focus tracking.
    void attachObserver(std::int32_t pid);
    void detachObserver();
    void observeDestruction(const AXElement& element);
    std::optional<FocusedWindow> focusedWindow(const RunningApplication& app);
    std::optional<std::uint32_t> matchWindowByBounds(const AXElement& element, std::int32_t pid);
    std::optional<AXElement> copyElement(const AXElement& element, std::string_view attribute);
    std::optional<bool> copyBool(const AXElement& element, std::string_view attribute);
    std::optional<Point> copyPoint(const AXElement& element, std::string_view attribute);
    std::optional<Size> copySize(const AXElement& element, std::string_view attribute);
    static void observerCallback(AXObserver* observer, const AXElement& element,
                                 std::string_view notification, void* context);

    EngineServices services_;
    DecisionLog decisions_{services_.log};

    // In declaration order of the engine's state.
    std::vector<std::unique_ptr<Overlay>> overlays_;
    std::unique_ptr<AXObserver> observer_;
    std::int32_t observedPID_ = 0;
    std::optional<AXElement> observedWindow_;
    std::unique_ptr<TimerHandle> reconcileTimer_;
    std::unique_ptr<TimerHandle> wallpaperTimer_;
    std::vector<ObserverToken> workspaceTokens_;
    std::vector<ObserverToken> appTokens_;
    bool isRunning_ = false;
    std::optional<std::uint32_t> lastFocusedWindow_;
    // The application names the last focused window as focused, but the list lacks it.
    bool focusNamedButUnlisted_ = false;
    std::optional<TimePoint> noFocusSince_;
    TimePoint lastWallpaperCapture_ = kDistantPast;
    std::optional<WallpaperStoreToken> wallpaperStoreDate_;
    std::vector<std::unique_ptr<Overlay>> fadingOut_;
    std::vector<std::string> builtWithUndimmed_;
    // Whether a picture could be had when the looks were last applied.
    std::optional<bool> appliedWithCapture_;

    std::optional<CycleInputs> lastCycleInputs_;

    // What a cycle made of each entry of the list it read, kept while the list holds the entry:
    // a later list that shares it (the window neither changed nor left) reuses the record, and
    // its class is not looked up again.
    struct EntryRecord {
        const RawWindowEntry* entry = nullptr;
        std::optional<std::uint32_t> id;
        std::optional<std::int32_t> pid;
        std::optional<std::int64_t> layer;
        std::optional<Rect> bounds;
        bool excluded = false;
        std::optional<WindowInfo> info;  // the checked window, when it is one
    };
    // The list the current cycle read (kept, so that no later list can reuse its addresses),
    // one record per entry in its order, and the exclusion list, lowered and sorted, they were
    // made with.
    SharedWindowEntries list_;
    std::vector<EntryRecord> records_;
    std::vector<std::string> excludedLowered_;
    // The checked normal-layer windows of that list, front to back.
    std::vector<WindowInfo> windows_;
    // The whole stacking of the current cycle, front to back, every layer.
    std::vector<StackedWindow> stack_;
    // The indices into it of the windows that stay bright wherever they lie: excluded ones and
    // those of an upper layer.
    std::vector<std::size_t> brightAnywhere_;
    // The numbers of the normal layer's entries in that list.
    std::vector<std::uint32_t> normalLayerIDs_;
    // What the window manager did with our restacks: the last request per overlay, the times it
    // was found ignored, and the verdict, kept per window manager.
    struct RestackRequest {
        Restack kind;
        std::uint32_t target;
        TimePoint at;
    };
    std::map<std::uint32_t, RestackRequest> lastRestack_;
    std::vector<TimePoint> ignoredRestacks_;
    bool restacksIgnored_ = false;
    std::optional<std::uint64_t> windowManager_;
    std::map<std::uint32_t, TimePoint> lastFrontRestack_;

    // Handlers hold this weakly: once the controller is gone, a late timer or notification
    // does nothing.
    std::shared_ptr<DimController*> self_;
};

}  // namespace sombrix

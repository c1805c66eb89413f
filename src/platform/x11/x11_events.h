// Turns X events into the notifications the engine listens to. Events only mark what may have
// changed; flush() then reads the desktop's state once, compares it with the previous state and
// delivers the accessibility and workspace notifications that the difference implies, followed by
// the stacking-changed hook. The Qt event filter calls flush() once per batch of pending events.
#pragma once

#include <xcb/xcb.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/accessibility.h"
#include "platform/workspace.h"
#include "platform/x11/x11_context.h"
#include "platform/x11/x11_window_list.h"

namespace sombrix::x11 {

class X11AXObserver;

// What the desktop looked like at the last flush.
struct DesktopState {
    std::optional<xcb_window_t> active;
    std::vector<xcb_window_t> clients;  // _NET_CLIENT_LIST order
    std::unordered_map<xcb_window_t, std::int32_t> pids;
    std::unordered_map<xcb_window_t, bool> hidden;
    std::unordered_map<xcb_window_t, bool> fullscreen;
    std::optional<std::uint32_t> desktop;
    std::int32_t frontPid = 0;  // 0: no frontmost application
};

class X11Events {
public:
    X11Events(X11Context& context, X11WindowList& windowList);
    ~X11Events();
    X11Events(const X11Events&) = delete;
    X11Events& operator=(const X11Events&) = delete;

    // Selects on the root what the backend needs (adding to whatever mask is already there) and
    // takes the first look at the desktop. Called once events will reach handleEvent().
    void startListening();
    bool isListening() const { return listening_; }

    // Returns whether the event matters to the backend (then a flush should follow soon).
    bool handleEvent(const xcb_generic_event_t* event);
    // Whether the toolkit should not see the event: it reached this connection only because the
    // backend selected the root's substructure (the toolkit takes any ConfigureNotify on the
    // root as a possible screen change that it answers by reading every output again), or it is
    // an overlay's own notice of a restack that left its rectangle as the toolkit last saw it
    // (the toolkit answers each with a round trip to learn a position it already knows).
    bool onlyOurs(const xcb_generic_event_t* event);
    // Delivers everything the events since the last flush imply. Returns true when it held the
    // batch back because it is one step of a change still under way: flush again after
    // holdLeft() (or at the next event).
    bool flush();
    std::chrono::milliseconds holdLeft() const;
    static constexpr std::chrono::milliseconds kSettle{20};
    // How long a raise waits for its announcement after somebody asked the manager to activate
    // a window: a loaded manager takes longer than kSettle between the two.
    static constexpr std::chrono::milliseconds kAnnouncementWait{100};

    void setStackingChangedHandler(std::function<void()> handler) {
        stackingChanged_ = std::move(handler);
    }
    // Runs after a batch in which the window manager's check window or its list of supported
    // features changed: a manager started, was replaced or went away.
    void setWindowManagerChangedHandler(std::function<void()> handler) {
        windowManagerChanged_ = std::move(handler);
    }

    // The system woke from sleep: the wake observers run now.
    void notifyWake();

    // Workspace side.
    ObserverToken addWorkspaceObserver(WorkspaceNotification name, std::function<void()> handler);
    void removeWorkspaceObserver(ObserverToken token);

    // Accessibility observers register here while they are attached to the main loop.
    void attach(X11AXObserver* observer);
    void detach(X11AXObserver* observer);

    // The frontmost application's pid under the rule "owner of the most recent non-empty
    // _NET_ACTIVE_WINDOW while it still has a window"; reads the server now. 0 when none.
    std::int32_t frontmostPid();
    const DesktopState& lastState() const { return state_; }

    // Whether the accessibility trust may be answered from the cache.
    bool trustCacheValid() const { return listening_ && trustValid_; }
    void setTrustCached() { trustValid_ = true; }
    // Watch a window's destruction (e.g. the manager's check window).
    void watchStructure(xcb_window_t window);

private:
    // The desktop as the window facts show it; `previousFront` keeps an application frontmost
    // while it still has a window.
    DesktopState readState(std::int32_t previousFront);
    bool settling();
    std::int32_t frontPidFor(std::optional<xcb_window_t> active, const DesktopState& s,
                             std::int32_t previous);

    X11Context& ctx_;
    X11WindowCache& cache_;
    X11WindowList& windowList_;
    DesktopState state_;
    std::uint64_t clientsGeneration_ = 0;
    bool toolkitSubstructure_ = false;  // the toolkit had selected the root's substructure itself
    std::optional<std::chrono::steady_clock::time_point> settleSince_;
    std::chrono::steady_clock::time_point holdUntil_{};
    // When somebody last asked the manager to activate a window, until its announcement.
    std::optional<std::chrono::steady_clock::time_point> activationAsked_;
    bool listening_ = false;
    bool dirty_ = false;
    bool stackingDirty_ = false;
    bool trustValid_ = false;
    std::unordered_set<xcb_window_t> gone_;  // destroyed or unmapped since the last flush
    std::unordered_set<xcb_window_t> watched_;
    // Each overlay's rectangle (x, y, width, height, border) as the toolkit last saw it.
    std::unordered_map<xcb_window_t, std::array<std::int32_t, 5>> overlayPlaces_;
    std::vector<X11AXObserver*> observers_;
    std::map<ObserverToken, std::pair<WorkspaceNotification, std::function<void()>>> workspace_;
    ObserverToken nextToken_ = 1;
    std::function<void()> stackingChanged_;
    std::function<void()> windowManagerChanged_;
    bool windowManagerDirty_ = false;

    friend class X11AXObserver;
};

// One accessibility observer: the engine's registrations for one process. It must not outlive
// the X11Events it was created by.
class X11AXObserver : public AXObserver {
public:
    X11AXObserver(X11Events& events, std::int32_t pid, AXObserverCallback callback);
    ~X11AXObserver() override;

    bool addNotification(const AXElement& element, std::string_view notification,
                         void* context) override;
    bool removeNotification(const AXElement& element, std::string_view notification) override;
    void addToMainRunLoop() override;
    void removeFromMainRunLoop() override;

    std::int32_t pid() const { return pid_; }

private:
    friend class X11Events;
    struct Registration {
        AXElement element;
        std::string notification;
        void* context;
    };

    X11Events& events_;
    std::int32_t pid_;
    AXObserverCallback callback_;
    std::vector<Registration> registrations_;
};

}  // namespace sombrix::x11

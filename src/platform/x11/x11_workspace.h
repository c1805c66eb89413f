// The workspace on X11: the frontmost application is the owner of the most recent active window
// while it still has a window; its bundle identifier is the WM_CLASS class of its windows.
// Wake notifications come from logind over the system bus when there is one.
#pragma once

#include <functional>

#include "platform/workspace.h"
#include "platform/x11/x11_accessibility.h"
#include "platform/x11/x11_context.h"
#include "platform/x11/x11_events.h"

namespace sombrix::x11 {

class X11Workspace : public Workspace {
public:
    X11Workspace(X11Context& context, X11Events& events, X11Accessibility& accessibility);

    std::optional<RunningApplication> frontmostApplication() override;
    std::optional<RunningApplication> runningApplication(std::int32_t pid) override;
    // Activates the window last made main through accessibility, else the application's
    // topmost window.
    bool activate(const RunningApplication& application) override;

    ObserverToken addObserver(WorkspaceNotification name, std::function<void()> handler) override;
    void removeObserver(ObserverToken token) override;

    // Opens with the desktop's handler for the URL's scheme.
    void openURL(const std::string& url) override;

private:
    std::optional<std::string> bundleIdentifierOf(std::int32_t pid,
                                                  const std::vector<xcb_window_t>& clients);

    X11Context& ctx_;
    X11Events& events_;
    X11Accessibility& accessibility_;
};

}  // namespace sombrix::x11

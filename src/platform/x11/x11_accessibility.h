// Accessibility on X11: trust means an EWMH window manager that publishes focus and stacking;
// elements are applications (pids) and client windows (X ids); attributes come from EWMH
// properties; raising is an _NET_ACTIVE_WINDOW request as a pager sends it.
#pragma once

#include <memory>
#include <optional>
#include <unordered_map>

#include "platform/accessibility.h"
#include "platform/x11/x11_context.h"
#include "platform/x11/x11_events.h"
#include "platform/x11/x11_window_list.h"

namespace sombrix::x11 {

class X11Accessibility : public Accessibility {
public:
    X11Accessibility(X11Context& context, X11WindowList& windowList, X11Events& events);

    bool isProcessTrusted() override;
    std::uint64_t windowManagerIdentity() override { return windowManager_; }
    // There is no prompt on X11: trust comes from running a window manager.
    void requestTrustWithPrompt() override {}

    AXElement applicationElement(std::int32_t pid) override;
    std::optional<AXAttributeValue> copyAttributeValue(const AXElement& element,
                                                       std::string_view attribute) override;
    std::optional<std::uint32_t> windowNumber(const AXElement& element) override;
    // "AXRaise" sends the activation request; "AXMain" records the window as its
    // application's main window, which the next activation of that application brings forward.
    bool performAction(const AXElement& element, std::string_view action) override;
    bool setAttributeValue(const AXElement& element, std::string_view attribute,
                           bool value) override;
    std::unique_ptr<AXObserver> createObserver(std::int32_t pid,
                                               AXObserverCallback callback) override;

    // The window the next activation of `pid` should bring forward, consumed by the call.
    std::optional<xcb_window_t> takeMainWindow(std::int32_t pid);
    // The _NET_ACTIVE_WINDOW request (source: pager) for a window.
    void requestActivation(xcb_window_t window);

private:
    bool readTrust();
    // Whether the window's frame covers a whole monitor.
    bool coversAMonitor(xcb_window_t window);

    X11Context& ctx_;
    X11WindowList& list_;
    X11Events& events_;
    bool trusted_ = false;
    xcb_window_t windowManager_ = XCB_NONE;
    std::unordered_map<std::int32_t, xcb_window_t> mainWindows_;
};

}  // namespace sombrix::x11

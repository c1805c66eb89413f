// The X11 backend for one connection: owns every X11 service and hands out references to them.
// The application's main constructs one from Qt's connection:
//
//     auto platform = sombrix::x11::X11Platform::fromQt();   // null unless Qt runs on xcb
//     platform->setConnectionLostHandler([](int) { ...message...; std::exit(1); });
//     platform->setStackingChangedHandler([&] { controller.refresh(); });
//     platform->installEventFilter();
//
// Our overlays are found in the window list through a registry: the overlay window calls
// registerOverlay(winId) once its window flags are final (and again after Qt recreates the
// window), and unregisterOverlay before the window goes away. Registered windows are listed at
// the application layer, owned by this process, at their true stacking place.
#pragma once

#include <xcb/xcb.h>

#include <functional>
#include <memory>

#include "platform/x11/x11_accessibility.h"
#include "platform/x11/x11_context.h"
#include "platform/x11/x11_displays.h"
#include "platform/x11/x11_events.h"
#include "platform/x11/x11_stacking.h"
#include "platform/x11/x11_window_list.h"
#include "platform/x11/x11_workspace.h"

namespace sombrix::x11 {

class X11EventFilter;
class X11SleepWatch;

class X11Platform {
public:
    // `connection` must stay open for the platform's life. Displays need a QGuiApplication.
    X11Platform(xcb_connection_t* connection, xcb_window_t root);
    ~X11Platform();
    X11Platform(const X11Platform&) = delete;
    X11Platform& operator=(const X11Platform&) = delete;

    // Qt's own X connection and default root; null when the application does not run on the
    // xcb platform (e.g. offscreen) or there is no QGuiApplication.
    static std::unique_ptr<X11Platform> fromQt();

    // Starts receiving X events through Qt: adds substructure and property events to the root's
    // mask and turns each batch of pending events into notifications and at most one
    // stacking-changed call; also listens for the end of system sleep (wake notifications).
    // Needs a running Qt event loop; harmless to call twice.
    void installEventFilter();

    // Runs after a batch of events changed the stacking (a restack, map, unmap, a window's state)
    // when no notification of the same batch already ran.
    void setStackingChangedHandler(std::function<void()> handler);
    // Runs after a batch of events in which a window manager started, was replaced or went
    // away; the trust is worth asking again at once rather than at the next poll.
    void setWindowManagerChangedHandler(std::function<void()> handler);
    // Runs once when the X connection is found broken; the default prints a message and ends
    // the process at once with status 1. Every query answers "absent" afterwards.
    void setConnectionLostHandler(std::function<void(int error)> handler);

    void registerOverlay(xcb_window_t window) { context_.registerOverlay(window); }
    void unregisterOverlay(xcb_window_t window) { context_.unregisterOverlay(window); }

    WindowList& windowList() { return windowList_; }
    X11Stacking& stacking() { return windowList_; }
    Accessibility& accessibility() { return accessibility_; }
    Workspace& workspace() { return workspace_; }
    // Created on first use (it needs the QGuiApplication).
    Displays& displays();

    X11Context& context() { return context_; }
    X11WindowList& x11WindowList() { return windowList_; }
    X11Events& events() { return events_; }

private:
    X11Context context_;
    X11WindowList windowList_;
    X11Events events_;
    X11Accessibility accessibility_;
    X11Workspace workspace_;
    std::unique_ptr<X11Displays> displays_;
    std::unique_ptr<X11EventFilter> filter_;
    std::unique_ptr<X11SleepWatch> sleepWatch_;
};

}  // namespace sombrix::x11

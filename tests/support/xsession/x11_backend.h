// The backend on its own X connection, as the application would hold it, with events pumped by
// hand instead of through Qt: each pump hands the queued events over and flushes once. Header
// only, for the tests and benchmarks that link the X11 backend.
#pragma once

#include <xcb/xcb.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "platform/x11/x11_platform.h"
#include "xsession.h"

namespace sombrix::x11 {

struct Backend {
    explicit Backend(const std::string& display)
        : connection(xcb_connect(display.c_str(), nullptr)),
          platform(connection, xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root) {}
    ~Backend() { xcb_disconnect(connection); }

    void listen() { platform.events().startListening(); }
    // Waits for `condition`, pumping events before each look.
    bool pumpUntil(const std::function<bool()>& condition) {
        return test::waitUntil([&] {
            pump();
            return condition();
        });
    }
    void pump() {
        while (const auto event = own(xcb_poll_for_event(connection)))
            platform.events().handleEvent(event.get());
        platform.events().flush();
    }

    xcb_connection_t* connection;
    X11Platform platform;
    X11Context& context = platform.context();
    X11WindowList& list = platform.x11WindowList();
};

// The entry for window `id`, null when the list has none.
inline const X11Window* findWindow(const std::vector<X11Window>& windows, xcb_window_t id) {
    auto it =
        std::find_if(windows.begin(), windows.end(), [&](const auto& w) { return w.id == id; });
    return it == windows.end() ? nullptr : &*it;
}

}  // namespace sombrix::x11

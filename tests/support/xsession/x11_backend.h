// The backend on its own X connection, as the application would hold it, with events pumped by
// hand instead of through Qt: each pump hands the queued events over and flushes once. Header
// only, for the tests and benchmarks that link the X11 backend.
#pragma once

#include <xcb/xcb.h>

#include <cstdlib>
#include <string>

#include "platform/x11/x11_platform.h"

namespace sombrix::x11 {

struct Backend {
    explicit Backend(const std::string& display)
        : connection(xcb_connect(display.c_str(), nullptr)),
          platform(connection, xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root) {}
    ~Backend() { xcb_disconnect(connection); }

    void listen() { platform.events().startListening(); }
    void pump() {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
            platform.events().handleEvent(event);
            std::free(event);
        }
        platform.events().flush();
    }

    xcb_connection_t* connection;
    X11Platform platform;
};

}  // namespace sombrix::x11

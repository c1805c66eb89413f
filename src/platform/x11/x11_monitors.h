// The monitors as the X server sees them, in X root pixels: what overlays cover and windows are
// matched against, whatever scale the toolkit draws at.
#pragma once

#include <xcb/xcb.h>

#include <string>
#include <vector>

#include "platform/geometry.h"

namespace sombrix::x11 {

struct Monitor {
    std::string name;
    Rect frame;  // root pixels
    bool primary = false;
};

// The active RandR monitors, the primary first, then in the server's order. Without RandR (or
// when it lists none) the whole root is one monitor named "". One round trip, plus one for the
// names.
std::vector<Monitor> readMonitors(xcb_connection_t* connection, xcb_window_t root);

// Whether `bounds` covers the whole of some monitor.
bool coversAMonitor(const Rect& bounds, const std::vector<Monitor>& monitors);

}  // namespace sombrix::x11

// RandR monitors in root pixels.
#include "platform/x11/x11_monitors.h"

#include <xcb/randr.h>

#include <algorithm>

#include "platform/x11/x11_reply.h"

namespace sombrix::x11 {

std::vector<Monitor> readMonitors(xcb_connection_t* c, xcb_window_t root) {
    std::vector<Monitor> out;
    if (c == nullptr || xcb_connection_has_error(c))
        return out;
    const xcb_query_extension_reply_t* randr = xcb_get_extension_data(c, &xcb_randr_id);
    if (randr && randr->present) {
        // RandR older than 1.5: no monitors, the root below.
        auto monitors =
            awaitReply(c, xcb_randr_get_monitors_reply, xcb_randr_get_monitors(c, root, 1));
        if (monitors) {
            std::vector<xcb_get_atom_name_cookie_t> names;
            for (auto it = xcb_randr_get_monitors_monitors_iterator(monitors.get()); it.rem;
                 xcb_randr_monitor_info_next(&it)) {
                const xcb_randr_monitor_info_t& m = *it.data;
                if (m.width == 0 || m.height == 0)
                    continue;
                out.push_back({{},
                               {double(m.x), double(m.y), double(m.width), double(m.height)},
                               m.primary != 0});
                names.push_back(xcb_get_atom_name(c, m.name));
            }
            for (std::size_t i = 0; i < names.size(); ++i) {
                if (auto name = own(xcb_get_atom_name_reply(c, names[i], nullptr)))
                    out[i].name.assign(xcb_get_atom_name_name(name.get()),
                                       std::size_t(xcb_get_atom_name_name_length(name.get())));
            }
        }
    }
    if (out.empty()) {
        auto geometry = own(xcb_get_geometry_reply(c, xcb_get_geometry(c, root), nullptr));
        if (geometry)
            out.push_back({{}, {0, 0, double(geometry->width), double(geometry->height)}, true});
    }
    std::stable_partition(out.begin(), out.end(), [](const Monitor& m) { return m.primary; });
    return out;
}

bool coversAMonitor(const Rect& b, const std::vector<Monitor>& monitors) {
    return std::any_of(monitors.begin(), monitors.end(), [&](const Monitor& m) {
        const Rect& f = m.frame;
        return b.minX() <= f.minX() && b.minY() <= f.minY() && b.maxX() >= f.maxX() &&
               b.maxY() >= f.maxY();
    });
}

}  // namespace sombrix::x11

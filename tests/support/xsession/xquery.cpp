// Plain xcb requests, each waiting for its reply.
#include "xquery.h"

namespace sombrix::test {

xcb_atom_t atom(xcb_connection_t* c, const std::string& name) {
    const auto reply = own(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(name.size()), name.c_str()), nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

xcb_window_t rootOf(xcb_connection_t* c) {
    return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
}

std::vector<std::uint32_t> list32(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property,
                                  xcb_atom_t type, std::uint32_t max) {
    const auto reply =
        awaitReply(c, xcb_get_property_reply, xcb_get_property(c, 0, w, property, type, 0, max));
    if (!reply || reply->format != 32)
        return {};
    const auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    return {data, data + xcb_get_property_value_length(reply.get()) / 4};
}

std::optional<std::uint32_t> value32(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property,
                                     xcb_atom_t type) {
    const auto list = list32(c, w, property, type, 2);
    return list.size() == 1 ? std::optional(list[0]) : std::nullopt;
}

std::optional<xcb_window_t> topLevelOf(xcb_connection_t* c, xcb_window_t w) {
    const xcb_window_t root = rootOf(c);
    for (int depth = 0; depth < 64; ++depth) {
        const auto tree = awaitReply(c, xcb_query_tree_reply, xcb_query_tree(c, w));
        if (!tree)
            return std::nullopt;
        if (tree->parent == root || tree->parent == XCB_NONE)
            return w;
        w = tree->parent;
    }
    return std::nullopt;
}

std::optional<xcb_window_t> managerWindow(xcb_connection_t* c) {
    const xcb_atom_t check = atom(c, "_NET_SUPPORTING_WM_CHECK");
    const auto named = value32(c, rootOf(c), check, XCB_ATOM_WINDOW);
    return named && value32(c, *named, check, XCB_ATOM_WINDOW) == named ? named : std::nullopt;
}

std::vector<xcb_window_t> rootChildren(xcb_connection_t* c) {
    const auto tree = awaitReply(c, xcb_query_tree_reply, xcb_query_tree(c, rootOf(c)));
    if (!tree)
        return {};
    const auto* kids = xcb_query_tree_children(tree.get());
    return {kids, kids + xcb_query_tree_children_length(tree.get())};
}

bool isViewable(xcb_connection_t* c, xcb_window_t w) {
    const auto reply =
        awaitReply(c, xcb_get_window_attributes_reply, xcb_get_window_attributes(c, w));
    return reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
}

std::vector<xcb_window_t> overlayWindows(xcb_connection_t* c) {
    const xcb_atom_t marker = atom(c, "_SOMBRIX_OVERLAY");
    std::vector<xcb_window_t> found;
    for (xcb_window_t w : rootChildren(c)) {
        if (!list32(c, w, marker, XCB_ATOM_ANY, 1).empty())
            found.push_back(w);
    }
    return found;
}

std::vector<xcb_window_t> mappedOverlays(xcb_connection_t* c) {
    std::vector<xcb_window_t> mapped;
    for (xcb_window_t w : overlayWindows(c)) {
        if (isViewable(c, w))
            mapped.push_back(w);
    }
    return mapped;
}

double opacity(xcb_connection_t* c, xcb_window_t w) {
    const auto value = value32(c, w, atom(c, "_NET_WM_WINDOW_OPACITY"), XCB_ATOM_CARDINAL);
    return value ? *value / 4294967295.0 : 1.0;
}

}  // namespace sombrix::test

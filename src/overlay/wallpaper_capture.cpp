// Wallpaper capture over a private xcb connection: the desktop window through Composite, or the
// root background pixmap that wallpaper setters publish.
#include "overlay/wallpaper_capture.h"

#include <xcb/composite.h>
#include <xcb/xcb.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/x11/x11_reply.h"

namespace sombrix::WallpaperCapture {

namespace {

using x11::own;
using x11::Reply;

struct Connection {
    explicit Connection(const std::string& display)
        : c(xcb_connect(display.empty() ? nullptr : display.c_str(), &screenNumber)) {}
    ~Connection() { xcb_disconnect(c); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    bool ok() const { return c && !xcb_connection_has_error(c); }
    xcb_connection_t* c;
    int screenNumber = 0;
};

struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    long area() const { return static_cast<long>(width) * height; }
};

PixelRect intersect(const PixelRect& a, const PixelRect& b) {
    const int x0 = std::max(a.x, b.x);
    const int y0 = std::max(a.y, b.y);
    const int x1 = std::min(a.x + a.width, b.x + b.width);
    const int y1 = std::min(a.y + a.height, b.y + b.height);
    if (x1 <= x0 || y1 <= y0)
        return {};
    return {x0, y0, x1 - x0, y1 - y0};
}

xcb_screen_t* screenOf(const Connection& conn) {
    auto it = xcb_setup_roots_iterator(xcb_get_setup(conn.c));
    for (int i = 0; i < conn.screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    return it.rem ? it.data : nullptr;
}

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    auto reply = own(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 1, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// Bits per pixel the server uses for images of `depth`; 0 when it has no such format.
int bitsPerPixel(xcb_connection_t* c, std::uint8_t depth) {
    const xcb_setup_t* setup = xcb_get_setup(c);
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it)) {
        if (it.data->depth == depth)
            return it.data->bits_per_pixel;
    }
    return 0;
}

// Copies `area` of `drawable` (in the drawable's coordinates) into `target` at `at`. False when
// the server refuses (the drawable is gone) or the pixel format is not 32-bit little-endian RGB.
bool copyArea(xcb_connection_t* c, xcb_drawable_t drawable, const PixelRect& area, QImage& target,
              int atX, int atY) {
    auto image = x11::awaitReply(
        c, xcb_get_image_reply,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, static_cast<std::int16_t>(area.x),
                      static_cast<std::int16_t>(area.y), static_cast<std::uint16_t>(area.width),
                      static_cast<std::uint16_t>(area.height), ~0u));
    if (!image)
        return false;
    if (xcb_get_setup(c)->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST)
        return false;
    if (image->depth < 24 || bitsPerPixel(c, image->depth) != 32)
        return false;
    const std::size_t stride = static_cast<std::size_t>(area.width) * 4;
    const auto length = static_cast<std::size_t>(xcb_get_image_data_length(image.get()));
    if (length < stride * static_cast<std::size_t>(area.height))
        return false;
    const std::uint8_t* data = xcb_get_image_data(image.get());
    for (int row = 0; row < area.height; ++row) {
        auto* line = reinterpret_cast<std::uint32_t*>(target.scanLine(atY + row)) + atX;
        const auto* source = reinterpret_cast<const std::uint32_t*>(data + stride * row);
        // BGRX bytes are 0xXXRRGGBB words: force the unused byte opaque.
        for (int col = 0; col < area.width; ++col)
            line[col] = source[col] | 0xff000000u;
    }
    return true;
}

// A picture of `display` pixels with the part of `drawable` (whose own rectangle, in root
// coordinates, is `drawableRect`) that lies under the display; what no pixel covers stays black.
std::optional<QImage> pictureFrom(xcb_connection_t* c, xcb_drawable_t drawable,
                                  const PixelRect& drawableRect, const PixelRect& display) {
    const PixelRect covered = intersect(drawableRect, display);
    if (covered.area() == 0)
        return std::nullopt;
    QImage picture(display.width, display.height, QImage::Format_RGB32);
    if (picture.isNull())
        return std::nullopt;
    picture.fill(Qt::black);
    const PixelRect source{covered.x - drawableRect.x, covered.y - drawableRect.y, covered.width,
                           covered.height};
    if (!copyArea(c, drawable, source, picture, covered.x - display.x, covered.y - display.y))
        return std::nullopt;
    return picture;
}

// The top-level (child of the root) holding `w`; 0 when it is gone.
xcb_window_t topLevelOf(xcb_connection_t* c, xcb_window_t w, xcb_window_t root) {
    for (int depth = 0; depth < 16; ++depth) {
        auto tree = own(xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr));
        if (!tree)
            return 0;
        if (tree->parent == root || tree->parent == XCB_WINDOW_NONE)
            return w;
        w = tree->parent;
    }
    return 0;
}

// A desktop environment's desktop window: the managed window of type DESKTOP that overlaps the
// display most (the first listed on equal overlap), as its top-level and root rectangle.
std::optional<std::pair<xcb_window_t, PixelRect>> desktopWindow(xcb_connection_t* c,
                                                                xcb_window_t root,
                                                                const PixelRect& display) {
    const xcb_atom_t clientList = atom(c, "_NET_CLIENT_LIST");
    const xcb_atom_t windowType = atom(c, "_NET_WM_WINDOW_TYPE");
    const xcb_atom_t desktopType = atom(c, "_NET_WM_WINDOW_TYPE_DESKTOP");
    if (!clientList || !windowType || !desktopType)
        return std::nullopt;
    auto list = own(xcb_get_property_reply(
        c, xcb_get_property(c, 0, root, clientList, XCB_ATOM_WINDOW, 0, 4096), nullptr));
    if (!list || list->format != 32)
        return std::nullopt;
    const auto* ids = static_cast<const xcb_window_t*>(xcb_get_property_value(list.get()));
    const int count = xcb_get_property_value_length(list.get()) / 4;

    std::vector<xcb_get_property_cookie_t> cookies;
    cookies.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        cookies.push_back(xcb_get_property(c, 0, ids[i], windowType, XCB_ATOM_ATOM, 0, 32));
    std::vector<xcb_window_t> desktops;
    for (int i = 0; i < count; ++i) {
        auto type = own(xcb_get_property_reply(c, cookies[static_cast<std::size_t>(i)], nullptr));
        if (!type || type->format != 32)
            continue;
        const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(type.get()));
        const int n = xcb_get_property_value_length(type.get()) / 4;
        for (int k = 0; k < n; ++k) {
            if (atoms[k] == desktopType) {
                desktops.push_back(ids[i]);
                break;
            }
        }
    }

    std::optional<std::pair<xcb_window_t, PixelRect>> best;
    long bestArea = 0;
    for (xcb_window_t client : desktops) {
        const xcb_window_t top = topLevelOf(c, client, root);
        if (!top)
            continue;
        auto geometry = own(xcb_get_geometry_reply(c, xcb_get_geometry(c, top), nullptr));
        if (!geometry)
            continue;
        const PixelRect rect{geometry->x, geometry->y, geometry->width, geometry->height};
        const long area = intersect(rect, display).area();
        if (area > bestArea) {
            best = std::make_pair(top, rect);
            bestArea = area;
        }
    }
    return best;
}

// The desktop window's own contents, whatever lies above it. Needs a compositor that keeps the
// window redirected; without one the server refuses and the caller falls back to the root pixmap.
std::optional<QImage> captureDesktopWindow(xcb_connection_t* c, xcb_window_t root,
                                           const PixelRect& display) {
    const xcb_query_extension_reply_t* composite = xcb_get_extension_data(c, &xcb_composite_id);
    if (!composite || !composite->present)
        return std::nullopt;
    const auto desktop = desktopWindow(c, root, display);
    if (!desktop)
        return std::nullopt;
    const xcb_pixmap_t pixmap = xcb_generate_id(c);
    if (own(xcb_request_check(c,
                              xcb_composite_name_window_pixmap_checked(c, desktop->first, pixmap))))
        return std::nullopt;
    PixelRect rect = desktop->second;
    auto picture = pictureFrom(c, pixmap, rect, display);
    xcb_free_pixmap(c, pixmap);
    xcb_flush(c);
    return picture;
}

std::optional<QImage> captureRootPixmap(xcb_connection_t* c, xcb_window_t root,
                                        const PixelRect& display) {
    for (const char* name : {"_XROOTPMAP_ID", "ESETROOT_PMAP_ID"}) {
        const xcb_atom_t property = atom(c, name);
        if (!property)
            continue;
        auto value = own(xcb_get_property_reply(
            c, xcb_get_property(c, 0, root, property, XCB_ATOM_PIXMAP, 0, 1), nullptr));
        if (!value || value->format != 32 || xcb_get_property_value_length(value.get()) != 4)
            continue;
        const xcb_pixmap_t pixmap =
            *static_cast<const xcb_pixmap_t*>(xcb_get_property_value(value.get()));
        auto geometry = own(xcb_get_geometry_reply(c, xcb_get_geometry(c, pixmap), nullptr));
        // The setter may have freed the pixmap since publishing it: that is no wallpaper.
        if (!geometry)
            return std::nullopt;
        return pictureFrom(c, pixmap, {0, 0, geometry->width, geometry->height}, display);
    }
    return std::nullopt;
}

}  // namespace

std::optional<QImage> capture(const std::string& display, const Rect& screenFrame) {
    const double width = std::trunc(screenFrame.width);
    const double height = std::trunc(screenFrame.height);
    if (!(width >= 1 && height >= 1 && width <= 32767 && height <= 32767) ||
        !std::isfinite(screenFrame.x) || !std::isfinite(screenFrame.y))
        return std::nullopt;
    const PixelRect pixels{static_cast<int>(std::lround(screenFrame.x)),
                           static_cast<int>(std::lround(screenFrame.y)), static_cast<int>(width),
                           static_cast<int>(height)};

    Connection conn(display);
    if (!conn.ok())
        return std::nullopt;
    xcb_screen_t* screen = screenOf(conn);
    if (!screen)
        return std::nullopt;
    if (auto picture = captureDesktopWindow(conn.c, screen->root, pixels))
        return picture;
    return captureRootPixmap(conn.c, screen->root, pixels);
}

}  // namespace sombrix::WallpaperCapture

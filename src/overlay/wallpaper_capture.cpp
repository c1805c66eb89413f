// Wallpaper capture over a private xcb connection: the desktop window through Composite, or the
// root background pixmap that wallpaper setters publish. The connection and a shared memory
// segment the server writes the pixels into are kept between captures: a picture of a display
// then costs the server's copy and ours, not a new connection and megabytes through the socket.
#include "overlay/wallpaper_capture.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/composite.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/x11/x11_reply.h"

namespace sombrix::WallpaperCapture {

namespace {

using x11::own;
using x11::Reply;

// A segment of shared memory the server has attached; detached and freed with its connection.
class SharedSegment {
public:
    explicit SharedSegment(xcb_connection_t* c) : c_(c) {
        const xcb_query_extension_reply_t* shm = xcb_get_extension_data(c, &xcb_shm_id);
        usable_ = shm && shm->present;
    }
    ~SharedSegment() { release(); }
    SharedSegment(const SharedSegment&) = delete;
    SharedSegment& operator=(const SharedSegment&) = delete;

    // At least `bytes` of memory the server writes into; null when the server offers no shared
    // memory to this client (another machine, no extension), and from then on.
    const std::uint8_t* reserve(std::size_t bytes) {
        if (!usable_)
            return nullptr;
        if (bytes <= size_)
            return static_cast<const std::uint8_t*>(address_);
        release();
        const int id = ::shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
        if (id < 0) {
            usable_ = false;
            return nullptr;
        }
        void* address = ::shmat(id, nullptr, SHM_RDONLY);
        const xcb_shm_seg_t seg = xcb_generate_id(c_);
        const bool attached =
            address != reinterpret_cast<void*>(-1) &&
            !own(xcb_request_check(
                c_, xcb_shm_attach_checked(c_, seg, static_cast<std::uint32_t>(id), 0)));
        // Marked for removal at once: it goes when both sides detach, even if we are killed.
        ::shmctl(id, IPC_RMID, nullptr);
        if (!attached) {
            if (address != reinterpret_cast<void*>(-1))
                ::shmdt(address);
            usable_ = false;
            return nullptr;
        }
        address_ = address;
        seg_ = seg;
        size_ = bytes;
        return static_cast<const std::uint8_t*>(address_);
    }
    xcb_shm_seg_t id() const { return seg_; }

private:
    void release() {
        if (!address_)
            return;
        xcb_shm_detach(c_, seg_);
        xcb_flush(c_);
        ::shmdt(address_);
        address_ = nullptr;
        size_ = 0;
    }

    xcb_connection_t* c_;
    bool usable_ = false;
    void* address_ = nullptr;
    xcb_shm_seg_t seg_ = 0;
    std::size_t size_ = 0;
};

struct Connection {
    explicit Connection(const std::string& display)
        : c(xcb_connect(display.empty() ? nullptr : display.c_str(), &screenNumber)) {
        if (ok())
            shared = std::make_unique<SharedSegment>(c);
    }
    ~Connection() {
        shared.reset();  // detached while the connection is still there
        xcb_disconnect(c);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    bool ok() const { return c && !xcb_connection_has_error(c); }
    xcb_connection_t* c;
    int screenNumber = 0;
    std::unique_ptr<SharedSegment> shared;
    std::map<std::string, xcb_atom_t, std::less<>> atoms;  // names that exist never change
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

xcb_atom_t atom(Connection& conn, const char* name) {
    if (auto known = conn.atoms.find(std::string_view(name)); known != conn.atoms.end())
        return known->second;
    xcb_connection_t* c = conn.c;
    auto reply = own(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 1, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr));
    if (!reply || reply->atom == XCB_ATOM_NONE)
        return XCB_ATOM_NONE;  // asked again next time: a wallpaper setter may create it
    conn.atoms.emplace(name, reply->atom);
    return reply->atom;
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

// Whether the server's images of `depth` are 32-bit little-endian words.
bool isRgb32(xcb_connection_t* c, std::uint8_t depth) {
    return xcb_get_setup(c)->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST && depth >= 24 &&
           bitsPerPixel(c, depth) == 32;
}

void copyRows(const std::uint8_t* data, const PixelRect& area, QImage& target, int atX, int atY) {
    const std::size_t stride = static_cast<std::size_t>(area.width) * 4;
    for (int row = 0; row < area.height; ++row) {
        auto* line = reinterpret_cast<std::uint32_t*>(target.scanLine(atY + row)) + atX;
        const auto* source = reinterpret_cast<const std::uint32_t*>(data + stride * row);
        // BGRX bytes are 0xXXRRGGBB words: force the unused byte opaque, four at a time where
        // the processor can (a display is millions of pixels, copied at every capture).
        int col = 0;
#if defined(__SSE2__)
        const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xff000000u));
        for (; col + 4 <= area.width; col += 4) {
            const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + col));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(line + col), _mm_or_si128(pixels, opaque));
        }
#endif
        for (; col < area.width; ++col)
            line[col] = source[col] | 0xff000000u;
    }
}

// Through the shared segment; false when there is none or the server refused.
bool copyAreaShared(Connection& conn, xcb_drawable_t drawable, const PixelRect& area,
                    QImage& target, int atX, int atY) {
    xcb_connection_t* c = conn.c;
    const std::size_t bytes = static_cast<std::size_t>(area.area()) * 4;
    const std::uint8_t* data = conn.shared ? conn.shared->reserve(bytes) : nullptr;
    if (!data)
        return false;
    auto image = x11::awaitReply(
        c, xcb_shm_get_image_reply,
        xcb_shm_get_image(c, drawable, static_cast<std::int16_t>(area.x),
                          static_cast<std::int16_t>(area.y), static_cast<std::uint16_t>(area.width),
                          static_cast<std::uint16_t>(area.height), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP,
                          conn.shared->id(), 0));
    if (!image || !isRgb32(c, image->depth) || image->size < bytes)
        return false;
    copyRows(data, area, target, atX, atY);
    return true;
}

// Copies `area` of `drawable` (in the drawable's coordinates) into `target` at `at`. False when
// the server refuses (the drawable is gone) or the pixel format is not 32-bit little-endian RGB.
bool copyArea(Connection& conn, xcb_drawable_t drawable, const PixelRect& area, QImage& target,
              int atX, int atY) {
    if (copyAreaShared(conn, drawable, area, target, atX, atY))
        return true;
    // No shared memory, or the server refused: the plain request tells which.
    xcb_connection_t* c = conn.c;
    auto image = x11::awaitReply(
        c, xcb_get_image_reply,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, static_cast<std::int16_t>(area.x),
                      static_cast<std::int16_t>(area.y), static_cast<std::uint16_t>(area.width),
                      static_cast<std::uint16_t>(area.height), ~0u));
    if (!image || !isRgb32(c, image->depth))
        return false;
    const std::size_t stride = static_cast<std::size_t>(area.width) * 4;
    const auto length = static_cast<std::size_t>(xcb_get_image_data_length(image.get()));
    if (length < stride * static_cast<std::size_t>(area.height))
        return false;
    copyRows(xcb_get_image_data(image.get()), area, target, atX, atY);
    return true;
}

// A picture of `display` pixels with the part of `drawable` (whose own rectangle, in root
// coordinates, is `drawableRect`) that lies under the display; what no pixel covers stays black.
std::optional<QImage> pictureFrom(Connection& conn, xcb_drawable_t drawable,
                                  const PixelRect& drawableRect, const PixelRect& display) {
    const PixelRect covered = intersect(drawableRect, display);
    if (covered.area() == 0)
        return std::nullopt;
    QImage picture(display.width, display.height, QImage::Format_RGB32);
    if (picture.isNull())
        return std::nullopt;
    if (covered.area() != display.area())
        picture.fill(Qt::black);
    const PixelRect source{covered.x - drawableRect.x, covered.y - drawableRect.y, covered.width,
                           covered.height};
    if (!copyArea(conn, drawable, source, picture, covered.x - display.x, covered.y - display.y))
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
std::optional<std::pair<xcb_window_t, PixelRect>> desktopWindow(Connection& conn, xcb_window_t root,
                                                                const PixelRect& display) {
    xcb_connection_t* c = conn.c;
    const xcb_atom_t clientList = atom(conn, "_NET_CLIENT_LIST");
    const xcb_atom_t windowType = atom(conn, "_NET_WM_WINDOW_TYPE");
    const xcb_atom_t desktopType = atom(conn, "_NET_WM_WINDOW_TYPE_DESKTOP");
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

// The desktop window's own contents, whatever lies above it, from the contents the server keeps
// for it (the wallpaper service has it redirected); while it is not, the server refuses and the
// caller falls back to the root pixmap.
std::optional<QImage> captureDesktopWindow(Connection& conn, xcb_window_t root,
                                           const PixelRect& display) {
    xcb_connection_t* c = conn.c;
    const xcb_query_extension_reply_t* composite = xcb_get_extension_data(c, &xcb_composite_id);
    if (!composite || !composite->present)
        return std::nullopt;
    const auto desktop = desktopWindow(conn, root, display);
    if (!desktop)
        return std::nullopt;
    const xcb_pixmap_t pixmap = xcb_generate_id(c);
    if (own(xcb_request_check(c,
                              xcb_composite_name_window_pixmap_checked(c, desktop->first, pixmap))))
        return std::nullopt;
    PixelRect rect = desktop->second;
    auto picture = pictureFrom(conn, pixmap, rect, display);
    xcb_free_pixmap(c, pixmap);
    xcb_flush(c);
    return picture;
}

std::optional<QImage> captureRootPixmap(Connection& conn, xcb_window_t root,
                                        const PixelRect& display) {
    xcb_connection_t* c = conn.c;
    for (const char* name : {"_XROOTPMAP_ID", "ESETROOT_PMAP_ID"}) {
        const xcb_atom_t property = atom(conn, name);
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
        return pictureFrom(conn, pixmap, {0, 0, geometry->width, geometry->height}, display);
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

    // One connection per display, kept; captures of several overlays take turns on it.
    static std::mutex mutex;
    static std::map<std::string, std::unique_ptr<Connection>> connections;
    const std::lock_guard lock(mutex);
    auto& conn = connections[display];
    auto attempt = [&]() -> std::optional<QImage> {
        if (!conn || !conn->ok())
            conn = std::make_unique<Connection>(display);
        if (!conn->ok())
            return std::nullopt;
        // Nothing is selected here; errors of requests nobody checked would pile up.
        while (auto* stale = xcb_poll_for_event(conn->c))
            std::free(stale);
        xcb_screen_t* screen = screenOf(*conn);
        if (!screen)
            return std::nullopt;
        if (auto picture = captureDesktopWindow(*conn, screen->root, pixels))
            return picture;
        return captureRootPixmap(*conn, screen->root, pixels);
    };
    auto picture = attempt();
    if (!picture && !conn->ok())
        picture = attempt();  // the kept connection was to a server that has gone since
    return picture;
}

}  // namespace sombrix::WallpaperCapture

// Holes in the overlay window: its bounding shape is the window less the holes, sent as one
// request and only when the holes changed, so a steady desktop costs nothing.
#include <xcb/shape.h>

#include <algorithm>
#include <cmath>

#include "engine/region.h"
#include "overlay/overlay_window.h"

namespace sombrix {

namespace {

std::int16_t toCoordinate(double v) {
    return static_cast<std::int16_t>(std::clamp<long>(std::lround(v), -32768, 32767));
}

std::uint16_t toLength(double v) {
    return static_cast<std::uint16_t>(std::clamp<long>(std::lround(v), 0, 65535));
}

}  // namespace

void OverlayWindow::setHoles(std::vector<Rect> holes) {
    if (holes == holes_)
        return;
    holes_ = std::move(holes);
    applyShape();
}

void OverlayWindow::applyShape() {
    xcb_connection_t* c = env_.connection;
    if (!c || !windowNumber_)
        return;
    const auto* shape = xcb_get_extension_data(c, &xcb_shape_id);
    if (!shape || !shape->present)
        return;  // no holes possible: the overlay stays whole
    ++shapeRequests_;
    if (holes_.empty()) {
        xcb_shape_mask(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, windowNumber_, 0, 0,
                       XCB_PIXMAP_NONE);
        flush();
        return;
    }
    const QRect native = nativeGeometry();
    const Rect frame{double(native.x()), double(native.y()), double(native.width()),
                     double(native.height())};
    // Edges are rounded, not the sizes, so neighbouring rectangles stay seamless.
    std::vector<xcb_rectangle_t> rects;
    for (const Rect& r : region::subtract({frame}, holes_)) {
        const double x0 = std::round(r.minX() - frame.x), x1 = std::round(r.maxX() - frame.x);
        const double y0 = std::round(r.minY() - frame.y), y1 = std::round(r.maxY() - frame.y);
        if (x1 > x0 && y1 > y0)
            rects.push_back(
                {toCoordinate(x0), toCoordinate(y0), toLength(x1 - x0), toLength(y1 - y0)});
    }
    // Every pixel a hole: a shape that lies wholly outside the window, so that it shows nothing
    // at all. An empty list would do for the server, but a compositing manager may take an
    // empty bounding shape for no shape and draw the whole window (mutter does).
    if (rects.empty())
        rects.push_back({-1, -1, 1, 1});
    xcb_shape_rectangles(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, XCB_CLIP_ORDERING_UNSORTED,
                         windowNumber_, 0, 0, static_cast<std::uint32_t>(rects.size()),
                         rects.data());
    flush();
}

}  // namespace sombrix

// The X server's monitors as displays, with visible frames from the window manager's struts;
// Qt's screen signals say when to look again.
#include "platform/x11/x11_displays.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>

#include "platform/x11/x11_reply.h"

namespace sombrix::x11 {

namespace {

// Whether [a0, a1) and [b0, b1] overlap (strut ranges are inclusive).
bool overlaps(double a0, double a1, double b0, double b1) {
    return b0 < a1 && a0 <= b1;
}

}  // namespace

Rect visibleFrameFor(const Rect& display, const Size& root, const std::vector<Strut>& struts) {
    double top = display.minY();
    double bottom = display.maxY();
    double left = display.minX();
    double right = display.maxX();
    for (const Strut& s : struts) {
        if (s.top > 0 && s.top > display.minY() &&
            overlaps(display.minX(), display.maxX(), s.topStartX, s.topEndX)) {
            top = std::max(top, double(s.top));
        }
        const double bottomEdge = root.height - s.bottom;
        if (s.bottom > 0 && bottomEdge < display.maxY() &&
            overlaps(display.minX(), display.maxX(), s.bottomStartX, s.bottomEndX)) {
            bottom = std::min(bottom, bottomEdge);
        }
        if (s.left > 0 && s.left > display.minX() &&
            overlaps(display.minY(), display.maxY(), s.leftStartY, s.leftEndY)) {
            left = std::max(left, double(s.left));
        }
        const double rightEdge = root.width - s.right;
        if (s.right > 0 && rightEdge < display.maxX() &&
            overlaps(display.minY(), display.maxY(), s.rightStartY, s.rightEndY)) {
            right = std::min(right, rightEdge);
        }
    }
    // A strut larger than the display leaves nothing rather than a negative size.
    return Rect{left, top, std::max(0.0, right - left), std::max(0.0, bottom - top)};
}

X11Displays::X11Displays(X11Context& context) : ctx_(context) {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (app == nullptr) {
        return;
    }
    connect(app, &QGuiApplication::screenAdded, this, [this](QScreen* screen) {
        watch(screen);
        notify();
    });
    connect(app, &QGuiApplication::screenRemoved, this, [this](QScreen*) { notify(); });
    connect(app, &QGuiApplication::primaryScreenChanged, this, [this](QScreen*) { notify(); });
    for (QScreen* screen : QGuiApplication::screens()) {
        watch(screen);
    }
}

X11Displays::~X11Displays() = default;

void X11Displays::watch(QScreen* screen) {
    connect(screen, &QScreen::geometryChanged, this, [this](const QRect&) { notify(); });
}

void X11Displays::notify() {
    ctx_.invalidateMonitors();
    std::vector<ObserverToken> tokens;
    for (const auto& [token, handler] : observers_) {
        tokens.push_back(token);
    }
    for (ObserverToken t : tokens) {
        auto it = observers_.find(t);
        if (it != observers_.end()) {
            auto handler = it->second;
            handler();
        }
    }
}

std::vector<Strut> X11Displays::struts() {
    std::vector<Strut> out;
    if (ctx_.connectionBroken()) {
        return out;
    }
    const Atoms& a = ctx_.atoms();
    auto clients = ctx_.clientList();
    xcb_connection_t* c = ctx_.connection();
    struct Pending {
        xcb_get_window_attributes_cookie_t attrs;
        xcb_get_property_cookie_t partial;
        xcb_get_property_cookie_t plain;
    };
    std::vector<Pending> pending;
    for (xcb_window_t w : clients) {
        ++ctx_.stats().requests;
        pending.push_back({xcb_get_window_attributes(c, w),
                           ctx_.requestProperty(w, a.netWmStrutPartial, XCB_ATOM_CARDINAL, 12),
                           ctx_.requestProperty(w, a.netWmStrut, XCB_ATOM_CARDINAL, 4)});
    }
    ++ctx_.stats().roundTrips;
    for (const Pending& p : pending) {
        auto attrs = awaitReply(c, xcb_get_window_attributes_reply, p.attrs);
        auto partial = ctx_.collect(p.partial);
        auto plain = ctx_.collect(p.plain);
        // Only a panel that is showing (on this desktop, not minimised) takes room.
        if (!attrs || attrs->map_state != XCB_MAP_STATE_VIEWABLE) {
            continue;
        }
        auto strut = decodeStrutPartial(PropertyView::of(partial.get()));
        if (!strut) {
            strut = decodeStrut(PropertyView::of(plain.get()));
        }
        if (strut) {
            out.push_back(*strut);
        }
    }
    return out;
}

std::vector<Display> X11Displays::screens() {
    std::vector<Display> out;
    if (ctx_.connectionBroken()) {
        return out;
    }
    // From the server, not from Qt's screens: Qt divides a screen's size by its pixel ratio
    // (Xft.dpi, QT_SCALE_FACTOR), while windows, struts and restacks are in root pixels.
    ctx_.invalidateMonitors();
    const auto monitors = ctx_.monitors();
    auto reserved = struts();
    auto rootGeometry = own(xcb_get_geometry_reply(
        ctx_.connection(), xcb_get_geometry(ctx_.connection(), ctx_.root()), nullptr));
    const Size root =
        rootGeometry ? Size{double(rootGeometry->width), double(rootGeometry->height)} : Size{};
    for (const Monitor& m : monitors) {
        Display d;
        d.name = m.name;
        d.frame = m.frame;
        d.visibleFrame = visibleFrameFor(d.frame, root, reserved);
        out.push_back(d);
    }
    return out;
}

ObserverToken X11Displays::addScreenParametersObserver(std::function<void()> handler) {
    ObserverToken token = nextToken_++;
    observers_[token] = std::move(handler);
    return token;
}

void X11Displays::removeObserver(ObserverToken token) {
    observers_.erase(token);
}

}  // namespace sombrix::x11

// The overlay window: construction, stacking requests, and its two looks.
#include "overlay/overlay_window.h"

#include "platform/qt/logging.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QThreadPool>
#include <QWindow>
#include <cmath>
#include <cstdlib>

#include "overlay/wallpaper_capture.h"
#include "platform/qt/qt_own_application.h"
#include "platform/x11/x11_reply.h"

namespace sombrix {

namespace {

xcb_atom_t overlayAtom(xcb_connection_t* c) {
    const auto reply = x11::own(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, sizeof kOverlayAtomName - 1, kOverlayAtomName), nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

}  // namespace

OverlayWindow::OverlayWindow(const Display& display, OverlayEnvironment& environment)
    : QWidget(nullptr, Qt::Window | Qt::X11BypassWindowManagerHint | Qt::FramelessWindowHint |
                           Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus |
                           Qt::NoDropShadowWindowHint),
      env_(environment),
      display_(display),
      cgFrame_(display.frame),
      fade_(*this) {
    // Only the band above the visible frame is left out; panels at the bottom or the sides lie
    // under the overlay like any other window, unless they stack above it.
    topBand_ =
        std::clamp(display.visibleFrame.minY() - display.frame.minY(), 0.0, display.frame.height);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setFocusPolicy(Qt::NoFocus);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setWindowTitle(QStringLiteral("Sombrix overlay"));
    // Qt's geometry is in its own scaled units; this one only puts the window on the right
    // screen at about the right place. placeNatively() sets the exact root-pixel rectangle.
    setGeometry(logicalGeometry());
    // Flags are final: now the native window exists for good (a later flag change would
    // recreate it, which WinIdChange follows).
    adoptWindowNumber();
}

QRect OverlayWindow::nativeGeometry() const {
    return QRect(static_cast<int>(std::lround(cgFrame_.x)),
                 static_cast<int>(std::lround(cgFrame_.y + topBand_)),
                 static_cast<int>(std::lround(cgFrame_.width)),
                 static_cast<int>(std::lround(cgFrame_.height - topBand_)));
}

QRect OverlayWindow::logicalGeometry() const {
    const QRect native = nativeGeometry();
    // Qt keeps each screen's top-left corner at its root position and scales around it.
    for (QScreen* screen : QGuiApplication::screens()) {
        const QPoint origin = screen->geometry().topLeft();
        const qreal ratio = screen->devicePixelRatio();
        const QRect nativeScreen(origin, (QSizeF(screen->size()) * ratio).toSize());
        if (!nativeScreen.contains(native.center()) || !(ratio > 0))
            continue;
        const QPointF offset = QPointF(native.topLeft() - origin) / ratio;
        return QRect(origin + offset.toPoint(), (QSizeF(native.size()) / ratio).toSize());
    }
    return native;
}

void OverlayWindow::placeNatively() {
    if (!env_.connection || !windowNumber_)
        return;
    const QRect r = nativeGeometry();
    const std::uint32_t values[] = {std::uint32_t(std::int32_t(r.x())),
                                    std::uint32_t(std::int32_t(r.y())), std::uint32_t(r.width()),
                                    std::uint32_t(r.height())};
    xcb_configure_window(env_.connection, windowNumber_,
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                             XCB_CONFIG_WINDOW_HEIGHT,
                         values);
    // Whatever Qt has not painted yet (a fractional scale leaves a column) is black at once.
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(env_.connection)).data;
    if (screen)
        xcb_change_window_attributes(env_.connection, windowNumber_, XCB_CW_BACK_PIXEL,
                                     &screen->black_pixel);
}

OverlayWindow::~OverlayWindow() {
    if (windowNumber_ && env_.overlayDestroyed)
        env_.overlayDestroyed(windowNumber_);
}

void OverlayWindow::adoptWindowNumber() {
    const auto number = static_cast<std::uint32_t>(winId());
    if (number == windowNumber_)
        return;
    if (windowNumber_ && env_.overlayDestroyed)
        env_.overlayDestroyed(windowNumber_);
    windowNumber_ = number;
    if (QWindow* window = windowHandle())
        window->setProperty(kOverlayWindowProperty, true);
    if (env_.connection && windowNumber_) {
        const xcb_atom_t atom = overlayAtom(env_.connection);
        const std::uint32_t one = 1;
        if (atom)
            xcb_change_property(env_.connection, XCB_PROP_MODE_REPLACE, windowNumber_, atom,
                                XCB_ATOM_CARDINAL, 32, 1, &one);
    }
    paintBlackByServer();
    placeNatively();
    if (windowNumber_ && env_.overlayCreated)
        env_.overlayCreated(windowNumber_);
    // A new X window starts unshaped.
    if (!holes_.empty())
        applyShape();
}

void OverlayWindow::paintBlackByServer() {
    // The X server fills whatever part of the window a restack uncovers with its background; in
    // the black look that is all there is to draw, so no paint, no image upload and no extra
    // damage for a compositor follow a focus change.
    if (!env_.connection || !windowNumber_)
        return;
    auto geometry = xcb_get_geometry_reply(
        env_.connection, xcb_get_geometry(env_.connection, windowNumber_), nullptr);
    const std::uint32_t black = geometry && geometry->depth == 32 ? 0xff000000u : 0u;
    std::free(geometry);
    xcb_change_window_attributes(env_.connection, windowNumber_, XCB_CW_BACK_PIXEL, &black);
}

bool OverlayWindow::event(QEvent* event) {
    if (event->type() == QEvent::WinIdChange && internalWinId())
        adoptWindowNumber();
    return QWidget::event(event);
}

void OverlayWindow::restack(std::optional<xcb_window_t> sibling, std::uint32_t mode) {
    qCDebug(lcOverlay).nospace() << "overlay 0x" << Qt::hex << windowNumber_ << " restacked "
                                 << (mode == XCB_STACK_MODE_BELOW ? "beneath" : "above") << " 0x"
                                 << sibling.value_or(0) << (sibling ? "" : " (the bottom)");
    xcb_void_cookie_t request{0};
    if (env_.connection) {
        // The rectangle goes with every restack: Qt may have pushed its own rounded idea of the
        // geometry since (a screen's pixel ratio changed), and this costs no extra request.
        const QRect r = nativeGeometry();
        std::uint32_t values[6] = {std::uint32_t(std::int32_t(r.x())),
                                   std::uint32_t(std::int32_t(r.y())), std::uint32_t(r.width()),
                                   std::uint32_t(r.height())};
        std::uint16_t mask = XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                             XCB_CONFIG_WINDOW_HEIGHT | XCB_CONFIG_WINDOW_STACK_MODE;
        int n = 4;
        if (sibling) {
            mask |= XCB_CONFIG_WINDOW_SIBLING;
            values[n++] = *sibling;
        }
        values[n++] = mode;
        // Checked: a sibling that vanished since the caller looked is expected, and the window
        // list, which takes the request's outcome, has the next cycle place the overlay again.
        request = xcb_configure_window_checked(env_.connection, windowNumber_, mask, values);
    }
    env_.stacking.overlayRestacked(windowNumber_, sibling, mode, env_.connection, request);
    if (!QWidget::isVisible()) {
        show();
        env_.stacking.overlayMapped(windowNumber_, true);
    }
    flush();
}

void OverlayWindow::orderBelow(std::uint32_t windowNumber) {
    const auto sibling = env_.stacking.topLevelOf(windowNumber);
    if (!sibling || *sibling == windowNumber_)
        return;
    restack(*sibling, XCB_STACK_MODE_BELOW);
}

void OverlayWindow::orderAbove(std::uint32_t windowNumber) {
    const auto sibling = env_.stacking.topLevelOf(windowNumber);
    if (!sibling || *sibling == windowNumber_)
        return;
    restack(*sibling, XCB_STACK_MODE_ABOVE);
}

void OverlayWindow::orderFrontRegardless() {
    if (const auto top = env_.stacking.topmostNormalTopLevel(windowNumber_)) {
        restack(*top, XCB_STACK_MODE_ABOVE);
    } else if (const auto desktop = env_.stacking.topmostDesktopTopLevel()) {
        // No application window: cover the desktop environment's own desktop window too, or
        // the bare wallpaper would stay bright.
        restack(*desktop, XCB_STACK_MODE_ABOVE);
    } else {
        // No application window at all: the bottom of the stack is the front of an empty normal
        // layer, and docks and panels stay above it.
        restack(std::nullopt, XCB_STACK_MODE_BELOW);
    }
}

void OverlayWindow::orderOut() {
    if (!QWidget::isVisible())
        return;
    qCDebug(lcOverlay).nospace() << "overlay 0x" << Qt::hex << windowNumber_ << " hidden";
    hide();
    env_.stacking.overlayMapped(windowNumber_, false);
    flush();
}

void OverlayWindow::apply(Style style, double strength) {
    // A new look shows at once, also in the middle of a fade.
    fade_.stop();
    if (style == Style::wallpaper && env_.wallpaper.canCapture()) {
        showPicture_ = true;
        appliedOpacity_ = 1.0;
        keepPicture_ = true;
        if (picture_.isNull())
            captureWallpaper();
    } else {
        // Two screen-sized pictures are megabytes: not kept for a look that may never return.
        showPicture_ = false;
        appliedOpacity_ = strength;
        keepPicture_ = false;
        picture_ = QImage();
    }
    setWindowOpacity(appliedOpacity_);
    // Only the picture needs the toolkit to paint; black comes from the window's background.
    setUpdatesEnabled(showPicture_);
    update();
    flush();
}

void OverlayWindow::fadeIn(double seconds) {
    // Without a compositor opacity shows nothing: the window is either there or not.
    if (env_.wallpaper.isCompositing())
        fade_.start(0.0, appliedOpacity_, seconds, {});
}

void OverlayWindow::fadeOut(double seconds, std::function<void()> done) {
    auto finish = [this, done = std::move(done)] {
        orderOut();
        // From the event loop: `done` may release this overlay.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self = QPointer<OverlayWindow>(this), done] {
                if (self && done)
                    done();
            },
            Qt::QueuedConnection);
    };
    if (QWidget::isVisible() && env_.wallpaper.isCompositing())
        fade_.start(windowOpacity(), 0.0, seconds, std::move(finish));
    else
        finish();
}

void OverlayWindow::captureWallpaper() {
    if (!env_.wallpaper.canCapture())
        return;
    const Rect frame = cgFrame_;
    const std::string display = env_.captureDisplay;
    QPointer<OverlayWindow> self(this);
    QThreadPool::globalInstance()->start([self, frame, display] {
        auto picture = WallpaperCapture::capture(display, frame);
        if (!picture)
            return;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, picture = std::move(*picture)] {
                if (self)
                    self->setPicture(picture);
            },
            Qt::QueuedConnection);
    });
}

void OverlayWindow::setPicture(const QImage& picture) {
    // Kept as an image: turning it into a pixmap would copy it on the main thread at every
    // landing. A capture that lands after the look went back to black is not kept.
    if (!keepPicture_)
        return;
    picture_ = picture;
    if (showPicture_)
        update();
}

void OverlayWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // A pixel beyond the widget's size: a fractional scale rounds that size down, and the
    // painter clips to the window anyway.
    painter.fillRect(QRectF(0, 0, width() + 1, height() + 1), Qt::black);
    if (showPicture_ && !picture_.isNull()) {
        // One picture pixel on one root pixel at any scale. The picture covers the whole
        // display; the band above the overlay is cut off so every remaining pixel lies over the
        // same point of the display.
        const qreal ratio = devicePixelRatioF() > 0 ? devicePixelRatioF() : 1.0;
        if (picture_.devicePixelRatio() != ratio)
            picture_.setDevicePixelRatio(ratio);
        painter.drawImage(QPointF(0, -topBand_ / ratio), picture_);
    }
}

void OverlayWindow::flush() {
    if (env_.connection)
        xcb_flush(env_.connection);
}

}  // namespace sombrix

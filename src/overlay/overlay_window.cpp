// The overlay window: construction, stacking requests, and its two looks.
#include "overlay/overlay_window.h"

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

namespace sombrix {

namespace {

xcb_atom_t overlayAtom(xcb_connection_t* c) {
    auto* reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, sizeof kOverlayAtomName - 1, kOverlayAtomName), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
}

}  // namespace

OverlayWindow::OverlayWindow(const Display& display, OverlayEnvironment& environment)
    : QWidget(nullptr, Qt::Window | Qt::X11BypassWindowManagerHint | Qt::FramelessWindowHint |
                           Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus |
                           Qt::NoDropShadowWindowHint),
      env_(environment),
      display_(display),
      cgFrame_(display.frame) {
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
    setGeometry(QRect(static_cast<int>(std::lround(cgFrame_.x)),
                      static_cast<int>(std::lround(cgFrame_.y + topBand_)),
                      static_cast<int>(std::lround(cgFrame_.width)),
                      static_cast<int>(std::lround(cgFrame_.height - topBand_))));
    // Flags are final: now the native window exists for good (a later flag change would
    // recreate it, which WinIdChange follows).
    adoptWindowNumber();
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
    if (windowNumber_ && env_.overlayCreated)
        env_.overlayCreated(windowNumber_);
}

bool OverlayWindow::event(QEvent* event) {
    if (event->type() == QEvent::WinIdChange && internalWinId())
        adoptWindowNumber();
    return QWidget::event(event);
}

void OverlayWindow::restack(std::optional<xcb_window_t> sibling, std::uint32_t mode) {
    if (env_.connection) {
        std::uint32_t values[2];
        std::uint16_t mask = XCB_CONFIG_WINDOW_STACK_MODE;
        int n = 0;
        if (sibling) {
            mask |= XCB_CONFIG_WINDOW_SIBLING;
            values[n++] = *sibling;
        }
        values[n++] = mode;
        // Checked and discarded: a sibling that vanished since the caller looked is expected,
        // and the next cycle places the overlay again.
        const auto cookie =
            xcb_configure_window_checked(env_.connection, windowNumber_, mask, values);
        xcb_discard_reply(env_.connection, cookie.sequence);
    }
    if (!QWidget::isVisible())
        show();
    flush();
}

void OverlayWindow::orderBelow(std::uint32_t windowNumber) {
    const auto sibling = env_.stacking.topLevelOf(windowNumber);
    if (!sibling || *sibling == windowNumber_)
        return;
    restack(*sibling, XCB_STACK_MODE_BELOW);
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
    hide();
    flush();
}

void OverlayWindow::apply(Style style, double strength) {
    if (style == Style::wallpaper && env_.wallpaper.canCapture()) {
        showPicture_ = true;
        setWindowOpacity(1.0);
        if (picture_.isNull())
            captureWallpaper();
    } else {
        showPicture_ = false;
        setWindowOpacity(strength);
    }
    update();
    flush();
}

double OverlayWindow::currentScale() const {
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen->name().toStdString() == display_.name)
            return screen->devicePixelRatio();
    }
    return display_.scale;
}

void OverlayWindow::captureWallpaper() {
    if (!env_.wallpaper.canCapture())
        return;
    const Rect frame = cgFrame_;
    const double scale = currentScale();
    const std::string display = env_.captureDisplay;
    QPointer<OverlayWindow> self(this);
    QThreadPool::globalInstance()->start([self, frame, scale, display] {
        auto picture = WallpaperCapture::capture(display, frame, scale);
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
    // landing, and it is drawn only while the wallpaper look is shown.
    picture_ = picture;
    if (showPicture_)
        update();
}

void OverlayWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (showPicture_ && !picture_.isNull()) {
        // The picture covers the whole display; the band above the overlay is cut off so every
        // remaining pixel lies over the same point of the display.
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRectF(0, -topBand_, cgFrame_.width, cgFrame_.height), picture_,
                          QRectF(picture_.rect()));
    }
}

void OverlayWindow::flush() {
    if (env_.connection)
        xcb_flush(env_.connection);
}

}  // namespace sombrix

// A fade of an overlay's window opacity (_NET_WM_WINDOW_OPACITY), run only where a compositing
// manager is there to blend it: without one the window is either shown or not.
#pragma once

#include <xcb/xcb.h>

#include <QPointer>
#include <QVariantAnimation>
#include <functional>

class QWidget;

namespace sombrix {

// Whether a compositing manager owns the _NET_WM_CM_Sn selection of the screen `window` is on.
bool compositingManagerRunning(xcb_connection_t* connection, xcb_window_t window);

class OverlayFade {
public:
    // `connection` null: never fades.
    OverlayFade(QWidget& window, xcb_connection_t* connection);
    ~OverlayFade();
    OverlayFade(const OverlayFade&) = delete;
    OverlayFade& operator=(const OverlayFade&) = delete;

    // Takes the window's opacity from `from` to `to` over `seconds`; `finished` runs once `to`
    // is reached. Starts nothing and returns false when no compositing manager runs.
    bool start(double from, double to, double seconds, std::function<void()> finished);
    // Leaves the opacity where it is; the stopped fade's `finished` never runs.
    void stop();
    bool isRunning() const { return animation_ != nullptr; }

private:
    QWidget& window_;
    xcb_connection_t* connection_;
    QPointer<QVariantAnimation> animation_;
};

}  // namespace sombrix

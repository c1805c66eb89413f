// A fade of an overlay's window opacity (_NET_WM_WINDOW_OPACITY).
#pragma once

#include <QPointer>
#include <QVariantAnimation>
#include <functional>

class QWidget;

namespace sombrix {

class OverlayFade {
public:
    explicit OverlayFade(QWidget& window) : window_(window) {}
    ~OverlayFade();
    OverlayFade(const OverlayFade&) = delete;
    OverlayFade& operator=(const OverlayFade&) = delete;

    // Takes the window's opacity from `from` to `to` over `seconds`; `finished` runs once `to`
    // is reached.
    void start(double from, double to, double seconds, std::function<void()> finished);
    // Leaves the opacity where it is; the stopped fade's `finished` never runs.
    void stop();

private:
    QWidget& window_;
    QPointer<QVariantAnimation> animation_;
};

}  // namespace sombrix

// Own process id and key window, from Qt's focus window.
#include "platform/qt/qt_own_application.h"

#include <unistd.h>

#include <QGuiApplication>
#include <QWindow>

namespace sombrix {

std::int32_t QtOwnApplication::processIdentifier() {
    return static_cast<std::int32_t>(::getpid());
}

std::optional<KeyWindow> QtOwnApplication::keyWindow() {
    QWindow* window = QGuiApplication::focusWindow();
    if (!window || !window->handle())
        return std::nullopt;
    KeyWindow key;
    key.windowNumber = static_cast<std::uint32_t>(window->winId());
    key.isVisible = window->isVisible() && window->visibility() != QWindow::Minimized;
    key.isOverlay = window->property(kOverlayWindowProperty).toBool();
    return key;
}

}  // namespace sombrix

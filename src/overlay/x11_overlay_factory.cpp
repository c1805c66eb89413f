// Overlay construction with the shared environment.
#include "overlay/x11_overlay_factory.h"

#include <QGuiApplication>

namespace sombrix {

X11OverlayFactory::X11OverlayFactory(OverlayEnvironment environment)
    : env_(std::move(environment)) {
    if (!env_.connection) {
        if (auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr)
            env_.connection = x11->connection();
    }
}

std::unique_ptr<Overlay> X11OverlayFactory::makeOverlay(const Display& display) {
    return std::make_unique<OverlayWindow>(display, env_);
}

}  // namespace sombrix

// Makes the X11 overlays for the engine.
#pragma once

#include "overlay/overlay_window.h"

namespace sombrix {

class X11OverlayFactory final : public OverlayFactory {
public:
    // `environment.connection` null means Qt's own xcb connection.
    explicit X11OverlayFactory(OverlayEnvironment environment);
    std::unique_ptr<Overlay> makeOverlay(const Display& display) override;

private:
    OverlayEnvironment env_;
};

}  // namespace sombrix

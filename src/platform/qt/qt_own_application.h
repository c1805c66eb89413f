// This process as the engine sees it: its id and its focused window.
#pragma once

#include "platform/own_application.h"

namespace sombrix {

// The dynamic property an overlay sets on its QWindow so that it is never taken for a window
// the user works in.
inline constexpr char kOverlayWindowProperty[] = "sombrixOverlay";

class QtOwnApplication final : public OwnApplication {
public:
    std::int32_t processIdentifier() override;
    // The focus window, absent when there is none or it has no native window yet.
    std::optional<KeyWindow> keyWindow() override;
};

}  // namespace sombrix

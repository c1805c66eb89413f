// What the engine needs to know about its own process.
#pragma once

#include <cstdint>
#include <optional>

namespace sombrix {

struct KeyWindow {
    std::uint32_t windowNumber = 0;
    bool isVisible = false;
    bool isOverlay = false;
};

class OwnApplication {
public:
    virtual ~OwnApplication() = default;
    virtual std::int32_t processIdentifier() = 0;
    // The window of this process that has keyboard focus, if any.
    virtual std::optional<KeyWindow> keyWindow() = 0;
};

}  // namespace sombrix

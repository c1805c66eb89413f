// The window server's list of on-screen windows.
#pragma once

#include <optional>
#include <vector>

#include "platform/raw_window_entry.h"

namespace sombrix {

class WindowList {
public:
    virtual ~WindowList() = default;

    // Every on-screen window, desktop elements excluded, front to back, in the window server's
    // own stacking order (the overlays included, at their true place). Absent when the window
    // server could not be asked; entries are not validated here.
    virtual std::optional<std::vector<RawWindowEntry>> copyWindowInfo() = 0;
};

}  // namespace sombrix

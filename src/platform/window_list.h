// The window server's list of on-screen windows.
#pragma once

#include <cstdint>
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

    // A number that moves whenever anything the window server tells (this list, the focus, the
    // active application, the window manager) may have changed since it was last taken: the same
    // number means a cycle would read the same again. Absent when the server cannot tell, or a
    // change is known to be waiting.
    virtual std::optional<std::uint64_t> changeCount() { return std::nullopt; }
};

}  // namespace sombrix

// The displays and the notification that their configuration changed.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/geometry.h"
#include "platform/workspace.h"

namespace sombrix {

struct Display {
    std::string name;
    Rect frame;         // the whole display, global top-left-origin coordinates
    Rect visibleFrame;  // the frame less panels; only its top band matters to the overlay
    friend bool operator==(const Display&, const Display&) = default;
};

class Displays {
public:
    virtual ~Displays() = default;
    // In the platform's order; the first is the primary display.
    virtual std::vector<Display> screens() = 0;
    // Runs on the main thread after a display is added or removed or changes its geometry.
    virtual ObserverToken addScreenParametersObserver(std::function<void()> handler) = 0;
    virtual void removeObserver(ObserverToken token) = 0;
};

}  // namespace sombrix

// Reads WM_CLASS through the context's cache: asked only when the user opens the menu.
#include "platform/x11/x11_window_classes.h"

#include <algorithm>

namespace sombrix::x11 {

std::vector<std::string> X11WindowClasses::openWindowClasses() {
    std::vector<std::string> classes;
    for (const xcb_window_t window : ctx_.clientList()) {
        if (ctx_.isOverlay(window))
            continue;
        if (auto name = ctx_.wmClassOf(window); name && !name->empty())
            classes.push_back(std::move(*name));
    }
    std::sort(classes.begin(), classes.end());
    classes.erase(std::unique(classes.begin(), classes.end()), classes.end());
    return classes;
}

}  // namespace sombrix::x11

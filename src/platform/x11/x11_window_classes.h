// The class names of the client windows the window manager lists (_NET_CLIENT_LIST).
#pragma once

#include "platform/window_classes.h"
#include "platform/x11/x11_context.h"

namespace sombrix::x11 {

class X11WindowClasses final : public WindowClasses {
public:
    explicit X11WindowClasses(X11Context& context) : ctx_(context) {}
    std::vector<std::string> openWindowClasses() override;

private:
    X11Context& ctx_;
};

}  // namespace sombrix::x11

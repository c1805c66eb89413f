// The application classes of the windows open now, for choosing which ones stay bright.
#pragma once

#include <string>
#include <vector>

namespace sombrix {

class WindowClasses {
public:
    virtual ~WindowClasses() = default;
    // The class names (WM_CLASS) of the windows the window manager lists, sorted, each once;
    // empty when none can be read.
    virtual std::vector<std::string> openWindowClasses() = 0;
};

}  // namespace sombrix

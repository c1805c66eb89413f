// Starting a fresh instance of this application and leaving the current one.
#pragma once

namespace sombrix {

class Relauncher {
public:
    virtual ~Relauncher() = default;
    // Starts a new, independent instance; false when it could not be started.
    virtual bool startNewInstance() = 0;
    // Ends this instance through the normal shutdown path.
    virtual void quit() = 0;
};

}  // namespace sombrix

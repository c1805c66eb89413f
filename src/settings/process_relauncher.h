// Relaunch by starting the running binary again as a detached process.
#pragma once

#include "platform/relauncher.h"

namespace sombrix {

class ProcessRelauncher : public Relauncher {
public:
    bool startNewInstance() override;
    void quit() override;
};

}  // namespace sombrix

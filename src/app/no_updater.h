// The updater of a build made without one (-DSOMBRIX_UPDATER=OFF): distributions bring updates
// through their packages, so it never checks, and the settings say that this build does not.
#pragma once

#include "platform/updater.h"

namespace sombrix {

class NoUpdater final : public Updater {
public:
    bool automaticallyChecksForUpdates() const override { return false; }
    void setAutomaticallyChecksForUpdates(bool) override {}
    std::optional<TimePoint> lastUpdateCheckDate() const override { return std::nullopt; }
    void checkForUpdates() override {}
};

}  // namespace sombrix

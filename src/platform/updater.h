// The updater as the application uses it: its two settings, the date of the last check, a
// user-initiated check, and the questions it asks the application before showing a window.
#pragma once

#include <optional>

#include "platform/clock.h"

namespace sombrix {

class Updater {
public:
    virtual ~Updater() = default;
    // Persisted by the updater itself, under its own keys.
    virtual bool automaticallyChecksForUpdates() const = 0;
    virtual void setAutomaticallyChecksForUpdates(bool enabled) = 0;
    // The last completed check; absent when no check has run.
    virtual std::optional<TimePoint> lastUpdateCheckDate() const = 0;
    // Returns at once; the updater shows its own window with the outcome.
    virtual void checkForUpdates() = 0;
};

// Answered by the application so that an application without a normal window can bring the
// updater's window to the front and go back to the background afterwards.
class UpdaterUserDriverDelegate {
public:
    virtual ~UpdaterUserDriverDelegate() = default;
    virtual bool supportsGentleScheduledUpdateReminders() const = 0;
    virtual void standardUserDriverWillHandleShowingUpdate(bool handleShowingUpdate) = 0;
    virtual void standardUserDriverDidReceiveUserAttentionForUpdate() = 0;
};

}  // namespace sombrix

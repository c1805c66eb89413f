// Timers on the Qt main loop.
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <memory>
#include <vector>

#include "platform/scheduler.h"

namespace sombrix {

class QtScheduler final : public Scheduler {
public:
    QtScheduler();
    ~QtScheduler() override;

    // Every repeating timer shares one wake-up of the loop: a timer whose period is a multiple
    // of another's (or divides it) runs on the same beat, so a slow check rides along with a
    // fast tick instead of waking the process on its own. The first run comes at most one
    // period after the call.
    std::unique_ptr<TimerHandle> scheduleRepeating(double intervalSeconds,
                                                   std::function<void()> handler) override;
    // A pending call is dropped when the scheduler goes away first.
    void scheduleOnce(double delaySeconds, std::function<void()> handler) override;

    struct Repeating;

private:
    using Clock = std::chrono::steady_clock;

    void dispatch();
    void rearm();

    QObject context_;
    QTimer wake_;
    std::vector<std::shared_ptr<Repeating>> repeating_;
};

}  // namespace sombrix

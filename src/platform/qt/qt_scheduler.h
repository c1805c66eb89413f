// Timers on the Qt main loop.
#pragma once

#include <QObject>

#include "platform/scheduler.h"

namespace sombrix {

class QtScheduler final : public Scheduler {
public:
    QtScheduler();
    ~QtScheduler() override;

    std::unique_ptr<TimerHandle> scheduleRepeating(double intervalSeconds,
                                                   std::function<void()> handler) override;
    // A pending call is dropped when the scheduler goes away first.
    void scheduleOnce(double delaySeconds, std::function<void()> handler) override;

private:
    QObject context_;
};

}  // namespace sombrix

// Time under the test's control: a clock set by hand and a scheduler whose timers fire only when
// the test advances time.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "platform/clock.h"
#include "platform/scheduler.h"

namespace sombrix::fakes {

class ManualClock : public Clock {
public:
    TimePoint now() override { return time; }
    void advance(double seconds) { time += seconds; }
    TimePoint time = 1'800'000'000.0;
};

class ManualScheduler : public Scheduler {
public:
    explicit ManualScheduler(ManualClock& clock) : clock_(clock) {}

    std::unique_ptr<TimerHandle> scheduleRepeating(double intervalSeconds,
                                                   std::function<void()> handler) override;
    void scheduleOnce(double delaySeconds, std::function<void()> handler) override;

    // Moves the clock forward, firing every timer that falls due on the way, in time order
    // (ties in the order they were scheduled: timers_ keeps that order), at its own due time.
    void advance(double seconds);
    // Live repeating timers, or (false) one-shot calls still to come.
    int count(bool repeating) const;

private:
    struct Timer {
        double interval;  // 0 for a one-shot call
        TimePoint due;
        std::function<void()> handler;
        bool valid = true;
    };
    struct Handle;

    ManualClock& clock_;
    std::vector<std::shared_ptr<Timer>> timers_;
};

}  // namespace sombrix::fakes

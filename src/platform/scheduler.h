// Timers on the main loop, injected so that tests fire them by hand.
#pragma once

#include <functional>
#include <memory>

namespace sombrix {

// Destroying or invalidating the handle cancels the timer.
class TimerHandle {
public:
    virtual ~TimerHandle() = default;
    virtual void invalidate() = 0;
    virtual bool isValid() const = 0;
};

class Scheduler {
public:
    virtual ~Scheduler() = default;
    // Runs `handler` on the main thread every `intervalSeconds` until cancelled.
    virtual std::unique_ptr<TimerHandle> scheduleRepeating(double intervalSeconds,
                                                           std::function<void()> handler) = 0;
    // Runs `handler` once on the main thread after `delaySeconds`; cannot be cancelled, so the
    // handler must hold its owner weakly.
    virtual void scheduleOnce(double delaySeconds, std::function<void()> handler) = 0;
};

}  // namespace sombrix

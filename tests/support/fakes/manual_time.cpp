// The manual scheduler: timers fired by advancing time.
#include "fakes/manual_time.h"

#include <algorithm>

namespace sombrix::fakes {

struct ManualScheduler::Handle : TimerHandle {
    explicit Handle(std::shared_ptr<Timer> timer) : timer(std::move(timer)) {}
    ~Handle() override { invalidate(); }
    void invalidate() override { timer->valid = false; }
    bool isValid() const override { return timer->valid; }
    std::shared_ptr<Timer> timer;
};

std::unique_ptr<TimerHandle> ManualScheduler::scheduleRepeating(double intervalSeconds,
                                                                std::function<void()> handler) {
    auto timer = std::make_shared<Timer>(
        Timer{intervalSeconds, clock_.now() + intervalSeconds, std::move(handler)});
    timers_.push_back(timer);
    return std::make_unique<Handle>(timer);
}

void ManualScheduler::scheduleOnce(double delaySeconds, std::function<void()> handler) {
    timers_.push_back(
        std::make_shared<Timer>(Timer{0, clock_.now() + delaySeconds, std::move(handler)}));
}

void ManualScheduler::advance(double seconds) {
    const TimePoint end = clock_.now() + seconds;
    for (;;) {
        std::erase_if(timers_, [](const auto& t) { return !t->valid; });
        std::shared_ptr<Timer> next;
        for (const auto& t : timers_) {
            if (t->due > end)
                continue;
            if (!next || t->due < next->due)
                next = t;
        }
        if (!next)
            break;
        clock_.time = next->due;
        if (next->interval > 0) {
            next->due += next->interval;
        } else {
            next->valid = false;
        }
        auto handler = next->handler;
        handler();
    }
    clock_.time = end;
}

int ManualScheduler::count(bool repeating) const {
    return static_cast<int>(std::count_if(timers_.begin(), timers_.end(), [&](const auto& t) {
        return t->valid && (t->interval > 0) == repeating;
    }));
}

}  // namespace sombrix::fakes

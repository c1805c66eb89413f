// Repeating timers on one shared QTimer, aligned to each other's beats; one-shot calls on their
// own QTimer. Each repeating timer belongs to its handle, so dropping the handle stops it.
#include "platform/qt/qt_scheduler.h"

#include <algorithm>
#include <cmath>

namespace sombrix {

namespace {

using Ms = std::chrono::milliseconds;

int toMilliseconds(double seconds) {
    if (!(seconds > 0))
        return 0;
    return static_cast<int>(std::lround(std::min(seconds * 1000.0, 2.0e9)));
}

// A timer due this close after the wake-up runs in it: the loop's timers are only as precise as
// a millisecond.
constexpr auto kSlack = Ms(2);

}  // namespace

struct QtScheduler::Repeating {
    Ms interval;
    Clock::time_point due;
    std::function<void()> handler;
    bool alive = true;
};

namespace {

class QtTimerHandle final : public TimerHandle {
public:
    explicit QtTimerHandle(std::weak_ptr<QtScheduler::Repeating> timer)
        : timer_(std::move(timer)) {}
    ~QtTimerHandle() override { invalidate(); }
    void invalidate() override {
        if (const auto timer = timer_.lock())
            timer->alive = false;  // the scheduler drops it at its next wake-up
        timer_.reset();
    }
    bool isValid() const override {
        const auto timer = timer_.lock();
        return timer && timer->alive;
    }

private:
    std::weak_ptr<QtScheduler::Repeating> timer_;
};

}  // namespace

QtScheduler::QtScheduler() {
    wake_.setSingleShot(true);
    wake_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&wake_, &QTimer::timeout, &context_, [this] { dispatch(); });
}

QtScheduler::~QtScheduler() = default;

std::unique_ptr<TimerHandle> QtScheduler::scheduleRepeating(double intervalSeconds,
                                                            std::function<void()> handler) {
    const Ms interval(std::max(1, toMilliseconds(intervalSeconds)));
    const auto now = Clock::now();
    auto timer =
        std::make_shared<Repeating>(Repeating{interval, now + interval, std::move(handler)});
    // On the beat of the fastest running timer whose period fits this one's, at most one period
    // from now (and more than one of its beats short of that only when there is none).
    std::shared_ptr<Repeating> beat;
    for (const auto& other : repeating_) {
        const auto shorter = std::min(other->interval, interval);
        const auto longer = std::max(other->interval, interval);
        if (other->alive && longer % shorter == Ms(0) &&
            (!beat || other->interval < beat->interval))
            beat = other;
    }
    if (beat) {
        const auto step = std::min(beat->interval, interval);
        const auto ahead = now + interval - beat->due;  // may be negative
        auto steps = ahead / step;
        if (ahead < decltype(ahead)(0) && ahead % step != decltype(ahead)(0))
            --steps;  // round towards the past
        timer->due = beat->due + steps * step;
    }
    repeating_.push_back(timer);
    rearm();
    return std::make_unique<QtTimerHandle>(timer);
}

void QtScheduler::dispatch() {
    const auto now = Clock::now() + kSlack;
    std::vector<std::shared_ptr<Repeating>> due;
    for (const auto& timer : repeating_) {
        if (!timer->alive || timer->due > now)
            continue;
        // Periods the loop missed (a long stall) are skipped, not made up for in a burst; whole
        // periods keep every timer on its beat.
        while (timer->due <= now)
            timer->due += timer->interval;
        due.push_back(timer);
    }
    // A handler may stop any timer, its own included, or start new ones.
    for (const auto& timer : due) {
        if (timer->alive)
            timer->handler();
    }
    rearm();
}

void QtScheduler::rearm() {
    std::erase_if(repeating_, [](const auto& timer) { return !timer->alive; });
    if (repeating_.empty()) {
        wake_.stop();
        return;
    }
    const auto next =
        std::min_element(repeating_.begin(), repeating_.end(),
                         [](const auto& a, const auto& b) { return a->due < b->due; });
    const auto wait = std::chrono::ceil<Ms>((*next)->due - Clock::now());
    wake_.start(static_cast<int>(std::max<Ms::rep>(0, wait.count())));
}

void QtScheduler::scheduleOnce(double delaySeconds, std::function<void()> handler) {
    QTimer::singleShot(toMilliseconds(delaySeconds), Qt::PreciseTimer, &context_,
                       std::move(handler));
}

}  // namespace sombrix

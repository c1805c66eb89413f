// QTimer-backed timers. Each repeating timer belongs to its handle, so dropping the handle stops
// it.
#include "platform/qt/qt_scheduler.h"

#include <QTimer>
#include <cmath>

namespace sombrix {

namespace {

int toMilliseconds(double seconds) {
    if (!(seconds > 0))
        return 0;
    return static_cast<int>(std::lround(std::min(seconds * 1000.0, 2.0e9)));
}

class QtTimerHandle final : public TimerHandle {
public:
    QtTimerHandle(int intervalMs, std::function<void()> handler) : timer_(new QTimer) {
        timer_->setInterval(intervalMs);
        // A coarse timer lets the system batch wake-ups; the engine's periods are not precise.
        timer_->setTimerType(Qt::CoarseTimer);
        QObject::connect(timer_.get(), &QTimer::timeout, timer_.get(), std::move(handler));
        timer_->start();
    }
    void invalidate() override { timer_.reset(); }
    bool isValid() const override { return timer_ && timer_->isActive(); }

private:
    std::unique_ptr<QTimer> timer_;
};

}  // namespace

QtScheduler::QtScheduler() = default;
QtScheduler::~QtScheduler() = default;

std::unique_ptr<TimerHandle> QtScheduler::scheduleRepeating(double intervalSeconds,
                                                            std::function<void()> handler) {
    return std::make_unique<QtTimerHandle>(toMilliseconds(intervalSeconds), std::move(handler));
}

void QtScheduler::scheduleOnce(double delaySeconds, std::function<void()> handler) {
    QTimer::singleShot(toMilliseconds(delaySeconds), Qt::PreciseTimer, &context_,
                       std::move(handler));
}

}  // namespace sombrix

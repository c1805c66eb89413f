// The Qt timers: a repeating timer runs until its handle is dropped or invalidated, a slower
// timer whose period is a multiple of a faster one's runs in the faster one's wake-ups, and a
// deferred call never outlives the scheduler. Order, not time, shows that a timer stopped: a
// later one-shot call has run and the stopped timer did not tick in between.
#include "platform/qt/qt_scheduler.h"

#include <gtest/gtest.h>

#include <thread>

#include "spin_until.h"

namespace sombrix {
namespace {

using test::spinUntil;

TEST(QtScheduler, TimersStopWhenInvalidatedOrDroppedAndDeferredCallsDieWithTheScheduler) {
    bool ranAfterDestruction = false;
    {
        QtScheduler doomed;
        doomed.scheduleOnce(0.0, [&] { ranAfterDestruction = true; });
    }
    QtScheduler scheduler;
    int invalidatedTicks = 0;
    int droppedTicks = 0;
    bool inFastWakeUp = false;  // until the loop has moved on from the fast timer's run
    int droppedAlone = 0;
    auto invalidated = scheduler.scheduleRepeating(0.01, [&] {
        ++invalidatedTicks;
        inFastWakeUp = true;
        QTimer::singleShot(0, [&] { inFastWakeUp = false; });
    });
    ASSERT_TRUE(spinUntil([&] { return invalidatedTicks >= 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(4));  // off the fast timer's beat
    auto dropped =
        scheduler.scheduleRepeating(0.04, [&] { droppedAlone += !inFastWakeUp, ++droppedTicks; });
    EXPECT_TRUE(invalidated->isValid());
    ASSERT_TRUE(spinUntil([&] { return invalidatedTicks >= 2 && droppedTicks >= 3; }));
    EXPECT_EQ(droppedAlone, 0);

    invalidated->invalidate();
    EXPECT_FALSE(invalidated->isValid());
    dropped.reset();
    const int invalidatedAt = invalidatedTicks;
    const int droppedAt = droppedTicks;
    bool later = false;
    scheduler.scheduleOnce(0.05, [&] { later = true; });
    ASSERT_TRUE(spinUntil([&] { return later; }));
    EXPECT_EQ(invalidatedTicks, invalidatedAt);
    EXPECT_EQ(droppedTicks, droppedAt);
    EXPECT_FALSE(ranAfterDestruction);
}

}  // namespace
}  // namespace sombrix

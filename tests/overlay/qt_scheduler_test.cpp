// The Qt timers: a slower repeating timer runs in the wake-ups of a faster one whose period fits
// it, a repeating timer runs until its handle is dropped or invalidated, and a deferred call never
// outlives the scheduler. Order, not time, shows that a timer stopped: a later one-shot call has
// run and the stopped timer did not tick in between.
#include "platform/qt/qt_scheduler.h"

#include <gtest/gtest.h>

#include <thread>

#include "spin_until.h"

namespace sombrix {
namespace {

using test::spinUntil;

TEST(QtScheduler,
     TimersShareWakeUpsStopWhenInvalidatedOrDroppedAndDeferredCallsDieWithTheScheduler) {
    bool ranAfterDestruction = false;
    {
        QtScheduler doomed;
        doomed.scheduleOnce(0.0, [&] { ranAfterDestruction = true; });
    }
    QtScheduler scheduler;
    int fastTicks = 0, slowTicks = 0, slowAlone = 0;
    bool fastJustRan = false;  // until the loop has moved on from the fast timer's run
    auto fast = scheduler.scheduleRepeating(0.01, [&] {
        ++fastTicks, fastJustRan = true;
        QTimer::singleShot(0, [&] { fastJustRan = false; });
    });
    ASSERT_TRUE(spinUntil([&] { return fastTicks >= 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(4));  // off the fast timer's beat
    auto slow = scheduler.scheduleRepeating(0.04, [&] { ++slowTicks, slowAlone += !fastJustRan; });
    EXPECT_TRUE(fast->isValid());
    ASSERT_TRUE(spinUntil([&] { return slowTicks >= 3; }));
    EXPECT_EQ(slowAlone, 0);

    fast->invalidate();
    EXPECT_FALSE(fast->isValid());
    slow.reset();
    const int fastAt = fastTicks, slowAt = slowTicks;
    bool later = false;
    scheduler.scheduleOnce(0.05, [&] { later = true; });
    ASSERT_TRUE(spinUntil([&] { return later; }));
    EXPECT_EQ(fastTicks, fastAt);
    EXPECT_EQ(slowTicks, slowAt);
    EXPECT_FALSE(ranAfterDestruction);
}

}  // namespace
}  // namespace sombrix

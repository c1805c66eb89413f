// The Qt timers: a repeating timer runs until its handle is dropped or invalidated, and a
// deferred call never outlives the scheduler. Order, not time, shows that a timer stopped: a
// later one-shot call has run and the stopped timer did not tick in between.
#include "platform/qt/qt_scheduler.h"

#include <gtest/gtest.h>

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
    auto invalidated = scheduler.scheduleRepeating(0.005, [&] { ++invalidatedTicks; });
    auto dropped = scheduler.scheduleRepeating(0.005, [&] { ++droppedTicks; });
    EXPECT_TRUE(invalidated->isValid());
    ASSERT_TRUE(spinUntil([&] { return invalidatedTicks >= 2 && droppedTicks >= 2; }));

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

// Whatever the window list holds, the engine neither crashes nor leaves an overlay over the
// window the user works in.
#include <cmath>
#include <limits>
#include <random>

#include "engine_fixture.h"

namespace sombrix::fakes {
namespace {

class MalformedInput : public EngineTest {
protected:
    static RawWindowEntry entry(RawValue number, RawValue pid, RawValue layer, RawValue bounds) {
        return RawWindowEntry{std::move(number), std::move(pid), std::move(layer),
                              std::move(bounds)};
    }
    static RawBounds bounds(double x, double y, double w, double h) { return {x, y, w, h}; }

    // One broken variant of an otherwise ordinary window of process 2000. Kind 19 is fine (whole
    // doubles convert), and so is any kind past the table (maybe a duplicate).
    static RawWindowEntry broken(int kind, std::int64_t id, RawBounds b) {
        const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
        const double x = *b.x, y = *b.y, w = *b.width, h = *b.height;
        const std::int64_t pid = 2000, layer = 0;
        const RawWindowEntry variants[] = {
            entry(std::monostate{}, pid, layer, b),            // 0: number missing
            entry(std::string("12"), pid, layer, b),           // text
            entry(true, pid, layer, b),                        // boolean
            entry(std::int64_t{1} << 32 | id, pid, layer, b),  // too large
            entry(-id, pid, layer, b),                         // negative
            entry(id + 0.5, pid, layer, b),                    // 5: fractional
            entry(id, std::monostate{}, layer, b),             // owner missing
            entry(id, std::int64_t{1} << 31, layer, b),        // owner too large
            entry(id, pid, std::monostate{}, b),               // 8: layer missing
            entry(id, pid, std::string("0"), b),               // text
            entry(id, pid, 0.5, b),                            // fractional
            entry(id, pid, layer, std::monostate{}),           // 11: bounds missing
            entry(id, pid, layer, std::int64_t{5}),            // not bounds
            entry(id, pid, layer, RawBounds{b.x, b.y, b.width, std::nullopt}),
            entry(id, pid, layer, bounds(x, y, nan, h)),  // 14: not finite
            entry(id, pid, layer, bounds(x, y, inf, inf)),
            entry(id, pid, layer, bounds(nan, nan, w, h)),
            entry(id, pid, layer, bounds(x + w, y, -w, 300)),  // negative width
            entry(id, pid, layer, bounds(-inf, y, w, h)),
            entry(double(id), double(pid), 0.0, b),  // 19
        };
        return kind < int(std::size(variants)) ? variants[kind] : entry(id, pid, layer, b);
    }
};

TEST_F(MalformedInput, brokenEntriesNeverCrashOrCoverTheFocusedWindow) {
    twoDisplays();
    focusOn(kAppA, 1);
    start();
    std::mt19937 rng(20261206);
    auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    auto anyBounds = [&] { return bounds(pick(3000) - 100, pick(900) - 50, pick(900), pick(700)); };

    for (int round = 0; round < 300; ++round) {
        server.clearWindows();
        const int count = pick(12);
        const int focusedAt = pick(count + 1);
        for (int i = 0; i <= count; ++i) {
            if (i == focusedAt) {
                server.addBack(FakeWindow{1, kAppA, 0, {300, 200, 600, 400}, true});
            } else {
                // Numbers 1..20 repeat, so duplicates of each other, and of the focused window
                // below it, are common.
                std::int64_t id = 2 + pick(19);
                if (i > focusedAt && pick(4) == 0)
                    id = 1;
                server.addRawBack(broken(pick(24), id, anyBounds()));
            }
        }
        controller->refresh();
        controller->refresh();
        ASSERT_TRUE(server.isOnScreen(1));
        EXPECT_FALSE(server.isAbove(overlayID(0), 1)) << "round " << round;
    }
}

TEST_F(MalformedInput, anAbsentOrEmptyListCoversEveryDisplay) {
    twoDisplays();
    window(1, kAppA, {300, 200, 600, 400});
    focusOn(kAppA, 1);
    start();
    ASSERT_EQ(beneath(1), overlayID(0));

    server.setAbsent(true);  // the focused window cannot be found in nothing
    controller->refresh();
    server.setAbsent(false);
    EXPECT_EQ(std::set<std::uint32_t>({server.onScreenOrder().at(0), server.onScreenOrder().at(1)}),
              (std::set<std::uint32_t>{overlayID(0), overlayID(1)}));

    // Our own settings window is key but the list is empty: every display is covered.
    server.clearWindows();
    server.setOnScreen(overlayID(0), false);
    server.setOnScreen(overlayID(1), false);
    workspace.frontmost = RunningApplication{kOwnPID, {}};
    own.key = KeyWindow{90, true, false};
    controller->refresh();
    EXPECT_TRUE(overlay(0).isVisible());
    EXPECT_TRUE(overlay(1).isVisible());
}

TEST_F(MalformedInput, windowInfoKeepsOnlyEntriesWithNumberOwnerAndBounds) {
    const RawBounds b = bounds(10, 20, 300, 200);
    const auto good = DimController::WindowInfo::from(
        entry(std::int64_t{0xFFFFFFFF}, std::int64_t{-5}, std::monostate{}, b));
    ASSERT_TRUE(good);  // the layer is not the record's business; 0xFFFFFFFF is a valid number
    EXPECT_EQ(good->id, 0xFFFFFFFFu);
    EXPECT_EQ(good->pid, -5);
    EXPECT_EQ(good->bounds, (Rect{10, 20, 300, 200}));
    for (int kind : {0, 1, 2, 3, 4, 5, 6, 7, 11, 12, 13, 14, 15, 16, 18}) {
        EXPECT_FALSE(DimController::WindowInfo::from(broken(kind, 3, b))) << kind;
    }
    EXPECT_TRUE(DimController::WindowInfo::from(broken(19, 3, b)));
}

}  // namespace
}  // namespace sombrix::fakes

// Where the overlays go: one bright window per display, and no work when nothing changed.
#include "engine_fixture.h"

namespace sombrix::fakes {
namespace {

using Arrangement = EngineTest;

// Mirrored displays share one overlay.
TEST_F(Arrangement, eachDisplayKeepsItsBrightWindowAboveItsOverlayAndASteadyCycleOrdersNothing) {
    displays.displays = {makeDisplay("laptop", kLeft), makeDisplay("projector", kLeft),
                         makeDisplay("right", kRight)};
    window(1, kAppA, {100, 100, 800, 600});   // focused, left
    window(2, kAppB, {1700, 100, 800, 600});  // topmost on the right
    window(3, kAppB, {200, 200, 800, 600});
    window(4, kAppA, {1800, 200, 600, 400});
    focusOn(kAppA, 1);
    start();
    ASSERT_EQ(factory.live().size(), 2u);
    EXPECT_EQ(overlay(1).cgFrame(), kRight);
    EXPECT_EQ(beneath(1), overlayID(0));
    EXPECT_EQ(beneath(2), overlayID(1));
    EXPECT_TRUE(server.isAbove(overlayID(0), 3));
    EXPECT_TRUE(server.isAbove(overlayID(1), 4));
    EXPECT_EQ(callsOfOneRefresh(), 0);
    EXPECT_EQ(callsOfOneRefresh(), 0);

    // Clicking the lower window on the left moves only the left overlay.
    server.raise(3);
    focusOn(kAppB, 3);
    EXPECT_EQ(callsOfOneRefresh(), 1);
    EXPECT_EQ(beneath(3), overlayID(0));
    EXPECT_EQ(beneath(2), overlayID(1));
    EXPECT_EQ(callsOfOneRefresh(), 0);
}

// A centre on the shared border belongs to the next display, along either axis: the first
// display keeps its own bright window, and nothing is restacked again on the next cycle.
TEST_F(Arrangement, aCentreOnTheSharedBorderBelongsToTheNextDisplayOnBothAxes) {
    for (const Rect second : {kRight, Rect{0, 900, 1600, 900}}) {
        const bool below = second.y > 0;
        SCOPED_TRACE(below ? "stacked" : "side by side");
        server.clearWindows();
        displays.displays = {makeDisplay("first", kLeft), makeDisplay("second", second)};
        window(12, kAppB, below ? Rect{100, 800, 800, 200} : Rect{1500, 100, 200, 600});
        window(11, kAppB, below ? Rect{100, 1000, 800, 600} : Rect{1700, 100, 800, 600});
        window(10, kAppA, below ? Rect{100, 100, 800, 600} : Rect{100, 100, 800, 600});
        focusOn(kAppB, 11);
        make();
        start();
        EXPECT_EQ(beneath(10), overlayID(0));
        EXPECT_EQ(beneath(11), overlayID(1));
        EXPECT_EQ(callsOfOneRefresh(), 0);
    }
}

// Only normal-layer windows larger than forty points both ways are candidates. Whether the
// overlay is in place is judged among the display's candidates and the overlay alone: a small
// window, a panel or another display's window between them is no reason to restack.
TEST_F(Arrangement, onlyNormalLayerWindowsLargerThanFortyPointsCountForTheBrightWindow) {
    twoDisplays();
    server.addBack(FakeWindow{40, kAppB, 3, {1700, 100, 800, 600}, true});  // floating panel
    server.addRawBack(RawWindowEntry{std::int64_t{41}, std::int64_t{kAppB}, std::string("0"),
                                     RawBounds{1700, 100, 800, 600}});
    window(1, kAppA, {100, 100, 800, 600});
    window(20, kAppB, {1700, 100, 40, 500});
    window(21, kAppB, {1700, 100, 500, 40});
    window(22, kAppB, {1700, 100, 40.5, 40.5});
    window(2, kAppB, {1700, 100, 800, 600});
    focusOn(kAppA, 1);
    start();
    EXPECT_EQ(beneath(22), overlayID(1));
    EXPECT_TRUE(server.isAbove(20, overlayID(1)));
    EXPECT_EQ(callsOfOneRefresh(), 0);

    server.addFront(FakeWindow{30, kAppB, 0, {10, 10, 30, 30}, true});
    for (const std::uint32_t id : {22u, 30u, 1u})
        server.raise(id);  // 1, 30, 22, then the panels and the overlays
    EXPECT_EQ(callsOfOneRefresh(), 0);
}

TEST_F(Arrangement, fullScreenOrFillingWindowHidesOnlyItsOwnDisplaysOverlay) {
    twoDisplays();
    window(1, kAppA, {100, 100, 800, 600});
    window(2, kAppB, {1700, 100, 800, 600});
    focusOn(kAppA, 1);
    ax.setAttribute(FakeAccessibility::window(kAppA, 1), ax::kFullScreen, true);
    start();
    EXPECT_FALSE(overlay(0).isVisible());
    EXPECT_EQ(beneath(2), overlayID(1));
    EXPECT_EQ(callsOfOneRefresh(), 0);  // an overlay already hidden is not hidden again

    ax.removeAttribute(FakeAccessibility::window(kAppA, 1), ax::kFullScreen);
    struct Case {
        Rect bounds;
        bool hidden;
    };
    const Case cases[] = {
        {{-1, 40, 1602, 860}, true},     // 1 point over each side, 40 points short
        {{1, 0, 1598, 900}, true},       // 1 point inside each side
        {{0, 41, 1600, 859}, false},     // 41 points short
        {{1.5, 0, 1598.5, 900}, false},  // left edge 1.5 points in
        {{0, 0, 1598.5, 900}, false},    // right edge 1.5 points in
    };
    for (const auto& c : cases) {
        server.setBounds(1, c.bounds);
        controller->refresh();
        EXPECT_EQ(!overlay(0).isVisible(), c.hidden) << c.bounds.x << "," << c.bounds.width;
        if (!c.hidden) {
            EXPECT_EQ(beneath(1), overlayID(0));
        }
    }
}

TEST_F(Arrangement, panelsOfTheSameProcessAboveTheBrightWindowNeedNoRestackOthersDo) {
    window(5, kAppA, {300, 300, 200, 200});  // the focused application's own panel
    window(1, kAppA, {100, 100, 800, 600});
    focusOn(kAppA, 1);
    start();
    EXPECT_EQ(beneath(1), overlayID(0));
    EXPECT_EQ(callsOfOneRefresh(), 0);

    // Another program's window above the focused one: the order-below request is renewed every
    // cycle, and the focused window never ends up under the overlay.
    server.addFront(FakeWindow{6, kAppB, 0, {400, 400, 300, 300}, true});
    EXPECT_EQ(callsOfOneRefresh(), 1);
    EXPECT_EQ(callsOfOneRefresh(), 1);
    EXPECT_EQ(beneath(1), overlayID(0));
}

TEST_F(Arrangement, aDisplayWithoutCandidatesIsCoveredAndStaysSoWithoutFurtherCalls) {
    twoDisplays();
    window(30, kAppB, {10, 10, 30, 30});  // only a small window on the left
    window(1, kAppA, {1700, 100, 800, 600});
    focusOn(kAppA, 1);
    start();
    EXPECT_TRUE(server.isAbove(overlayID(0), 30));
    EXPECT_EQ(callsOfOneRefresh(), 0);

    server.raise(30);
    EXPECT_EQ(callsOfOneRefresh(), 1);
    EXPECT_TRUE(server.isAbove(overlayID(0), 30));
    EXPECT_EQ(beneath(1), overlayID(1));
}

TEST_F(Arrangement, ownKeyWindowStaysBrightAndAnEmptyListCoversEveryDisplay) {
    twoDisplays();
    workspace.frontmost = RunningApplication{kOwnPID, {}};
    own.key = KeyWindow{90, true, false};
    // Nothing on screen yet, not even the overlays: every display is covered.
    start();
    EXPECT_TRUE(overlay(0).isVisible());
    EXPECT_TRUE(overlay(1).isVisible());
    EXPECT_EQ(callsOfOneRefresh(), 0);

    window(90, kOwnPID, {100, 100, 600, 400});  // the settings window appears
    controller->refresh();
    EXPECT_EQ(beneath(90), overlayID(0));

    // Our own key window is an overlay, or there is none: the arrangement is left alone.
    server.raise(overlayID(0));
    own.key = KeyWindow{overlayID(0), true, true};
    EXPECT_EQ(callsOfOneRefresh(), 0);
    own.key.reset();
    EXPECT_EQ(callsOfOneRefresh(), 0);
}

TEST_F(Arrangement, withNothingToKeepBrightAllOverlaysGoOnTopOnceAndAgainWhenOneIsHidden) {
    twoDisplays();
    window(1, kAppA, {100, 100, 800, 600});
    window(2, kAppB, {1700, 100, 800, 600});
    workspace.frontmost.reset();
    start();
    const auto order = server.onScreenOrder();
    ASSERT_GE(order.size(), 2u);
    EXPECT_EQ(std::set<std::uint32_t>(order.begin(), order.begin() + 2),
              (std::set<std::uint32_t>{overlayID(0), overlayID(1)}));
    EXPECT_EQ(callsOfOneRefresh(), 0);

    server.setOnScreen(overlayID(1), false);
    EXPECT_EQ(callsOfOneRefresh(), 2);
    EXPECT_TRUE(overlay(1).isVisible());

    // A window whose bounds do not convert is still on screen: the overlays go above it too.
    server.addRawFront(RawWindowEntry{std::int64_t{41}, std::int64_t{kAppB}, std::int64_t{0},
                                      std::string("bounds")});
    EXPECT_EQ(callsOfOneRefresh(), 2);
}

}  // namespace
}  // namespace sombrix::fakes

// When the focused window goes away: who gets focus, and only within the grace period, once.
#include "engine_fixture.h"

namespace sombrix::fakes {
namespace {

class HandOver : public EngineTest {
protected:
    // A's window 1 is focused above B's window 2; both applications list their windows.
    void SetUp() override {
        window(1, kAppA, {100, 100, 800, 600});
        window(2, kAppB, {200, 200, 800, 600});
        workspace.addRunning({kAppB, {}});
        listWindows(kAppA, {1});
        listWindows(kAppB, {2});
        focusOn(kAppA, 1);
        start();
    }

    void listWindows(std::int32_t pid, std::vector<std::uint32_t> ids) {
        std::vector<AXElement> elements;
        for (const auto id : ids)
            elements.push_back(FakeAccessibility::window(pid, id));
        ax.setAttribute(FakeAccessibility::application(pid), ax::kWindows, elements);
    }

    // A keeps the front but loses its focused window; the window itself closes `after` seconds
    // later. True when a hand-over took place.
    bool closeFocusedWindowAfter(double after) {
        noFocusedWindow(kAppA);
        controller->refresh();  // focus lost, window still there: the clock starts
        EXPECT_TRUE(ax.actions.empty());
        clock.advance(after);
        server.remove(1);
        controller->refresh();
        return !workspace.activations.empty();
    }

    bool raisedAndMadeMain(std::int32_t pid, std::uint32_t id) {
        const auto element = FakeAccessibility::window(pid, id);
        return ax.actions.size() == 1 && ax.actions[0].element == element &&
               ax.actions[0].name == ax::kRaise && ax.sets.size() == 1 &&
               ax.sets[0].element == element && ax.sets[0].name == ax::kMain;
    }
};

TEST_F(HandOver, twoSecondsWithoutFocusEndTheGracePeriod) {
    EXPECT_FALSE(closeFocusedWindowAfter(2.0));
    EXPECT_TRUE(ax.actions.empty());
    EXPECT_EQ(topmost(), overlayID(0));  // everything is dimmed instead
}

TEST_F(HandOver, focusComingBackRestartsTheGracePeriod) {
    noFocusedWindow(kAppA);
    controller->refresh();
    clock.advance(1.0);
    focusOn(kAppA, 1);
    controller->refresh();
    clock.advance(5.0);
    EXPECT_TRUE(closeFocusedWindowAfter(1.0));
}

// Looking gone halfway through a change of the window manager, the focused window is left to the
// change's end: ticks in between hand nothing over.
TEST_F(HandOver, waitsForTheEndOfAChangeStillUnderWay) {
    server.underWay = true;
    noFocusedWindow(kAppA);
    server.remove(1);
    scheduler.advance(0.5);
    EXPECT_TRUE(workspace.activations.empty());
    server.underWay = false;
    scheduler.advance(0.25);
    EXPECT_EQ(workspace.activations.size(), 1u);
}

// Made keep-above by the user, lifted there by a manager when it went full screen, or out of the
// list for a moment while a manager swaps its frame: a focused window that still exists is not
// closed. A closed one hands over past the own overlay and small windows, maybe to the same
// application.
TEST_F(HandOver, aWindowThatMovesLayersIsNotClosedAndAHandOverSkipsOwnOverlayAndSmallWindows) {
    server.remove(1);
    controller->refresh();
    server.addFront(FakeWindow{1, kAppA, 3, {100, 100, 800, 600}, true});
    controller->refresh();
    EXPECT_TRUE(ax.actions.empty());
    EXPECT_TRUE(workspace.activations.empty());

    server.addFront(FakeWindow{4, kAppA, 0, {300, 300, 500, 400}, true});
    server.addFront(FakeWindow{31, kAppB, 0, {10, 10, 30, 300}, true});
    server.addFront(FakeWindow{33, kAppB, 0, {10, 10, 300, 30}, true});
    server.addFront(FakeWindow{90, kOwnPID, 0, {50, 50, 600, 400}, true});
    server.raise(overlayID(0));
    server.raise(1);
    listWindows(kAppA, {1, 4});

    ASSERT_TRUE(closeFocusedWindowAfter(0.5));
    EXPECT_TRUE(raisedAndMadeMain(kAppA, 4));
    EXPECT_EQ(workspace.activations.at(0).pid, kAppA);
}

// The topmost remaining window of another application is raised and its application activated,
// once; with nothing eligible, everything is dimmed.
TEST_F(HandOver, happensAtMostOnceAndNothingEligibleMeansEverythingIsDimmed) {
    ASSERT_TRUE(closeFocusedWindowAfter(1.9));
    EXPECT_TRUE(raisedAndMadeMain(kAppB, 2));
    EXPECT_EQ(workspace.activations.at(0).pid, kAppB);

    // Still no focused window within the grace period: no second hand-over, the displays are
    // covered.
    clock.advance(0.05);
    controller->refresh();
    EXPECT_EQ(workspace.activations.size(), 1u);
    EXPECT_EQ(topmost(), overlayID(0));

    // B's window gets focus, then closes, leaving only small windows: nothing to hand over to.
    focusOn(kAppB, 2);
    controller->refresh();
    server.remove(2);
    window(32, kAppB, {100, 100, 40, 400});
    noFocusedWindow(kAppB);
    controller->refresh();
    EXPECT_EQ(workspace.activations.size(), 1u);
    EXPECT_EQ(topmost(), overlayID(0));
}

TEST_F(HandOver, ownSettingsWindowClosingHandsFocusOnWithoutTouchingTheArrangement) {
    server.addFront(FakeWindow{90, kOwnPID, 0, {100, 100, 600, 400}, true});
    workspace.frontmost = RunningApplication{kOwnPID, {}};
    own.key = KeyWindow{90, true, false};
    controller->refresh();
    ASSERT_EQ(beneath(90), overlayID(0));

    own.key.reset();
    server.remove(90);
    EXPECT_EQ(callsOfOneRefresh(), 0);
    EXPECT_TRUE(raisedAndMadeMain(kAppA, 1));
    EXPECT_EQ(workspace.activations.at(0).pid, kAppA);
}

}  // namespace
}  // namespace sombrix::fakes

// Following focus through the accessibility service: one observer on the frontmost process, a
// watch on the focused window, and naming the focused window by its number or its frame.
#include "engine_fixture.h"

namespace sombrix::fakes {
namespace {

class FocusTracking : public EngineTest {
protected:
    void SetUp() override {
        window(1, kAppA, {100, 100, 800, 600});
        window(3, kAppA, {150, 150, 800, 600});
        window(2, kAppB, {200, 200, 800, 600});
        focusOn(kAppA, 1);
    }

    bool dimmedEverything() { return topmost() == overlayID(0); }
};

TEST_F(FocusTracking, oneObserverFollowsTheFrontmostProcessWithARealProcessIdAndRetries) {
    start();
    auto* observerA = ax.observerFor(kAppA);
    ASSERT_NE(observerA, nullptr);
    EXPECT_TRUE(observerA->attached);
    const auto app = FakeAccessibility::application(kAppA);
    for (const auto name : {ax::kFocusedWindowChanged, ax::kMainWindowChanged, ax::kWindowCreated,
                            ax::kWindowMiniaturized, ax::kWindowDeminiaturized}) {
        EXPECT_EQ(observerA->registered(name, app), 1) << name;
    }
    controller->refresh();
    EXPECT_EQ(ax.observersCreated, 1);

    focusOn(kAppB, 2);
    ax.failingPIDs.insert(kAppB);
    controller->refresh();
    EXPECT_TRUE(ax.liveObservers().empty());
    EXPECT_FALSE(Peer::observedWindow(*controller));
    EXPECT_EQ(ax.deliver(app, ax::kFocusedWindowChanged), 0);

    ax.failingPIDs.clear();
    controller->refresh();
    ASSERT_NE(ax.observerFor(kAppB), nullptr);
    EXPECT_EQ(ax.liveObservers().size(), 1u);

    // A frontmost application without a real process id gets no observer.
    focusOn(0, 1);
    controller->refresh();
    EXPECT_TRUE(ax.liveObservers().empty());
}

TEST_F(FocusTracking, everyNotificationRunsOneRefreshAndTheDestructionWatchFollowsFocus) {
    start();
    auto* observer = ax.observerFor(kAppA);
    ASSERT_NE(observer, nullptr);
    EXPECT_EQ(observer->registered(ax::kUIElementDestroyed, FakeAccessibility::window(kAppA, 1)),
              1);

    // Focus moves inside A: the notification alone rearranges, and the watch moves along.
    server.raise(3);
    ax.setFocusedWindow(kAppA, 3);
    EXPECT_EQ(ax.deliver(FakeAccessibility::application(kAppA), ax::kFocusedWindowChanged), 1);
    EXPECT_EQ(beneath(3), overlayID(0));
    EXPECT_EQ(observer->registered(ax::kUIElementDestroyed, FakeAccessibility::window(kAppA, 3)),
              1);
    controller->refresh();
    EXPECT_EQ(observer->registered(ax::kUIElementDestroyed), 1);

    // The window is destroyed: the watch reports it, and the cycle sees no focused window.
    server.remove(3);
    noFocusedWindow(kAppA);
    workspace.addRunning({kAppA, {}});
    EXPECT_EQ(ax.deliver(FakeAccessibility::window(kAppA, 3), ax::kUIElementDestroyed), 1);
    EXPECT_EQ(workspace.activations.size(), 1u);  // handed over to A's window 1
}

TEST_F(FocusTracking, aWindowWithoutAUsableNumberIsFoundByItsFrameWithinTwoPoints) {
    // The element has a number the window list does not know; B's window with the same frame
    // lies above A's two matching windows.
    server.addFront(FakeWindow{7, kAppB, 0, {100, 100, 800, 600}, true});
    server.addBack(FakeWindow{8, kAppA, 0, {100, 100, 800, 600}, true});
    const auto element = FakeAccessibility::window(kAppA, 555);
    ax.setAttribute(FakeAccessibility::application(kAppA), ax::kFocusedWindow, element);

    struct Case {
        Rect frame;
        std::optional<std::uint32_t> number;  // what the element reports
        bool matches;
    };
    const Case cases[] = {
        {{101.9, 101.9, 801.9, 601.9}, std::nullopt, true},
        {{98.1, 98.1, 798.1, 598.1}, 0u, true},
        {{102, 100, 800, 600}, 555u, false},
        {{100, 102, 800, 600}, 555u, false},
        {{100, 100, 802, 600}, 555u, false},
        {{100, 100, 800, 598}, 555u, false},
    };
    start();
    for (const auto& c : cases) {
        ax.setFrame(element, c.frame);
        ax.setWindowNumber(element, c.number);
        controller->refresh();
        if (c.matches) {
            EXPECT_EQ(beneath(1), overlayID(0)) << c.frame.x;  // the frontmost of A's matches
        } else {
            EXPECT_TRUE(dimmedEverything()) << c.frame.x << "," << c.frame.width;
        }
    }
    ax.removeAttribute(element, ax::kSize);
    controller->refresh();
    EXPECT_TRUE(dimmedEverything());

    // The frontmost match decides even when its number is unusable: A's matching windows
    // behind it are not tried.
    ax.setFrame(element, {100, 100, 800, 600});
    server.addRawFront(RawWindowEntry{std::string("x"), std::int64_t{kAppA}, std::int64_t{0},
                                      RawBounds{100, 100, 800, 600}});
    controller->refresh();
    EXPECT_TRUE(dimmedEverything());
}

TEST_F(FocusTracking, minimisedFocusedWindowOrFinderFocusOutsideAnyWindowMeanNoFocus) {
    const auto app = FakeAccessibility::application(kAppA);
    const auto win = FakeAccessibility::window(kAppA, 1);
    const AXElement icon{AXElement::Kind::Other, kAppA, 42};
    ax.setAttribute(app, ax::kFocusedUIElement, icon);
    ax.setAttribute(win, ax::kMinimized, std::int64_t{1});  // not a boolean: not minimised
    start();
    EXPECT_EQ(beneath(1), overlayID(0));  // not the file manager: its focused element is no matter

    ax.setAttribute(win, ax::kMinimized, true);
    controller->refresh();
    EXPECT_TRUE(dimmedEverything());
    ax.removeAttribute(win, ax::kMinimized);

    focusOn(kAppA, 1, "com.apple.finder");
    controller->refresh();
    EXPECT_TRUE(dimmedEverything());

    ax.setAttribute(icon, ax::kWindow, win);
    controller->refresh();
    EXPECT_EQ(beneath(1), overlayID(0));

    ax.removeAttribute(app, ax::kFocusedUIElement);
    server.raise(overlayID(0));
    controller->refresh();
    EXPECT_EQ(beneath(1), overlayID(0));
}

}  // namespace
}  // namespace sombrix::fakes

// The soak's judge on hand-made stackings: it must pass every arrangement the rules allow (a
// false alarm would fail a sound soak) and name every one they forbid (or the soak proves
// nothing).
#include <gtest/gtest.h>

#include "arrangement_invariants.h"

namespace sombrix::test {
namespace {

constexpr InvariantRect kLeft{0, 0, 800, 900};
constexpr InvariantRect kRight{800, 0, 800, 900};

StackedWindow window(xcb_window_t id, InvariantRect bounds, const char* title = "w") {
    StackedWindow w;
    w.client = id;
    w.frame = id + 1000;
    w.mapped = true;
    w.normalOnScreen = true;
    w.bounds = bounds;
    w.title = title;
    return w;
}

StackedWindow overlay(xcb_window_t id, InvariantRect bounds, bool mapped = true) {
    StackedWindow w;
    w.client = w.frame = id;
    w.overlay = true;
    w.mapped = w.normalOnScreen = mapped;
    w.bounds = bounds;
    return w;
}

// Front to back; overlay 1 serves the left monitor, overlay 2 the right one.
ArrangementState state(std::vector<StackedWindow> stack, std::optional<xcb_window_t> active) {
    ArrangementState s;
    s.stack = std::move(stack);
    s.active = active;
    s.monitors = {{"LEFT", kLeft}, {"RIGHT", kRight}};
    return s;
}

TEST(ArrangementInvariants, PassesWhatTheRulesAllow) {
    // Beneath the bright window among its monitor's candidates: a small window, the other
    // monitor's windows and a window above the bright one do not matter.
    EXPECT_TRUE(violations(state({window(10, {100, 100, 300, 200}), window(11, {200, 200, 30, 30}),
                                  window(12, {900, 100, 300, 300}), overlay(2, kRight),
                                  window(13, {50, 50, 300, 300}), overlay(1, kLeft),
                                  window(14, {1000, 400, 300, 300})},
                                 13))
                    .empty());
    // The active window fills its monitor within the tolerances: its overlay stays hidden; a
    // monitor with only small windows has its overlay in front.
    EXPECT_TRUE(violations(state({window(10, {1, 0, 798, 860}), overlay(1, kLeft, false),
                                  overlay(2, kRight), window(11, {900, 100, 40, 300})},
                                 10))
                    .empty());
    // Nobody focused: every overlay in front of everything; a stale overlay of an old set may
    // linger unmapped.
    EXPECT_TRUE(
        violations(state({overlay(1, kLeft), overlay(2, kRight),
                          overlay(3, {0, 0, 1600, 900}, false), window(10, {100, 100, 300, 200})},
                         std::nullopt))
            .empty());
}

TEST(ArrangementInvariants, NamesWhatTheRulesForbid) {
    auto one = [](ArrangementState s) {
        auto v = violations(s);
        EXPECT_EQ(v.size(), 1u) << (v.empty() ? "" : v.front());
        return v.empty() ? std::string() : v.front();
    };
    // A candidate between the overlay and the focused window stays bright by mistake.
    EXPECT_NE(one(state({window(10, {100, 100, 300, 200}, "focused"),
                         window(11, {300, 300, 300, 200}), overlay(1, kLeft), overlay(2, kRight)},
                        10))
                  .find("'focused'"),
              std::string::npos);
    // 41 points short of filling: the overlay must lie beneath, not be hidden.
    EXPECT_NE(
        one(state({window(10, {0, 0, 800, 859}), overlay(1, kLeft, false), overlay(2, kRight)}, 10))
            .find("no overlay is shown"),
        std::string::npos);
    // Full screen counts for the focused window only; this one must keep its overlay beneath.
    auto fullScreenButNotFocused = window(11, {900, 100, 300, 300});
    fullScreenButNotFocused.fullScreen = true;
    one(state({window(10, {100, 100, 300, 200}), overlay(1, kLeft), fullScreenButNotFocused,
               overlay(2, kRight, false)},
              10));
    // Nothing to keep bright on the right, yet a small window lies above its overlay.
    one(state({window(10, {100, 100, 300, 200}), overlay(1, kLeft), window(11, {900, 100, 30, 30}),
               overlay(2, kRight)},
              10));
    // Nobody focused, yet a window lies above an overlay.
    one(state({overlay(1, kLeft), window(10, {900, 100, 300, 200}), overlay(2, kRight)},
              std::nullopt));
    // A mapped overlay that serves no monitor (left from a rebuild).
    one(state({overlay(3, {0, 0, 700, 900}), window(10, {100, 100, 300, 200}), overlay(1, kLeft),
               overlay(2, kRight)},
              10));
}

}  // namespace
}  // namespace sombrix::test

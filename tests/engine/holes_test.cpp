// Holes in the overlay: tiles that a tiling manager leaves above the focused one are dimmed, a
// manager that undoes every restack is not fought, and excluded windows show through.
#include "engine_fixture.h"

namespace sombrix::fakes {
namespace {

using Holes = EngineTest;

constexpr std::int32_t kAppC = 1003;

TEST_F(Holes, tilesAboveTheFocusedOneAreDimmedAndTheHoleFollowsFocusAndLayout) {
    // Three tiles of three programs side by side, sharing a border pixel; stacking says nothing.
    window(1, kAppB, {0, 0, 534, 900});
    window(2, kAppA, {533, 0, 534, 900});
    window(3, kAppC, {1066, 0, 534, 900});
    focusOn(kAppA, 2);
    start();
    EXPECT_TRUE(veiled(2).empty());
    EXPECT_FALSE(veiled(1).empty());
    EXPECT_FALSE(veiled(3).empty());
    const int holeChanges = overlay(0).holeChanges;
    EXPECT_EQ(callsOfOneRefresh(), 0);
    EXPECT_EQ(overlay(0).holeChanges, holeChanges);

    // Focus moves without a raise, then the layout changes: the hole follows, the overlay stays.
    focusOn(kAppC, 3);
    EXPECT_EQ(callsOfOneRefresh(), 0);
    EXPECT_TRUE(veiled(3).empty());
    EXPECT_FALSE(veiled(2).empty());
    server.setBounds(1, {0, 0, 800, 450});
    server.setBounds(2, {800, 0, 800, 450});
    server.setBounds(3, {0, 450, 1600, 450});
    controller->refresh();
    EXPECT_EQ(overlay(0).holes, (std::vector<Rect>{{0, 450, 1600, 450}}));

    // A floating window of another program over the focused tile stays bright.
    server.addFront(FakeWindow{4, kAppA, 0, {600, 300, 400, 300}, true});
    controller->refresh();
    EXPECT_TRUE(veiled(3).empty());
    EXPECT_TRUE(veiled(4).empty());
    EXPECT_FALSE(veiled(2).empty());

    // A manager that raises the focused window: back beneath it, no hole at all.
    server.raise(3);
    controller->refresh();
    EXPECT_EQ(beneath(3), overlayID(0));
    EXPECT_TRUE(overlay(0).holes.empty());
}

TEST_F(Holes, badTilesNeverVeilTheFocusedOneNorLeaveAStaleHole) {
    // 30 tiles of 30 programs, each overlapping its neighbours by a border pixel, the first on top.
    for (std::uint32_t id = 0; id < 30; ++id)
        window(id + 1, 2000 + int(id), {id % 6 * 266.0, id / 6 * 180.0, 267, 181});
    focusOn(2014, 15);
    start();
    for (std::uint32_t id = 1; id <= 30; ++id)
        EXPECT_EQ(veiled(id).empty(), id == 15) << id;
    // A floating window partly over two other tiles is dimmed with them.
    server.addFront(FakeWindow{40, kAppA, 0, {100, 100, 400, 100}, true});
    controller->refresh();
    EXPECT_FALSE(veiled(40).empty());
    // The focused tile shrinks to a sliver too small to stay the display's bright window (the
    // floating one is then) and its neighbour takes the rest: no hole is left where it was.
    server.setBounds(15, {798, 360, 10, 181});
    server.setBounds(16, {808, 360, 524, 181});
    controller->refresh();
    EXPECT_TRUE(veiled(15).empty());
    EXPECT_TRUE(veiled(40).empty());
    EXPECT_EQ(region::intersect(overlay(0).holes, {{808, 360, 524, 181}}), region::Region{});
}

TEST_F(Holes, aManagerThatUndoesRestacksIsNotFoughtAndIsAskedAgainAfterAReplacement) {
    server.restacksStick = false;
    window(1, kAppA, {100, 100, 800, 600});
    window(3, kAppB, {200, 200, 800, 600});
    server.addFront(FakeWindow{9, kAppC, 20, {0, 860, 1600, 40}, true});  // a panel
    focusOn(kAppA, 1);
    start();
    for (int i = 0; i < 20; ++i)
        controller->refresh();
    EXPECT_LE(factory.orderingCalls, 5);
    EXPECT_EQ(callsOfOneRefresh(), 0);
    EXPECT_EQ(topmost(), overlayID(0));
    EXPECT_TRUE(veiled(1).empty());
    EXPECT_TRUE(veiled(9).empty());
    EXPECT_FALSE(veiled(3).empty());

    // The manager raises the newly focused window; the hole moves with no restack.
    server.raise(3);
    server.raise(9);  // the panel layer stays above
    focusOn(kAppB, 3);
    EXPECT_EQ(callsOfOneRefresh(), 0);
    EXPECT_TRUE(veiled(3).empty());
    EXPECT_FALSE(veiled(1).empty());

    // Another manager takes over: it is asked again, and this one keeps the overlay in place.
    server.restacksStick = true;
    ax.windowManager = 2;
    controller->refresh();
    EXPECT_EQ(beneath(3), overlayID(0));
    EXPECT_TRUE(overlay(0).holes.empty());
    EXPECT_EQ(callsOfOneRefresh(), 0);
}

TEST_F(Holes, anExcludedWindowBelowTheOverlayShowsWhereNoDimmedWindowCoversIt) {
    // Hundreds of entries, empty and odd ones among them: only a whole name counts, in any case.
    std::vector<std::string> classes{"", "mp", "mpv.*", "*", "\xff\t,\"", "MPV"};
    for (int i = 0; i < 300; ++i)
        classes.push_back("class-" + std::to_string(i));
    defaults.setStringList(keys::kExcludedWindowClasses, classes);
    twoDisplays();
    server.addBack(FakeWindow{1, kAppA, 0, {100, 100, 400, 400}, true, "Mpv"});  // focused too
    server.addBack(FakeWindow{6, kAppC, 0, {900, 100, 300, 300}, true, "mpv-helper"});
    server.addBack(FakeWindow{5, kAppB, 0, {800, 300, 600, 400}, true, "mpv"});
    window(7, kAppC, {1700, 100, 600, 400});
    window(9, kAppC, {2000, 500, 600, 300});
    server.addBack(FakeWindow{8, kAppB, 0, kRight, true, "mpv"});  // covers the other display
    focusOn(kAppA, 1);
    start();
    EXPECT_EQ(beneath(1), overlayID(0));
    EXPECT_EQ(overlay(0).holes, region::subtract({{800, 300, 600, 400}}, {{900, 100, 300, 300}}));
    EXPECT_FALSE(veiled(6).empty());
    EXPECT_EQ(beneath(7), overlayID(1));
    EXPECT_EQ(overlay(1).holes, region::subtract({kRight}, {{2000, 500, 600, 300}}));

    // The hole follows a move within one refresh, costs nothing while steady, goes with the window.
    server.setBounds(5, {700, 500, 600, 300});
    controller->refresh();
    EXPECT_EQ(overlay(0).holes, (std::vector<Rect>{{700, 500, 600, 300}}));
    const int holeChanges = overlay(0).holeChanges;
    controller->refresh();
    EXPECT_EQ(overlay(0).holeChanges, holeChanges);
    // Ticks without news from the server (once the last restack is judged) read nothing; an
    // edit of the list is still seen by the next one.
    server.changes = 1;
    scheduler.advance(1.0);
    const int copies = server.copyCount;
    scheduler.advance(1.0);
    EXPECT_EQ(server.copyCount, copies);
    defaults.setStringList(keys::kExcludedWindowClasses, {"none"});
    scheduler.advance(0.25);
    EXPECT_TRUE(overlay(0).holes.empty());
    server.setOnScreen(5, false);
    controller->refresh();
    EXPECT_EQ(overlay(0).holes, (std::vector<Rect>{})) << overlay(0).holes.size();
}

}  // namespace
}  // namespace sombrix::fakes

// Keeping the wallpaper pictures fresh: the 30-second rule, store changes, and the style gate.
#include "engine_fixture.h"

namespace sombrix::fakes {
namespace {

class Wallpaper : public EngineTest {
protected:
    void SetUp() override {
        window(1, kAppA, {100, 100, 800, 600});
        focusOn(kAppA, 1);
        defaults.set(keys::kDimStyle, std::string("wallpaper"));
        t0 = clock.now();
    }

    TimePoint lastPass() { return Peer::lastWallpaperCapture(*controller); }

    TimePoint t0 = 0;
};

TEST_F(Wallpaper, anUnchangedStoreRenewsPicturesOnlyOnceMoreThanThirtySecondsHavePassed) {
    start();
    scheduler.advance(2.0);  // no store, distant past: a pass at once
    EXPECT_EQ(factory.captureCalls, 1);
    EXPECT_EQ(lastPass(), t0 + 2);

    scheduler.advance(30.0);  // the tick at exactly 30.0 s after the pass does nothing
    EXPECT_EQ(factory.captureCalls, 1);
    scheduler.advance(2.0);
    EXPECT_EQ(factory.captureCalls, 2);
    EXPECT_EQ(lastPass(), t0 + 34);
}

TEST_F(Wallpaper, eachStoreChangeDefersItsOwnPassEvenWhenChangesFollowEachOther) {
    wallpaper.storeToken = 1;
    start();
    scheduler.advance(2.0);
    EXPECT_EQ(factory.captureCalls, 0);
    wallpaper.storeToken = 2;
    scheduler.advance(2.0);  // the first deferred pass ran at 3.5 s
    EXPECT_EQ(factory.captureCalls, 1);
    EXPECT_EQ(lastPass(), t0 + 3.5);
    scheduler.advance(2.0);
    EXPECT_EQ(factory.captureCalls, 2);
    EXPECT_EQ(lastPass(), t0 + 5.5);

    // The store goes away after having been seen: that is a change too.
    wallpaper.storeToken.reset();
    scheduler.advance(2.0);
    EXPECT_EQ(scheduler.count(false), 1);
    scheduler.advance(1.5);
    EXPECT_EQ(factory.captureCalls, 3);
    scheduler.advance(4.0);  // and once only
    EXPECT_EQ(factory.captureCalls, 3);
}

TEST_F(Wallpaper, theBlackStyleStampsNothingAndWithoutAccessPassesStampButCaptureNothing) {
    defaults.set(keys::kDimStyle, std::string("black"));
    wallpaper.storeToken = 1;
    start();
    scheduler.advance(40.0);
    workspace.observers.post(WorkspaceNotification::DidActivateApplication);
    EXPECT_EQ(factory.captureCalls, 0);
    EXPECT_EQ(lastPass(), kDistantPast);
    EXPECT_EQ(wallpaper.storeReads, 0);

    controller->setStyle(Style::wallpaper);
    EXPECT_EQ(std::get<std::string>(*defaults.object(keys::kDimStyle)), "wallpaper");
    EXPECT_EQ(overlay(0).applied.back().style, Style::wallpaper);
    EXPECT_EQ(overlay(0).applied.back().strength, 0.5);

    wallpaper.captureAllowed = false;
    const TimePoint now = clock.now();
    workspace.observers.post(WorkspaceNotification::ActiveSpaceDidChange);
    EXPECT_EQ(lastPass(), now);
    EXPECT_EQ(factory.captureCalls, 0);

    // Until a picture can be had the overlays keep the black veil; one that appears later (a
    // wallpaper set, a desktop started) is picked up by the next check, as is its going.
    for (const bool available : {false, true}) {
        wallpaper.captureAllowed = available;
        const auto applied = overlay(0).applied.size();
        scheduler.advance(2.0);
        EXPECT_EQ(overlay(0).applied.size(), applied + 1);
    }
}

}  // namespace
}  // namespace sombrix::fakes

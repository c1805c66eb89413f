// Starting and stopping the engine: what exists while it runs, what survives a stop, and the
// settings readers.
#include <cmath>
#include <limits>

#include "engine_fixture.h"

namespace sombrix::fakes {
namespace {

class Lifecycle : public EngineTest {
protected:
    void SetUp() override {
        window(1, kAppA, {100, 100, 800, 600});
        window(2, kAppB, {200, 200, 800, 600});
        focusOn(kAppA, 1);
    }

    void expectRunningSetOnce() {
        EXPECT_TRUE(controller->isRunning());
        EXPECT_EQ(workspace.observers.size(), 8);
        EXPECT_EQ(displays.observers.size(), 1);
        EXPECT_EQ(scheduler.count(true), 2);
        EXPECT_EQ(factory.live().size(), displays.displays.size());
    }

    // Whether anything still drives the engine (a cycle, a capture, a rebuild): every event
    // source fires once.
    bool anyEventReachesTheEngine() {
        const int copies = server.copyCount;
        const int captures = factory.captureCalls;
        const int created = factory.created;
        workspace.observers.post(WorkspaceNotification::DidActivateApplication);
        workspace.observers.post(WorkspaceNotification::ActiveSpaceDidChange);
        workspace.observers.post(WorkspaceNotification::DidWake);
        ax.deliver(FakeAccessibility::application(kAppA), ax::kFocusedWindowChanged);
        displays.change(displays.displays);
        scheduler.advance(5.0);
        return server.copyCount != copies || factory.captureCalls != captures ||
               factory.created != created;
    }
};

TEST_F(Lifecycle, startNeedsTheDimEnabledAndThePermissionAndStopsWithoutIt) {
    defaults.set(keys::kDimEnabled, false);
    ax.trusted = true;
    start();
    EXPECT_FALSE(controller->isRunning());
    EXPECT_EQ(factory.created, 0);

    defaults.set(keys::kDimEnabled, std::string("maybe"));  // not a boolean: the default, on
    ax.trusted = false;
    controller->startIfPossible();
    EXPECT_FALSE(controller->isRunning());
    EXPECT_EQ(scheduler.count(true), 0);

    ax.trusted = true;
    controller->startIfPossible();
    expectRunningSetOnce();

    ax.trusted = false;  // the permission is withdrawn: the next cycle stops the engine
    scheduler.advance(0.25);
    EXPECT_FALSE(controller->isRunning());
}

TEST_F(Lifecycle, stopTearsEverythingDownAndAStartBuildsItFreshOnceKeepingTheFocusRecord) {
    start();
    noFocusedWindow(kAppA);
    controller->refresh();  // window 1 still there: the grace clock runs, 1 stays recorded
    const auto since = Peer::noFocusSince(*controller);
    ASSERT_TRUE(since);

    controller->stop();
    EXPECT_FALSE(controller->isRunning());
    EXPECT_TRUE(controller->overlays().empty());
    EXPECT_TRUE(factory.live().empty());
    EXPECT_EQ(workspace.observers.size(), 0);
    EXPECT_EQ(displays.observers.size(), 0);
    EXPECT_TRUE(ax.liveObservers().empty());
    EXPECT_EQ(scheduler.count(true), 0);
    EXPECT_FALSE(anyEventReachesTheEngine());
    controller->stop();  // a second stop changes nothing

    clock.advance(10);
    controller->startIfPossible();
    controller->startIfPossible();  // a second start registers nothing twice
    expectRunningSetOnce();
    EXPECT_EQ(factory.created, 2);
    EXPECT_EQ(Peer::lastFocusedWindow(*controller), 1u);
    EXPECT_EQ(Peer::noFocusSince(*controller), since);
    EXPECT_TRUE(anyEventReachesTheEngine());

    // Handlers that outlive the controller do nothing, a deferred capture pass included.
    defaults.set(keys::kDimStyle, std::string("wallpaper"));
    wallpaper.storeToken = 7;
    scheduler.advance(2.0);
    ASSERT_EQ(scheduler.count(false), 1);
    controller.reset();
    EXPECT_FALSE(anyEventReachesTheEngine());
}

TEST_F(Lifecycle, activationAndSpaceChangesRefreshAndCaptureAndDisplayChangesRebuildFirst) {
    defaults.set(keys::kDimStyle, std::string("wallpaper"));
    twoDisplays();
    start();
    for (const auto name : {WorkspaceNotification::DidActivateApplication,
                            WorkspaceNotification::ActiveSpaceDidChange}) {
        const int copies = server.copyCount;
        const int captures = factory.captureCalls;
        workspace.observers.post(name);
        EXPECT_GT(server.copyCount, copies);
        EXPECT_EQ(factory.captureCalls, captures + 2);
    }

    // One display goes away and the other changes size: new overlays, arranged at once.
    const Rect wide{0, 0, 2560, 1440};
    displays.change({makeDisplay("wide", wide)});
    EXPECT_EQ(factory.created, 3);
    ASSERT_EQ(factory.live().size(), 1u);
    EXPECT_EQ(overlay(0).cgFrame(), wide);
    EXPECT_EQ(overlay(0).applied.at(0).style, Style::wallpaper);
    EXPECT_EQ(beneath(1), overlayID(0));
}

TEST_F(Lifecycle, listedDisplaysGetNoOverlayEvenWhenTheyComeBackAndAChangedListRebuildsAtOnce) {
    twoDisplays();
    defaults.set(keys::kUndimmedDisplays, std::vector<std::string>{"right", "gone"});
    start();
    ASSERT_EQ(factory.live().size(), 1u);
    EXPECT_EQ(overlay(0).display().name, "left");
    EXPECT_EQ(beneath(1), overlayID(0));

    displays.change({makeDisplay("right", kRight), makeDisplay("left", {0, 0, 1280, 800})});
    ASSERT_EQ(factory.live().size(), 1u);
    EXPECT_EQ(overlay(0).display().name, "left");

    defaults.setStringList(keys::kUndimmedDisplays, {"left"});  // as a hand edit would
    scheduler.advance(2.0);
    ASSERT_EQ(factory.live().size(), 1u);
    EXPECT_EQ(overlay(0).display().name, "right");
    EXPECT_TRUE(overlay(0).isVisible());  // arranged at once: nothing on it stays bright

    const int created = factory.created;
    scheduler.advance(10.0);  // an unchanged list rebuilds nothing
    EXPECT_EQ(factory.created, created);
    controller->stop();
    defaults.remove(keys::kUndimmedDisplays);
    controller->displaySettingsChanged();
    EXPECT_TRUE(factory.live().empty());
}

TEST_F(Lifecycle, aSwitchFadesOnlyWhenAskedAndAnInterruptedFadeLeavesNoOverlayBehind) {
    using Transition = DimController::Transition;
    twoDisplays();
    make().startIfPossible(Transition::fade);
    EXPECT_TRUE(overlay(0).fadeIns.empty());  // "fadeOnToggle" absent: no fade
    controller->stop(Transition::fade);
    EXPECT_TRUE(factory.live().empty());

    defaults.set(keys::kFadeOnToggle, true);
    controller->startIfPossible();  // launch and the permission poll never fade
    EXPECT_TRUE(overlay(0).fadeIns.empty());
    controller->stop();
    controller->startIfPossible(Transition::fade);
    EXPECT_EQ(overlay(1).fadeIns, std::vector<double>{0.2});
    controller->stop(Transition::fade);
    EXPECT_TRUE(controller->overlays().empty());
    ASSERT_EQ(factory.live().size(), 2u);
    EXPECT_TRUE(overlay(0).isVisible());
    factory.finishFades();
    EXPECT_TRUE(factory.live().empty());

    // Switched on again mid-fade: only the new overlays remain. Quit mid-fade: none remain.
    controller->startIfPossible(Transition::fade);
    controller->stop(Transition::fade);
    controller->startIfPossible(Transition::fade);
    ASSERT_EQ(factory.live().size(), 2u);
    EXPECT_FALSE(overlay(0).fadeOutDone);
    controller->stop(Transition::fade);
    controller->stop();
    EXPECT_TRUE(factory.live().empty());
}

TEST_F(Lifecycle, settingsReadersApplyTheirDefaultsAndTheStrengthClamp) {
    using V = DefaultsValue;
    using S = std::string;
    using List = std::vector<S>;
    auto& c = make();
    // Each of the stored values (nullopt: none) reads as `expected`.
    const auto reads = [&](std::string_view key, auto read, auto expected,
                           std::vector<std::optional<V>> values) {
        for (const auto& value : values) {
            if (value)
                defaults.set(key, *value);
            else
                defaults.remove(key);
            EXPECT_EQ(read(), expected) << key << " from type " << value.value_or(V()).index();
        }
    };
    const auto strength = [&] { return c.strength(); };
    const double inf = std::numeric_limits<double>::infinity();
    reads(keys::kDimStrength, strength, 0.5, {std::nullopt, V(S("0.8")), true, std::nan("")});
    reads(keys::kDimStrength, strength, 0.1, {0.05, 0.1, V(std::int64_t{-3}), -inf});
    reads(keys::kDimStrength, strength, 1.0, {1.0, 1.5, V(std::int64_t{1}), inf});
    reads(keys::kDimStrength, strength, 0.75, {0.75});
    const auto style = [&] { return c.style(); };
    reads(keys::kDimStyle, style, Style::wallpaper, {V(S("wallpaper"))});
    reads(keys::kDimStyle, style, Style::black,
          {std::nullopt, V(S("Wallpaper")), V(S("")), V(std::int64_t{1})});
    // Any number, and the usual words for yes and no in any case, convert; other text does not.
    const auto enabled = [&] { return c.isEnabled(); };
    reads(keys::kDimEnabled, enabled, false,
          {false, V(std::int64_t{0}), 0.0, V(S("no")), V(S("OFF")), V(S("False"))});
    reads(keys::kDimEnabled, enabled, true,
          {std::nullopt, V(std::int64_t{-2}), 0.5, V(S("Yes")), V(S("on")), V(S("false # x")),
           V(S(""))});
    const auto fade = [&] { return c.fadeOnToggle(); };
    reads(keys::kFadeOnToggle, fade, false, {std::nullopt, V(S("true"))});
    reads(keys::kFadeOnToggle, fade, true, {true});
    const auto undimmed = [&] { return c.undimmedDisplays(); };
    reads(keys::kUndimmedDisplays, undimmed, List{}, {std::nullopt});
    reads(keys::kUndimmedDisplays, undimmed, List{"HDMI-1"}, {V(S("HDMI-1"))});
    reads(keys::kUndimmedDisplays, undimmed, List{"DP-2"}, {V(List{"", "DP-2"})});
    reads(keys::kExcludedWindowClasses, [&] { return c.excludedWindowClasses(); }, List{}, {0.5});
}

}  // namespace
}  // namespace sombrix::fakes

// The built sombrix when its surroundings fail: no window manager at launch, the manager killed,
// replaced and started again, the X server gone, a settings file that is garbage, a settings
// folder that cannot exist. Each case ends with the arrangement right again, or with a clean,
// explained exit.
#include <signal.h>

#include <cmath>
#include <random>

#include "sombrix_fixture.h"

namespace sombrix::test {
namespace {

constexpr auto kDeadline = std::chrono::seconds(15);

class Recovery : public OnTwoMonitors {
protected:
    // Three windows over two monitors, the first one focused.
    void someWork() {
        const xcb_window_t a = window("recovery-a", 60, 100);
        ASSERT_TRUE(a && window("recovery-b", 300, 300) && window("recovery-c", 1000, 200));
        activate(a);
    }
};

class RecoveryWithoutManager : public Recovery {
protected:
    RecoveryWithoutManager() { options.windowManager.command.clear(); }
};

// Without a manager focus cannot be known: the settings window asks for it and nothing is
// dimmed; the permission poll starts the engine once a manager runs, stops it when the manager
// dies and starts it again when one comes back.
TEST_F(RecoveryWithoutManager, TheEngineRunsOnlyWhileAManagerDoes) {
    auto& sombrix = launch({}, false);
    EXPECT_TRUE(waitUntil([&] { return settingsWindowVisible(); }, kDeadline));
    EXPECT_TRUE(mappedOverlays(connection()).empty());

    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(session().startWindowManager()) << session().error();
        if (round == 0)
            someWork();
        EXPECT_TRUE(overlaysShown(2));
        expectArranged("with a manager");

        ASSERT_EQ(::kill(session().windowManagerPid(), SIGKILL), 0);
        EXPECT_TRUE(overlaysShown(0));
        ASSERT_TRUE(sombrix.running()) << sombrix.howItEnded() << " " << sombrix.stderrText();
    }
    EXPECT_TRUE(sombrix.terminate());
    EXPECT_TRUE(sombrix.exitedCleanly()) << sombrix.howItEnded();
}

TEST_F(Recovery, ReplacingTheWindowManagerWhileDimming) {
    someWork();
    auto& sombrix = launch();
    expectArranged("before the replacement");

    const auto oldManager = managerWindow(connection());
    ASSERT_TRUE(oldManager);
    ASSERT_GT(session().spawn({"openbox", "--sm-disable", "--replace"}), 0);
    // Right again: the new manager has taken over (it names its own check window) and the
    // overlays are where the rules want them. While the old manager goes, focus cannot be
    // trusted and the engine stops; the new manager's check window starts it again.
    EXPECT_TRUE(waitUntil(
        [&] {
            const auto manager = managerWindow(connection());
            const auto state = readArrangement(connection());
            return manager && manager != oldManager && state && violations(*state).empty();
        },
        kDeadline));
    expectArranged("after openbox --replace");
    EXPECT_TRUE(sombrix.running()) << sombrix.howItEnded() << " " << sombrix.stderrText();
}

TEST_F(Recovery, LosingTheXServerEndsSombrixWithAMessageAndLeavesSettingsAlone) {
    const std::string settings = "dimStrength=0.7\n";
    writeSettings(settings);
    someWork();
    auto& sombrix = launch();

    ASSERT_EQ(::kill(session().serverPid(), SIGKILL), 0);
    ASSERT_TRUE(sombrix.waitForExit(10000)) << "sombrix outlived its X server";
    EXPECT_EQ(sombrix.howItEnded(), "exit status 2");
    // Our own words, also when Qt noticed first and began to exit on its own.
    const std::string err = sombrix.stderrText();
    EXPECT_NE(err.find("sombrix: lost the connection to the X server"), std::string::npos)
        << "stderr: " << err;
    EXPECT_EQ(settingsText(), "[General]\n" + settings);
}

// A settings file that is garbage must neither stop sombrix nor be replaced by it: the user may
// still want what is in it. A folder that cannot exist must not stop it either.
TEST_F(Recovery, GarbageSettingsGiveDefaultsAndAreKeptAndNoPlaceForThemIsNoObstacle) {
    someWork();
    std::mt19937 random(1234);
    std::string garbage(4096, '\0');
    for (char& ch : garbage)
        ch = static_cast<char>(random() & 0xff);
    ASSERT_TRUE(writeFile(settingsFile(), garbage));
    auto& sombrix = launch();
    EXPECT_TRUE(waitUntil([&] {
        const auto overlays = mappedOverlays(connection());
        return !overlays.empty() && std::abs(opacity(connection(), overlays[0]) - 0.5) < 0.01;
    }));
    expectArranged("with a garbled settings file");
    EXPECT_TRUE(sombrix.terminate());
    EXPECT_TRUE(sombrix.exitedCleanly()) << sombrix.howItEnded() << sombrix.stderrText();
    EXPECT_TRUE(readFile(settingsFile()) == garbage) << "the settings file was rewritten";

    // Tests run as root in CI, so permissions prove nothing: a regular file where a folder
    // should be stops everyone.
    ASSERT_TRUE(writeFile(home + "/not-a-folder", "x"));
    auto& homeless = launch({"XDG_CONFIG_HOME=" + home + "/not-a-folder/config"});
    expectArranged("with no place for settings");
    EXPECT_TRUE(homeless.terminate());
    EXPECT_TRUE(homeless.exitedCleanly()) << homeless.howItEnded() << homeless.stderrText();
}

}  // namespace
}  // namespace sombrix::test

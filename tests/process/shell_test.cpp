// The built sombrix seen from outside as a user sees it: the tray menu switching the dim off and
// on and quitting, later launches passing their command line to the first, hand edits of the
// settings file followed, the German texts under a German locale, and no overlay left on screen
// after SIGTERM or Quit.
#include <signal.h>

#include <cmath>
#include <sstream>

#include "sombrix_fixture.h"

namespace sombrix::test {
namespace {

constexpr auto kDeadline = std::chrono::seconds(20);

using Shell = SombrixTest;

TEST_F(Shell, LaterLaunchesPassTheirRequestToTheFirstAndSayTheOutcome) {
    std::string out;
    // Nothing runs: --quit has nothing to do and says so.
    EXPECT_EQ(session().run({SOMBRIX_BINARY, "--quit"}, &out, kDeadline), 3);
    EXPECT_NE(out.find("not running"), std::string::npos) << out;
    activate(window("work", 100, 100));
    auto& first = launch();
    EXPECT_FALSE(settingsWindowVisible());

    // A bare second launch hands over and ends; the first opens its settings window.
    EXPECT_EQ(session().run({SOMBRIX_BINARY}, nullptr, kDeadline), 0);
    EXPECT_TRUE(waitUntil([&] { return settingsWindowVisible(); }, kDeadline));

    // Actions switch the first's dim and keep the choice; a wrong command line changes nothing.
    EXPECT_EQ(session().run({SOMBRIX_BINARY, "--disable"}, &out, kDeadline), 0);
    EXPECT_NE(out.find("Dimming is off."), std::string::npos) << out;
    EXPECT_TRUE(overlaysShown(0));
    EXPECT_NE(settingsText().find("dimEnabled=false"), std::string::npos) << settingsText();
    EXPECT_EQ(session().run({SOMBRIX_BINARY, "--toggle", "--enable"}, &out, kDeadline), 64);
    EXPECT_EQ(session().run({SOMBRIX_BINARY, "--toggle"}, &out, kDeadline), 0);
    EXPECT_TRUE(overlaysShown(1));
    EXPECT_TRUE(first.running()) << "the first instance must keep running";

    // Hand edits of the settings file are followed while it runs: off, on again at another
    // strength, then a new strength while dimming.
    const auto veilIs = [&](double strength) {
        return waitUntil(
            [&] {
                const auto shown = mappedOverlays(connection());
                return shown.size() == 1 &&
                       std::abs(opacity(connection(), shown[0]) - strength) < 0.01;
            },
            kDeadline);
    };
    writeSettings("dimEnabled=no\n");
    EXPECT_TRUE(waitUntil([&] { return mappedOverlays(connection()).empty(); }, kDeadline));
    writeSettings("dimStrength=0.8\n");
    EXPECT_TRUE(veilIs(0.8));
    writeSettings("dimStrength=0.3\n");
    EXPECT_TRUE(veilIs(0.3));

    // --quit returns once the first has ended, the overlays gone first.
    EXPECT_EQ(session().run({SOMBRIX_BINARY, "--quit"}, &out, kDeadline), 0);
    EXPECT_TRUE(first.waitForExit());
    EXPECT_TRUE(first.exitedCleanly()) << first.howItEnded();
    EXPECT_TRUE(mappedOverlays(connection()).empty());

    // An instance killed outright does not block the next launch, which starts with the state it
    // was asked for; SIGTERM ends it as cleanly as Quit.
    launch().terminate(SIGKILL);
    auto& next = launch();
    EXPECT_TRUE(next.terminate());
    EXPECT_TRUE(next.exitedCleanly()) << next.howItEnded();
    session().spawn({SOMBRIX_BINARY, "--disable"});
    EXPECT_TRUE(settingsSay("dimEnabled=false")) << settingsText();
    EXPECT_EQ(session().run({SOMBRIX_BINARY, "--quit"}, &out, kDeadline), 0) << out;
}

TEST_F(Shell, GermanLocaleGivesTheGermanMenuAndWindowAndTheLogTellsEachDecision) {
    activate(window("work", 100, 100));
    auto& sombrix = launch({"LANG=de_DE.UTF-8", "LANGUAGE", "LC_ALL", "LC_MESSAGES",
                            "QT_LOGGING_RULES=sombrix.*.debug=true"});
    // The menu as it was built, in the log of the tray item.
    EXPECT_TRUE(waitUntil(
        [&] {
            return sombrix.stderrText().find(
                       "Hintergrundfenster abdunkeln (on) | "
                       "Einstellungen\u2026 | Sombrix beenden") != std::string::npos;
        },
        kDeadline))
        << sombrix.stderrText();
    EXPECT_EQ(session().run({SOMBRIX_BINARY, "--settings"}, nullptr, kDeadline), 0);
    EXPECT_TRUE(waitUntil(
        [&] {
            return session().run({"xdotool", "search", "--onlyvisible", "--name",
                                  "^Sombrix-Einstellungen$"}) == 0;
        },
        kDeadline));
    // The engine said which window stays bright and what it did, and the overlay its restack.
    const std::string log = sombrix.stderrText();
    EXPECT_NE(log.find("sombrix.engine: display 1280x800+0+0: bright"), std::string::npos) << log;
    EXPECT_NE(log.find("sombrix.overlay: overlay 0x"), std::string::npos) << log;
}

// The tray menu driven like a user: a click on the icon in a real tray host, then the keyboard.
class Tray : public SombrixTest {
protected:
    void SetUp() override {
        if (!programInstalled("tint2"))
            GTEST_SKIP() << "tint2 (the tray host) is not installed";
        SombrixTest::SetUp();
    }

    // The tray host along the bottom edge.
    pid_t startTray() {
        const std::string config = home + "/tint2rc";
        writeFile(config,
                  "panel_items = S\npanel_position = bottom center horizontal\n"
                  "panel_size = 100% 30\nsystray_icon_size = 22\n");
        return session().spawn({"tint2", "-c", config});
    }

    // Sombrix's window docked in the tray (small, viewable), 0 until there is one.
    xcb_window_t trayIcon() {
        std::string output;
        if (session().run({"xdotool", "search", "--classname", "^sombrix$"}, &output) != 0)
            return 0;
        std::istringstream ids(output);
        for (unsigned long id = 0; ids >> id;) {
            const auto w = static_cast<xcb_window_t>(id);
            const auto g = client().rootGeometry(w);
            if (client().isViewable(w) && g && (*g)[2] <= 48 && (*g)[3] <= 48 && (*g)[1] >= 752)
                return w;
        }
        return 0;
    }

    // Viewable unmanaged windows that are not monitor-sized: an open menu.
    bool menuOpen() {
        for (xcb_window_t w : client().rootChildren()) {
            const auto g = client().rootGeometry(w);
            if (client().isViewable(w) && client().isOverrideRedirect(w) && g && (*g)[2] > 60 &&
                (*g)[2] < 1280 && (*g)[3] > 40)
                return true;
        }
        return false;
    }

    // Opens the menu with a click and chooses an item with the keyboard.
    void choose(xcb_window_t icon, const std::string& key) {
        ASSERT_EQ(session().run({"xdotool", "mousemove", "--window", std::to_string(icon), "10",
                                 "10", "click", "1"}),
                  0);
        ASSERT_TRUE(waitUntil([&] { return menuOpen(); }, kDeadline));
        ASSERT_EQ(session().run({"xdotool", "key", key, "Return"}), 0);
        ASSERT_TRUE(waitUntil([&] { return !menuOpen(); }, kDeadline));
    }
};

TEST_F(Tray, TheMenuOfATrayThatCameLateSwitchesTheDimAndQuitsWithoutLeavingAnOverlay) {
    // No tray at launch; one appears, goes away and comes back.
    activate(window("work", 100, 100));
    auto& sombrix = launch();
    const pid_t tray = startTray();
    EXPECT_TRUE(waitUntil([&] { return trayIcon() != 0; }, kDeadline));
    session().kill(tray);
    EXPECT_TRUE(waitUntil([&] { return trayIcon() == 0; }, kDeadline));
    ASSERT_GT(startTray(), 0);
    xcb_window_t icon = 0;
    ASSERT_TRUE(waitUntil([&] { return (icon = trayIcon()) != 0; }, kDeadline));

    // The first item is "Dim Background Windows" when the window manager runs.
    choose(icon, "Down");
    EXPECT_TRUE(overlaysShown(0));
    EXPECT_TRUE(settingsSay("dimEnabled=false")) << settingsText();
    choose(icon, "Down");
    EXPECT_TRUE(overlaysShown(1));
    EXPECT_TRUE(settingsSay("dimEnabled=true")) << settingsText();

    // "Quit Sombrix" is the last item: Up wraps around to it.
    choose(icon, "Up");
    EXPECT_TRUE(sombrix.waitForExit());
    EXPECT_TRUE(sombrix.exitedCleanly()) << sombrix.howItEnded();
    EXPECT_TRUE(mappedOverlays(connection()).empty());
}

}  // namespace
}  // namespace sombrix::test

// The built sombrix program on a private X session, seen from outside as a user sees it: the
// settings window at a launch without a window manager, the engine starting once one runs, the
// tray menu switching the dim off and on and quitting, a second launch opening the settings of
// the first, and no overlay left on screen after SIGTERM or Quit.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "test_client.h"
#include "xsession.h"

namespace sombrix::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kDeadline = 20s;

// A fresh settings folder and runtime folder for one test, so that nothing of the user's (or of
// another test's) is read or written.
class PrivateHome {
public:
    PrivateHome() {
        char pattern[] = "/tmp/sombrix-e2e-XXXXXX";
        root_ = ::mkdtemp(pattern);
        fs::create_directories(config());
        fs::create_directories(runtime());
        ::chmod(runtime().c_str(), 0700);
        ::setenv("XDG_CONFIG_HOME", config().c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", runtime().c_str(), 1);
        // The tray goes through XEmbed: no session bus, no StatusNotifierItem.
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
        ::unsetenv("WAYLAND_DISPLAY");
        ::unsetenv("QT_QPA_PLATFORM");
    }
    ~PrivateHome() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    fs::path config() const { return root_ / "config"; }
    fs::path runtime() const { return root_ / "runtime"; }
    fs::path settingsFile() const { return config() / "Sombrix" / "Sombrix.conf"; }

    std::string settingsText() const {
        std::ifstream in(settingsFile());
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    fs::path root_;
};

class ShellE2E : public ::testing::Test {
protected:
    // Starts the program in the session; its own process group, so it can be signalled alone.
    pid_t launch(XSession& session) {
        const pid_t pid = session.spawn({SOMBRIX_BINARY});
        EXPECT_GT(pid, 0);
        return pid;
    }

    // Sends `signal` and waits for the process to end; its wait status, or -1 when it did not.
    static int stop(pid_t pid, int signal) {
        ::kill(pid, signal);
        return waitForExit(pid);
    }

    static int waitForExit(pid_t pid) {
        int status = -1;
        const bool ended = waitUntil(
            [&] {
                const pid_t result = ::waitpid(pid, &status, WNOHANG);
                return result == pid || (result < 0 && errno == ECHILD);
            },
            kDeadline);
        return ended ? status : -1;
    }

    static bool exitedCleanly(int status) {
        return status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    // Mapped unmanaged windows that cover a whole monitor: the overlays.
    static int visibleOverlays(TestClient& client, int monitorWidth, int monitorHeight) {
        int count = 0;
        for (xcb_window_t w : client.rootChildren()) {
            if (!client.isViewable(w) || !client.isOverrideRedirect(w)) {
                continue;
            }
            const auto geometry = client.rootGeometry(w);
            if (geometry && (*geometry)[2] == monitorWidth && (*geometry)[3] == monitorHeight) {
                ++count;
            }
        }
        return count;
    }

    static bool settingsWindowVisible(XSession& session) {
        std::string output;
        return session.run({"xdotool", "search", "--onlyvisible", "--name", "^Sombrix Settings$"},
                           &output) == 0 &&
               !output.empty();
    }

    PrivateHome home;
};

TEST_F(ShellE2E, WithoutWindowManagerItWarnsAndStartsOnceOneRuns) {
    XSessionOptions options;
    options.windowManager = false;
    options.twoMonitors = true;
    SOMBRIX_XSESSION_OR_SKIP(session, options);
    TestClient client(session.display());
    ASSERT_TRUE(client.ok());

    const pid_t sombrix = launch(session);
    // The permission is missing: the settings window opens at launch and nothing is dimmed.
    ASSERT_TRUE(waitUntil([&] { return settingsWindowVisible(session); }, kDeadline));
    EXPECT_EQ(visibleOverlays(client, 800, 900), 0);

    // The poll notices the window manager and the engine starts by itself.
    ASSERT_TRUE(session.startWindowManager()) << session.error();
    const xcb_window_t work = client.createWindow({.title = "work"});
    ASSERT_NE(work, 0u);
    client.activate(work);
    EXPECT_TRUE(waitUntil([&] { return visibleOverlays(client, 800, 900) == 2; }, kDeadline));

    EXPECT_TRUE(exitedCleanly(stop(sombrix, SIGTERM)));
    EXPECT_EQ(visibleOverlays(client, 800, 900), 0);
}

TEST_F(ShellE2E, SecondLaunchOpensTheSettingsWindowOfTheFirst) {
    XSessionOptions options;
    SOMBRIX_XSESSION_OR_SKIP(session, options);
    TestClient client(session.display());
    ASSERT_TRUE(client.ok());
    const xcb_window_t work = client.createWindow();
    client.activate(work);

    const pid_t first = launch(session);
    ASSERT_TRUE(waitUntil([&] { return visibleOverlays(client, 1280, 800) == 1; }, kDeadline));
    EXPECT_FALSE(settingsWindowVisible(session));

    // The second launch hands over and ends; the first opens its settings window.
    EXPECT_EQ(session.run({SOMBRIX_BINARY}, nullptr, kDeadline), 0);
    EXPECT_TRUE(waitUntil([&] { return settingsWindowVisible(session); }, kDeadline));
    EXPECT_EQ(::kill(first, 0), 0) << "the first instance must keep running";

    // SIGTERM takes the same way out as Quit: the overlays go first, the exit is clean.
    EXPECT_TRUE(exitedCleanly(stop(first, SIGTERM)));
    EXPECT_EQ(visibleOverlays(client, 1280, 800), 0);

    // A socket left by an instance that did not end cleanly does not block the next launch.
    const pid_t crashed = launch(session);
    ASSERT_TRUE(waitUntil([&] { return visibleOverlays(client, 1280, 800) == 1; }, kDeadline));
    stop(crashed, SIGKILL);
    const pid_t next = launch(session);
    EXPECT_TRUE(waitUntil([&] { return visibleOverlays(client, 1280, 800) == 1; }, kDeadline));
    EXPECT_TRUE(exitedCleanly(stop(next, SIGTERM)));
}

// The tray menu driven like a user: a click on the icon in a real tray host, then the keyboard.
class TrayE2E : public ShellE2E {
protected:
    void SetUp() override {
        if (!programInstalled("tint2")) {
            GTEST_SKIP() << "tint2 (the tray host) is not installed";
        }
    }

    // The tray host along the bottom edge; its pid, or -1 when it could not be started.
    static pid_t startTray(XSession& session, const fs::path& folder) {
        const fs::path config = folder / "tint2rc";
        std::ofstream(config) << "panel_items = S\n"
                                 "panel_position = bottom center horizontal\n"
                                 "panel_size = 100% 30\n"
                                 "systray_icon_size = 22\n";
        return session.spawn({"tint2", "-c", config.string()});
    }

    // Sombrix's window docked in the tray (small, viewable), 0 until there is one.
    static xcb_window_t trayIcon(XSession& session, TestClient& client) {
        std::string output;
        if (session.run({"xdotool", "search", "--classname", "^sombrix$"}, &output) != 0) {
            return 0;
        }
        std::istringstream ids(output);
        for (unsigned long id = 0; ids >> id;) {
            const auto w = static_cast<xcb_window_t>(id);
            const auto geometry = client.rootGeometry(w);
            if (client.isViewable(w) && geometry && (*geometry)[2] <= 48 && (*geometry)[3] <= 48 &&
                (*geometry)[1] >= 800 - 48) {
                return w;
            }
        }
        return 0;
    }

    // Viewable unmanaged windows that are not monitor-sized: an open menu.
    static bool menuOpen(TestClient& client) {
        for (xcb_window_t w : client.rootChildren()) {
            const auto geometry = client.rootGeometry(w);
            if (client.isViewable(w) && client.isOverrideRedirect(w) && geometry &&
                (*geometry)[2] > 60 && (*geometry)[2] < 1280 && (*geometry)[3] > 40) {
                return true;
            }
        }
        return false;
    }

    // Opens the menu with a click and chooses an item with the keyboard.
    static void choose(XSession& session, TestClient& client, xcb_window_t icon,
                       const std::string& key) {
        ASSERT_EQ(session.run({"xdotool", "mousemove", "--window", std::to_string(icon), "10", "10",
                               "click", "1"}),
                  0);
        ASSERT_TRUE(waitUntil([&] { return menuOpen(client); }, kDeadline));
        ASSERT_EQ(session.run({"xdotool", "key", key, "Return"}), 0);
        ASSERT_TRUE(waitUntil([&] { return !menuOpen(client); }, kDeadline));
    }
};

TEST_F(TrayE2E, MenuSwitchesTheDimOffAndOnAndQuitsWithoutLeavingAnOverlay) {
    XSessionOptions options;
    SOMBRIX_XSESSION_OR_SKIP(session, options);
    TestClient client(session.display());
    ASSERT_TRUE(client.ok());
    ASSERT_GT(startTray(session, home.config()), 0);
    const xcb_window_t work = client.createWindow();
    client.activate(work);

    const pid_t sombrix = launch(session);
    ASSERT_TRUE(waitUntil([&] { return visibleOverlays(client, 1280, 800) == 1; }, kDeadline));
    xcb_window_t icon = 0;
    ASSERT_TRUE(waitUntil([&] { return (icon = trayIcon(session, client)) != 0; }, kDeadline));

    // The first item is "Dim Background Windows" when the window manager runs.
    choose(session, client, icon, "Down");
    EXPECT_TRUE(waitUntil([&] { return visibleOverlays(client, 1280, 800) == 0; }, kDeadline));
    EXPECT_TRUE(
        waitUntil([&] { return home.settingsText().find("dimEnabled=false") != std::string::npos; },
                  kDeadline))
        << home.settingsText();

    choose(session, client, icon, "Down");
    EXPECT_TRUE(waitUntil([&] { return visibleOverlays(client, 1280, 800) == 1; }, kDeadline));
    EXPECT_TRUE(
        waitUntil([&] { return home.settingsText().find("dimEnabled=true") != std::string::npos; },
                  kDeadline))
        << home.settingsText();

    // "Quit Sombrix" is the last item: Up wraps around to it.
    choose(session, client, icon, "Up");
    EXPECT_TRUE(exitedCleanly(waitForExit(sombrix)));
    EXPECT_EQ(visibleOverlays(client, 1280, 800), 0);
}

TEST_F(TrayE2E, TrayHostComingAndGoingLeavesTheApplicationRunning) {
    XSessionOptions options;
    SOMBRIX_XSESSION_OR_SKIP(session, options);
    TestClient client(session.display());
    ASSERT_TRUE(client.ok());

    // No tray at launch; one appears, goes away and comes back.
    const pid_t sombrix = launch(session);
    ASSERT_TRUE(waitUntil([&] { return visibleOverlays(client, 1280, 800) == 1; }, kDeadline));
    pid_t tray = startTray(session, home.config());
    xcb_window_t icon = 0;
    EXPECT_TRUE(waitUntil([&] { return (icon = trayIcon(session, client)) != 0; }, kDeadline));
    session.kill(tray);
    EXPECT_TRUE(waitUntil([&] { return trayIcon(session, client) == 0; }, kDeadline));
    tray = startTray(session, home.config());
    EXPECT_TRUE(waitUntil([&] { return trayIcon(session, client) != 0; }, kDeadline));

    EXPECT_EQ(::kill(sombrix, 0), 0) << "sombrix died while the tray host changed";
    EXPECT_TRUE(exitedCleanly(stop(sombrix, SIGTERM)));
}

}  // namespace
}  // namespace sombrix::test

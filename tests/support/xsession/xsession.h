// A private X session for X11 and process-level tests: its own Xvfb on a display number the
// server picks itself, a window manager (openbox unless told otherwise), optionally picom, virtual
// monitors and a resource DPI; every process it started is torn down (whole process groups) when
// the session object goes away.
//
//   XSessionOptions o;                  // 1280x800, openbox, one monitor
//   o.monitors = twoMonitors();         // LEFT and RIGHT, 800x900 each, side by side
//   o.windowManager = {.command = {"xfwm4"}, .environment = {"XDG_CURRENT_DESKTOP=XFCE"},
//                      .privateBus = true};   // or {.command = {}} for none
//   o.compositor = true;  o.dpi = 144;
//   SOMBRIX_XSESSION_OR_SKIP(session, o);      // skips when a program is missing
//   session.spawn({...}); session.run({...}, &output); session.environment.push_back("K=v");
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sombrix::test {

struct WindowManager {
    // Empty: no window manager. Plain "openbox" runs with the tests' own configuration (new
    // windows take focus, focus does not follow the mouse, two desktops); plain "i3" with a
    // minimal one (no bar, focus does not follow the mouse).
    std::vector<std::string> command{"openbox"};
    // "NAME=value" entries added to its environment.
    std::vector<std::string> environment{};
    // A D-Bus session bus of its own, which everything the session starts then shares.
    bool privateBus = false;
};

struct Monitor {
    std::string name;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

struct XSessionOptions {
    int width = 1280;  // grown to hold every monitor
    int height = 800;
    bool composite = false;  // start Xvfb with +extension Composite
    WindowManager windowManager{};
    bool compositor = false;          // picom as a plain compositor (implies composite)
    std::vector<Monitor> monitors{};  // xrandr monitors; none: the screen is one monitor
    std::optional<int> dpi{};         // Xft.dpi in the server's resources, set before the manager
};

// LEFT and RIGHT monitors of 800x900 each on a 1600x900 screen.
std::vector<Monitor> twoMonitors();

// Polls `predicate` until it holds or `timeout` has passed; returns whether it held. Tests wait
// for conditions with it instead of sleeping for a fixed time.
bool waitUntil(const std::function<bool()>& predicate,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

bool programInstalled(const std::string& name);
std::string readFile(const std::string& path);
// Written aside and renamed into place, so a reader never sees half of it.
bool writeFile(const std::string& path, const std::string& contents);

class XSession {
public:
    explicit XSession(XSessionOptions options = {});
    ~XSession();
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    // True when every requested part started; otherwise error() says what failed.
    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    // Missing programs made the session impossible (the test should skip, not fail).
    bool unavailable() const { return unavailable_; }
    const std::string& display() const { return display_; }  // e.g. ":7"

    // "NAME=value" entries (or a bare "NAME" to remove one) for everything started from now on.
    std::vector<std::string> environment;
    // Starts a program in its own process group, killed with the session; its pid or -1.
    // `extra` entries apply to this program only; `output` names a file for what it prints.
    pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extra = {},
                const std::string& output = {});
    // Runs a program to completion; its exit status, or -1 when it could not run or did not
    // finish in time. `output` receives its standard output when given.
    int run(const std::vector<std::string>& argv, std::string* output = nullptr,
            std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // Ends one spawned program (its whole process group) and reaps it.
    void kill(pid_t pid);
    // The pid of the window manager, the server or the compositor as started here.
    pid_t windowManagerPid() const { return windowManagerPid_; }
    pid_t serverPid() const { return children_.empty() ? -1 : children_.front(); }
    pid_t compositorPid() const { return compositorPid_; }

    // The parts after the server; public so that a test can start them later.
    bool startWindowManager();
    bool startCompositor();
    bool setMonitor(const Monitor& monitor, bool first = false);
    void removeMonitor(const std::string& name);

private:
    bool startServer();
    bool startBus();
    // Keeps the first error; false, for `return fail(...)`.
    bool fail(std::string message);

    XSessionOptions options_;
    std::string display_;
    std::string error_;
    bool unavailable_ = false;
    std::vector<pid_t> children_;
    pid_t windowManagerPid_ = -1;
    std::string dir_;  // the manager's configuration, the bus socket, the resources
    pid_t compositorPid_ = -1;
};

}  // namespace sombrix::test

// Declares `name` as a started XSession with `opts`, or skips the current gtest when the needed
// programs are not installed; fails the test when they are installed but did not start.
#define SOMBRIX_XSESSION_OR_SKIP(name, opts) \
    ::sombrix::test::XSession name{opts};    \
    if (name.unavailable()) {                \
        GTEST_SKIP() << name.error();        \
    }                                        \
    ASSERT_TRUE(name.ok()) << name.error()

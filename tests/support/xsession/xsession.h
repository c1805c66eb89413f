// A private X session for X11 and end-to-end tests: its own Xvfb on a display number the server
// picks itself, optionally with openbox, picom and two virtual monitors, all torn down (whole
// process groups) when the session object goes away.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sombrix::test {

struct XSessionOptions {
    int width = 1280;
    int height = 800;
    bool composite = false;     // start Xvfb with +extension Composite
    bool windowManager = true;  // openbox
    bool compositor = false;    // picom, a plain compositor (needs composite)
    bool twoMonitors = false;   // LEFT and RIGHT monitors of 800x900 each on a 1600x900 screen
};

// Whether `name` is an executable on PATH.
bool programInstalled(const std::string& name);

// Polls `predicate` until it holds or `timeout` has passed; returns whether it held. Tests wait
// for conditions with it instead of sleeping for a fixed time.
bool waitUntil(const std::function<bool()>& predicate,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

class XSession {
public:
    explicit XSession(XSessionOptions options = {});
    ~XSession();
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    // The programs a session with these options needs that are not installed, empty when all
    // are there. Tests skip when something is missing instead of failing.
    static std::vector<std::string> missingPrograms(const XSessionOptions& options);

    // True when every requested part started; otherwise error() says what failed.
    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    // Missing programs made the session impossible (the test should skip, not fail).
    bool unavailable() const { return unavailable_; }

    // The DISPLAY value, e.g. ":7".
    const std::string& display() const { return display_; }

    // Starts a program in the session (its own process group, killed with the session);
    // returns its pid or -1.
    pid_t spawn(const std::vector<std::string>& argv);
    // Runs a program in the session to completion; its exit status, or -1 when it could not be
    // run or did not finish in time. `output` receives its standard output when given.
    int run(const std::vector<std::string>& argv, std::string* output = nullptr,
            std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // Ends one spawned program (its whole process group) and reaps it.
    void kill(pid_t pid);

    // Starts the parts after the server; exposed so a test can add them later.
    bool startWindowManager();
    bool startCompositor();
    bool addTwoMonitors();
    void removeRightMonitor();

private:
    bool startServer();
    void fail(std::string message);

    XSessionOptions options_;
    std::string display_;
    std::string error_;
    bool unavailable_ = false;
    std::vector<pid_t> children_;
    std::string configDir_;
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

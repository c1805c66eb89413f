// One fixture for every test that runs the built sombrix: a private X session (Xvfb, a window
// manager, optionally picom and virtual monitors), a client connection for real windows, private
// settings and runtime folders, the sombrix process itself, and the questions such tests ask.
//
//   class MyTest : public SombrixTest {
//       MyTest() { options.monitors = twoMonitors(); options.compositor = true; }
//   };
//   TEST_F(MyTest, ...) {                      // SetUp started the session, or skipped the test
//       writeSettings("dimStrength=0.5\n");    // [General] of the private settings file
//       const xcb_window_t w = window("work", 50, 100);   // managed and viewable
//       activate(w);                           // and waits until it is the active window
//       SombrixProcess& s = launch();          // waits for an overlay on every monitor
//       EXPECT_TRUE(waitUntil([&] { return directlyBeneath(overlayAt(0), w); }));
//       expectArranged("after start");         // settles, then judges every monitor
//       EXPECT_TRUE(s.terminate());
//   }
//
// session(), client() and home give the parts; otherProcessWindow() makes an xlogo window;
// launch(extra, false) starts without waiting; mappedOverlays(client().connection()) counts.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>
#include <xcb/xcb.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "arrangement_invariants.h"
#include "test_client.h"
#include "xsession.h"

namespace sombrix::test {

// The sombrix binary started in a session (which ends it with the rest) with its standard error
// kept in a file.
class SombrixProcess {
public:
    SombrixProcess(XSession& session, std::string stderrFile, std::vector<std::string> env);

    pid_t pid() const { return pid_; }
    // Reaps the process when it has ended; false once it has.
    bool running();
    // Waits up to `timeoutMs` for it to end on its own; true when it did.
    bool waitForExit(int timeoutMs = 20000) {
        waitUntil([&] { return !running(); }, std::chrono::milliseconds(timeoutMs));
        return status_.has_value();
    }
    // Sends `signal` (SIGTERM by default) and waits; true when it ended in time.
    bool terminate(int signal = 15, int timeoutMs = 20000);
    bool exitedCleanly() const { return howItEnded() == "exit status 0"; }
    // "exit status 2", "killed by signal 11 (Segmentation fault)", "still running".
    std::string howItEnded() const;
    std::string stderrText() const { return readFile(stderrFile_); }

private:
    std::string stderrFile_;
    pid_t pid_ = -1;
    std::optional<int> status_;
};

class SombrixTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    XSession& session() { return *session_; }
    TestClient& client() { return *client_; }
    xcb_connection_t* connection() { return client_->connection(); }

    void writeSettings(const std::string& general) {
        ASSERT_TRUE(writeFile(settingsFile(), "[General]\n" + general));
    }
    std::string settingsText() const { return readFile(settingsFile()); }
    // Waits until the settings file holds `text`.
    bool settingsSay(const std::string& text);
    std::string settingsFile() const { return home + "/config/Sombrix/Sombrix.conf"; }

    xcb_window_t window(const std::string& title, int x, int y, std::uint16_t width = 300,
                        std::uint16_t height = 250) {
        return client_->createWindow(
            {.title = title, .x = x, .y = y, .width = width, .height = height});
    }
    // A white window of another process (xlogo drawn in white); 0 when none appeared.
    xcb_window_t otherProcessWindow(const std::string& title, int x, int y);
    void activate(xcb_window_t w);

    // Starts the built program; `extra` environment entries for it alone. Waits until every
    // monitor has its overlay when `waitForOverlays`.
    SombrixProcess& launch(const std::vector<std::string>& extra = {}, bool waitForOverlays = true);

    // Waits until `n` overlays are mapped.
    bool overlaysShown(std::size_t n);
    bool settingsWindowVisible();
    // The overlay that starts at `x` on the root.
    std::optional<xcb_window_t> overlayAt(int x);
    // Whether `overlay` is shown and the root child directly beneath the frame of `client`.
    bool directlyBeneath(std::optional<xcb_window_t> overlay, xcb_window_t client) {
        return overlay && client_->isViewable(*overlay) &&
               client_->isDirectlyBeneath(*overlay, client);
    }
    // Waits for the server to settle, then expects every monitor arranged as the rules say.
    bool expectArranged(const std::string& when);

    XSessionOptions options;
    std::string home;  // config/ and runtime/ inside, private to the test
    std::vector<std::unique_ptr<SombrixProcess>> launched;

private:
    std::unique_ptr<XSession> session_;
    std::unique_ptr<TestClient> client_;
};

// The common desktop: openbox, picom and two monitors side by side.
class OnTwoMonitors : public SombrixTest {
protected:
    OnTwoMonitors() {
        options.monitors = twoMonitors();
        options.compositor = true;
    }
};

}  // namespace sombrix::test

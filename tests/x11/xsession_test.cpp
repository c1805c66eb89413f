// The private X session itself: other tests rely on it starting what was asked, giving real
// managed windows, and leaving nothing behind.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>

#include "test_client.h"
#include "xsession.h"

namespace sombrix::test {
namespace {

TEST(XSession, StartsServerWithManagerAndManagedWindowsThenLeavesNothingBehind) {
    std::string display;
    {
        SOMBRIX_XSESSION_OR_SKIP(session, XSessionOptions{});
        display = session.display();
        TestClient client(session.display());
        ASSERT_TRUE(client.ok());
        xcb_window_t w = client.createWindow({.x = 50, .y = 60});
        ASSERT_NE(w, 0u);
        EXPECT_TRUE(client.isManaged(w));
        auto frame = client.topLevelOf(w);
        ASSERT_TRUE(frame);
        EXPECT_NE(*frame, w) << "openbox reparents managed windows into a frame";
        EXPECT_TRUE(waitUntil([&] { return client.activeWindow() == w; }));

        client.minimize(w);
        EXPECT_TRUE(waitUntil([&] { return client.hasState(w, "_NET_WM_STATE_HIDDEN"); }));
        client.activate(w);
        EXPECT_TRUE(waitUntil([&] { return client.isViewable(w); }));
        client.destroy(w);
        EXPECT_TRUE(waitUntil([&] { return !client.isManaged(w); }));
    }
    xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
    EXPECT_TRUE(xcb_connection_has_error(c)) << "the server outlived its session";
    xcb_disconnect(c);
}

TEST(XSession, TwoVirtualMonitorsSplitTheScreen) {
    XSessionOptions options;
    options.windowManager = false;
    options.twoMonitors = true;
    SOMBRIX_XSESSION_OR_SKIP(session, options);
    std::string out;
    ASSERT_EQ(session.run({"xrandr", "--listmonitors"}, &out), 0);
    EXPECT_NE(out.find("Monitors: 2"), std::string::npos) << out;
    EXPECT_NE(out.find("800/211x900/238+800+0"), std::string::npos) << out;
}

TEST(XSession, CompositorTakesTheCompositingSelection) {
    XSessionOptions options;
    options.compositor = true;
    SOMBRIX_XSESSION_OR_SKIP(session, options);
    TestClient client(session.display());
    EXPECT_TRUE(client.ok());
}

}  // namespace
}  // namespace sombrix::test

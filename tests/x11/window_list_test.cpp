// The window list against what the X server and openbox say: order, layers, owners, bounds,
// visibility, the overlays' place, and restacking below another client's window.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <variant>

#include "platform/x11/x11_context.h"
#include "platform/x11/x11_window_list.h"
#include "test_client.h"
#include "x11_backend.h"
#include "xsession.h"

namespace sombrix::x11 {
namespace {

using namespace test;

std::vector<X11Window> onScreen(X11WindowList& list) {
    std::vector<X11Window> out;
    for (const auto& w : list.windows().value_or(std::vector<X11Window>{})) {
        if (w.onScreen) {
            out.push_back(w);
        }
    }
    return out;
}

std::vector<xcb_window_t> ids(const std::vector<X11Window>& windows, int layerFilter) {
    std::vector<xcb_window_t> out;
    for (const auto& w : windows) {
        if (w.layer == layerFilter) {
            out.push_back(w.id);
        }
    }
    return out;
}

TEST(X11WindowList, MatchesTheServersStackingLayersOwnersAndFrames) {
    SOMBRIX_XSESSION_OR_SKIP(session, XSessionOptions{});
    TestClient client(session.display());
    Backend backend(session.display());

    xcb_window_t a = client.createWindow({.title = "a", .x = 40, .y = 50});
    xcb_window_t b =
        client.createWindow({.title = "b", .x = 200, .y = 50, .pid = TestWindowSpec::Pid::None});
    xcb_window_t dialog = client.createWindow(
        {.title = "dialog with a toolkit's private type first",
         .x = 200,
         .y = 50,
         .types = {"_KDE_NET_WM_WINDOW_TYPE_OVERRIDE", "_NET_WM_WINDOW_TYPE_DIALOG"},
         .pid = TestWindowSpec::Pid::Garbage});
    xcb_window_t panel = client.createWindow(dockSpec(0, 0, 1280, 30, true));
    xcb_window_t popup = client.createWindow({.x = 60,
                                              .y = 70,
                                              .width = 80,
                                              .height = 120,
                                              .types = {"_NET_WM_WINDOW_TYPE_POPUP_MENU"},
                                              .overrideRedirect = true});
    xcb_window_t minimised = client.createWindow({.title = "minimised"});
    client.minimize(minimised);
    xcb_window_t elsewhere = client.createWindow({.title = "other desktop", .desktop = 1});
    ASSERT_TRUE(a && b && dialog && panel && popup && minimised && elsewhere);
    ASSERT_TRUE(waitUntil([&] { return client.hasState(minimised, "_NET_WM_STATE_HIDDEN"); }));
    ASSERT_TRUE(waitUntil([&] { return !client.isViewable(minimised); }));

    auto windows = onScreen(backend.list);
    // Normal layer, front to back = the manager's stacking list reversed (it holds only the
    // on-screen normal windows here besides the dock).
    std::vector<xcb_window_t> expected;
    auto stacking = client.stackingList();
    for (auto it = stacking.rbegin(); it != stacking.rend(); ++it) {
        if (*it != panel && *it != minimised && *it != elsewhere) {
            expected.push_back(*it);
        }
    }
    EXPECT_EQ(ids(windows, layer::kNormal), expected);
    EXPECT_EQ(ids(windows, layer::kDock), std::vector<xcb_window_t>{panel});
    EXPECT_EQ(ids(windows, layer::kPopup), std::vector<xcb_window_t>{popup});
    EXPECT_EQ(windows.front().id, popup) << "override-redirect windows are above every frame";
    EXPECT_EQ(findWindow(windows, minimised), nullptr);
    EXPECT_EQ(findWindow(windows, elsewhere), nullptr);

    // Owner from the server, whatever _NET_WM_PID says or whether it is there at all.
    for (xcb_window_t w : {a, b, dialog, panel, popup}) {
        ASSERT_NE(findWindow(windows, w), nullptr);
        EXPECT_EQ(findWindow(windows, w)->pid, ::getpid());
    }
    // Bounds are the whole frame, in root coordinates.
    for (xcb_window_t w : {a, b, dialog}) {
        auto frame = client.rootGeometry(*client.topLevelOf(w));
        ASSERT_TRUE(frame);
        Rect expectedBounds{double((*frame)[0]), double((*frame)[1]), double((*frame)[2]),
                            double((*frame)[3])};
        EXPECT_EQ(findWindow(windows, w)->bounds, expectedBounds);
        EXPECT_EQ(backend.list.boundsOf(w), expectedBounds);
        auto inner = client.rootGeometry(w);
        EXPECT_LT((*frame)[1], (*inner)[1]) << "the title bar is part of the bounds";
    }
    EXPECT_EQ(findWindow(windows, popup)->bounds, (Rect{60, 70, 80, 120}));

    // copyWindowInfo hands over the same, as raw entries.
    auto raw = backend.list.copyWindowInfo();
    ASSERT_TRUE(raw);
    ASSERT_EQ(raw->size(), windows.size());
    EXPECT_EQ(std::get<std::int64_t>((*raw)[0].number), popup);
    EXPECT_EQ(std::get<std::int64_t>((*raw)[0].layer), layer::kPopup);

    // Restored and back on the list; closed and gone.
    client.activate(minimised);
    ASSERT_TRUE(
        waitUntil([&] { return findWindow(onScreen(backend.list), minimised) != nullptr; }));
    client.destroy(a);
    ASSERT_TRUE(waitUntil([&] { return findWindow(onScreen(backend.list), a) == nullptr; }));
}

TEST(X11WindowList, OverlayAppearsAtItsTrueStackingPlaceAndOneConfigureRestacksIt) {
    SOMBRIX_XSESSION_OR_SKIP(session, XSessionOptions{});
    TestClient client(session.display());
    Backend backend(session.display());

    xcb_window_t back = client.createWindow({.title = "back"});
    xcb_window_t front = client.createWindow({.title = "front", .x = 300});
    ASSERT_TRUE(back && front);

    // An overlay of the backend's own process: override-redirect, registered.
    xcb_connection_t* own = backend.connection;
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(own)).data;
    xcb_window_t overlay = xcb_generate_id(own);
    const std::uint32_t values[] = {1};
    xcb_create_window(own, XCB_COPY_FROM_PARENT, overlay, screen->root, 0, 0, 1280, 800, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_OVERRIDE_REDIRECT,
                      values);
    backend.context.registerOverlay(overlay);
    xcb_map_window(own, overlay);

    // Directly below "front": one ConfigureWindow with the frame as sibling.
    auto sibling = backend.list.topLevelOf(front);
    ASSERT_TRUE(sibling);
    EXPECT_NE(*sibling, front);
    const std::uint32_t stack[] = {*sibling, XCB_STACK_MODE_BELOW};
    xcb_configure_window(own, overlay, XCB_CONFIG_WINDOW_SIBLING | XCB_CONFIG_WINDOW_STACK_MODE,
                         stack);
    xcb_flush(own);

    std::vector<xcb_window_t> normal;
    ASSERT_TRUE(waitUntil([&] {
        normal = ids(onScreen(backend.list), layer::kNormal);
        return normal.size() == 3;
    }));
    EXPECT_EQ(normal, (std::vector<xcb_window_t>{front, overlay, back}));
    auto all = onScreen(backend.list);
    EXPECT_EQ(findWindow(all, overlay)->pid, ::getpid());
    EXPECT_EQ(findWindow(all, overlay)->bounds, (Rect{0, 0, 1280, 800}));

    // The topmost application window for orderFrontRegardless skips the overlay itself...
    EXPECT_EQ(backend.list.topmostNormalTopLevel(overlay), sibling);
    // ...and stays below a dock even when the dock is the top root child.
    xcb_window_t panel = client.createWindow(dockSpec(0, 770, 1280, 30));
    ASSERT_TRUE(panel);
    bool dockOnTop = waitUntil([&] { return onScreen(backend.list).front().id == panel; });
    ASSERT_TRUE(dockOnTop);
    EXPECT_EQ(backend.list.topmostNormalTopLevel(overlay), sibling);

    // With no application window left, the front of the normal layer is just above a desktop
    // environment's desktop window, so the overlay still covers it.
    EXPECT_EQ(backend.list.topmostDesktopTopLevel(), std::nullopt);
    xcb_window_t desktop = client.createWindow({.title = "desktop",
                                                .width = 1280,
                                                .height = 800,
                                                .types = {"_NET_WM_WINDOW_TYPE_DESKTOP"}});
    ASSERT_TRUE(desktop);
    std::optional<xcb_window_t> desktopTop;
    ASSERT_TRUE(waitUntil([&] {
        desktopTop = backend.list.topmostDesktopTopLevel();
        return desktopTop.has_value();
    }));
    EXPECT_EQ(desktopTop, backend.list.topLevelOf(desktop));

    // An unmapped overlay is not on screen; one that was never registered is not ours.
    xcb_unmap_window(own, overlay);
    xcb_flush(own);
    ASSERT_TRUE(waitUntil([&] { return findWindow(onScreen(backend.list), overlay) == nullptr; }));
    backend.context.unregisterOverlay(overlay);
    xcb_map_window(own, overlay);
    xcb_flush(own);
    ASSERT_TRUE(waitUntil([&] { return findWindow(onScreen(backend.list), overlay) != nullptr; }));
    EXPECT_EQ(findWindow(onScreen(backend.list), overlay)->layer, layer::kPopup);
}

TEST(X11WindowList, IdleListCostsOneRoundTrip) {
    SOMBRIX_XSESSION_OR_SKIP(session, XSessionOptions{});
    TestClient client(session.display());
    Backend backend(session.display());
    for (int i = 0; i < 5; ++i) {
        ASSERT_NE(client.createWindow({.x = 20 * i}), 0u);
    }
    ASSERT_TRUE(backend.list.copyWindowInfo());
    const auto before = backend.context.stats().roundTrips;
    ASSERT_TRUE(backend.list.copyWindowInfo());
    EXPECT_EQ(backend.context.stats().roundTrips - before, 1u);
}

}  // namespace
}  // namespace sombrix::x11

// The window list against what the X server and openbox say: order, layers, owners, bounds,
// visibility, the overlays' place, and restacking below another client's window.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>

#include "test_client.h"
#include "x11_backend.h"
#include "xsession.h"

namespace sombrix::x11 {
namespace {

using namespace test;

std::vector<X11Window> onScreen(X11WindowList& list) {
    auto all = list.windows().value_or(std::vector<X11Window>{});
    std::erase_if(all, [](const X11Window& w) { return !w.onScreen; });
    return all;
}

std::vector<xcb_window_t> ids(const std::vector<X11Window>& windows, int layerFilter) {
    std::vector<xcb_window_t> out;
    for (const auto& w : windows)
        if (w.layer == layerFilter)
            out.push_back(w.id);
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
    ASSERT_TRUE(waitUntil([&] {
        return client.hasState(minimised, "_NET_WM_STATE_HIDDEN") && !client.isViewable(minimised);
    }));

    auto windows = onScreen(backend.list);
    // Normal layer, front to back = the manager's stacking list reversed (it holds only the
    // on-screen normal windows here besides the dock).
    std::vector<xcb_window_t> expected;
    auto stacking = client.stackingList();
    for (auto it = stacking.rbegin(); it != stacking.rend(); ++it)
        if (*it != panel && *it != minimised && *it != elsewhere)
            expected.push_back(*it);
    EXPECT_EQ(ids(windows, layer::kNormal), expected);
    EXPECT_EQ(ids(windows, layer::kDock), std::vector<xcb_window_t>{panel});
    EXPECT_EQ(ids(windows, layer::kPopup), std::vector<xcb_window_t>{popup});
    EXPECT_EQ(windows.front().id, popup) << "override-redirect windows are above every frame";
    EXPECT_EQ(findWindow(windows, minimised), nullptr);
    EXPECT_EQ(findWindow(windows, elsewhere), nullptr);

    // Owner from the server, whatever _NET_WM_PID says or whether it is there at all.
    for (xcb_window_t w : {a, b, dialog, panel, popup})
        EXPECT_EQ(findWindow(windows, w) ? findWindow(windows, w)->pid : 0, ::getpid()) << w;
    // Window ids come back: a client that connects after one has gone takes its ids. An owner
    // asked for while no window held the id is not the owner of the next window with it.
    auto inputOnly = [&](xcb_connection_t* c) {
        const xcb_window_t w = xcb_generate_id(c);
        xcb_create_window(c, 0, w, backend.context.root(), 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, 0, 0, nullptr);
        own(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));  // made by now
        return w;
    };
    xcb_connection_t* gone = xcb_connect(session.display().c_str(), nullptr);
    const xcb_window_t reused = inputOnly(gone);
    xcb_kill_client(client.connection(), reused);
    EXPECT_FALSE(client.rootGeometry(reused)) << "the kill closes the client at once";
    EXPECT_EQ(backend.context.pidOf(reused), std::nullopt);
    xcb_connection_t* next = xcb_connect(session.display().c_str(), nullptr);
    ASSERT_EQ(inputOnly(next), reused) << "the next client was given other ids";
    EXPECT_EQ(backend.context.pidOf(reused), ::getpid());
    xcb_disconnect(gone), xcb_disconnect(next);
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
}

TEST(X11WindowList, OverlayAppearsAtItsTrueStackingPlaceAndOneConfigureRestacksIt) {
    SOMBRIX_XSESSION_OR_SKIP(session, XSessionOptions{});
    TestClient client(session.display());
    Backend backend(session.display());

    xcb_window_t back = client.createWindow({.title = "back"});
    xcb_window_t front = client.createWindow({.title = "front", .x = 300});
    ASSERT_TRUE(back && front);

    // An overlay of the backend's own process: override-redirect, registered.
    xcb_connection_t* own = client.connection();
    const xcb_window_t overlay = client.createWindow(
        {.x = 0, .y = 0, .width = 1280, .height = 800, .types = {}, .overrideRedirect = true});
    backend.context.registerOverlay(overlay);

    // Directly below "front", restacked as the overlays do it: the list shows the new place at
    // once, without asking the server (and with no safety net to correct it).
    backend.list.cache().setSweepInterval(std::chrono::hours(1));
    backend.listen();
    auto sibling = backend.list.topLevelOf(front);
    ASSERT_TRUE(sibling);
    auto restackBelow = [&](xcb_window_t below) {
        const std::uint32_t values[] = {below, XCB_STACK_MODE_BELOW};
        const std::uint16_t mask = XCB_CONFIG_WINDOW_SIBLING | XCB_CONFIG_WINDOW_STACK_MODE;
        backend.list.overlayRestacked(
            overlay, below, values[1], backend.connection,
            xcb_configure_window_checked(backend.connection, overlay, mask, values));
        xcb_flush(backend.connection);
    };
    ASSERT_TRUE(backend.pumpUntil([&] { return findWindow(onScreen(backend.list), overlay); }));
    const auto requests = backend.context.stats().requests;
    restackBelow(*sibling);
    const std::vector<xcb_window_t> placed{front, overlay, back};
    EXPECT_EQ(ids(onScreen(backend.list), layer::kNormal), placed);
    EXPECT_EQ(backend.context.stats().requests, requests);
    // A sibling that went away before the server took the request leaves the overlay where it
    // was: the refusal corrects what the list assumed.
    const xcb_window_t doomed = client.createWindow({.overrideRedirect = true});
    ASSERT_TRUE(backend.pumpUntil([&] { return findWindow(onScreen(backend.list), doomed); }));
    client.destroy(doomed), client.activeWindow(), restackBelow(doomed);  // gone before it
    EXPECT_TRUE(backend.pumpUntil([&] { return ids(onScreen(backend.list), 0) == placed; }));
    EXPECT_EQ(findWindow(onScreen(backend.list), overlay)->pid, ::getpid());

    // The topmost application window for orderFrontRegardless skips the overlay itself...
    EXPECT_EQ(backend.list.topmostNormalTopLevel(overlay), sibling);
    // ...and stays below a dock even when the dock is the top root child.
    xcb_window_t panel = client.createWindow(dockSpec(0, 770, 1280, 30));
    ASSERT_TRUE(backend.pumpUntil([&] { return onScreen(backend.list).front().id == panel; }));
    EXPECT_EQ(backend.list.topmostNormalTopLevel(overlay), sibling);

    // With no application window left, the front of the normal layer is just above a desktop
    // environment's desktop window, so the overlay still covers it.
    EXPECT_EQ(backend.list.topmostDesktopTopLevel(), std::nullopt);
    xcb_window_t desktop = client.createWindow({.title = "desktop",
                                                .width = 1280,
                                                .height = 800,
                                                .types = {"_NET_WM_WINDOW_TYPE_DESKTOP"}});
    EXPECT_TRUE(backend.pumpUntil([&] {
        const auto top = backend.list.topmostDesktopTopLevel();
        return top && top == backend.list.topLevelOf(desktop);
    }));

    // An unmapped overlay is not on screen; one that was never registered is not ours.
    xcb_unmap_window(own, overlay), xcb_flush(own);
    ASSERT_TRUE(backend.pumpUntil([&] { return !findWindow(onScreen(backend.list), overlay); }));
    backend.context.unregisterOverlay(overlay);
    xcb_map_window(own, overlay), xcb_flush(own);
    ASSERT_TRUE(backend.pumpUntil([&] { return findWindow(onScreen(backend.list), overlay); }));
    EXPECT_EQ(findWindow(onScreen(backend.list), overlay)->layer, layer::kPopup);
}

// With the safety-net re-read off, events alone must keep the list right: each change below is
// seen only if the backend selected the event that announces it. A cycle with nothing new costs
// no request at all; the re-read, back on, moves nothing until it meets a change.
TEST(X11WindowList, EveryChangeArrivesAsAnEventAndIdleCostsNothing) {
    XSessionOptions options;
    options.monitors = twoMonitors();
    SOMBRIX_XSESSION_OR_SKIP(session, options);
    TestClient client(session.display());
    Backend backend(session.display());
    backend.listen();
    X11WindowCache& cache = backend.list.cache();
    cache.setSweepInterval(std::chrono::hours(1));
    xcb_connection_t* c = client.connection();

    xcb_window_t a = client.createWindow({.title = "a", .x = 40});
    xcb_window_t b = client.createWindow({.title = "b", .x = 400});
    xcb_window_t popup = client.createWindow({.width = 50,
                                              .height = 60,
                                              .overrideRedirect = true,
                                              .map = false,
                                              .waitUntilManaged = false});
    ASSERT_TRUE(a && b && popup);
    auto entry = [&](xcb_window_t w) {
        // The list must outlive the look into it.
        const auto all = backend.list.windows().value_or(std::vector<X11Window>{});
        const X11Window* found = findWindow(all, w);
        return found ? std::optional<X11Window>(*found) : std::nullopt;
    };
    auto shown = [&](xcb_window_t w) { return entry(w) && entry(w)->onScreen; };
    auto above = [&](xcb_window_t upper, xcb_window_t lower) {
        const auto all = backend.list.windows().value_or(std::vector<X11Window>{});
        const X11Window* u = findWindow(all, upper);
        const X11Window* l = findWindow(all, lower);
        return u && l && u < l;
    };
    auto configure = [&](xcb_window_t w, std::uint16_t mask, std::vector<std::uint32_t> values) {
        xcb_configure_window(c, w, mask, values.data());
        client.flush();
    };
    ASSERT_TRUE(backend.pumpUntil([&] { return shown(a) && shown(b); }));

    struct Change {
        const char* what;
        std::function<void()> make;
        std::function<bool()> seen;
    };
    const Change changes[] = {
        {"map", [&] { xcb_map_window(c, popup), client.flush(); }, [&] { return shown(popup); }},
        {"configure",
         [&] {
             configure(popup, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, {70, 80});
         },
         [&] {
             return entry(popup)->bounds == (Rect{70, 80, 50, 60});
         }},
        {"restack", [&] { configure(popup, XCB_CONFIG_WINDOW_STACK_MODE, {XCB_STACK_MODE_BELOW}); },
         [&] { return above(a, popup); }},
        {"unmap", [&] { xcb_unmap_window(c, popup), client.flush(); },
         [&] { return !shown(popup); }},
        {"reparenting",
         [&] { xcb_reparent_window(c, popup, *client.topLevelOf(a), 0, 0), client.flush(); },
         [&] { return !entry(popup); }},
        {"active window and stacking", [&] { client.activate(a); },
         [&] { return cache.activeWindow() == a && above(a, b); }},
        {"client list stacking", [] {},
         [&] { return cache.clientListStacking() == client.stackingList(); }},
        {"class", [&] { client.setProperty(b, "WM_CLASS", XCB_ATOM_STRING, 8, "mpv\0Mpv", 8); },
         [&] { return entry(b)->wmClass.name == "Mpv"; }},
        {"window state", [&] { client.changeState(b, "_NET_WM_STATE_ABOVE", true); },
         [&] { return entry(b)->layer == layer::kFloating; }},
        {"frame moved by the manager", [&] { client.moveResize(b, 500, 300, 200, 100); },
         [&] {
             return entry(b)->bounds->width == (*client.rootGeometry(*client.topLevelOf(b)))[2];
         }},
        {"monitors", [&] { session.removeMonitor("RIGHT"); },
         [&] { return backend.context.monitors().size() == 1; }},
    };
    ASSERT_EQ(backend.context.monitors().size(), 2u);
    for (const Change& change : changes) {
        change.make();
        EXPECT_TRUE(backend.pumpUntil(change.seen)) << change.what;
        backend.list.copyWindowInfo();  // entries kept into the next change
    }
    // Entries kept through all of that read as those of a list that reads everything afresh.
    X11WindowList fresh(backend.context);
    EXPECT_TRUE(
        backend.pumpUntil([&] { return backend.list.copyWindowInfo() == fresh.copyWindowInfo(); }));
    // What a refresh cycle asks for; the first one learns what never changes (trust, class).
    auto cycle = [&] {
        ASSERT_TRUE(backend.platform.windowList().copyWindowInfo());
        backend.platform.accessibility().isProcessTrusted();
        backend.platform.workspace().frontmostApplication();
    };
    cycle();
    const auto before = backend.context.stats().requests;
    cycle();
    cycle();
    EXPECT_EQ(backend.context.stats().requests, before) << "an idle cycle asked the server";

    // A title nothing reads is no news; the backend's own round trip makes sure it has come.
    const auto titled = backend.list.changeCount();
    client.setProperty(b, "WM_NAME", XCB_ATOM_STRING, 8, "12:01", 5), client.activeWindow();
    xcb_connection_t* own = backend.connection;
    std::free(xcb_get_input_focus_reply(own, xcb_get_input_focus(own), nullptr));
    backend.pump();
    EXPECT_EQ(backend.list.changeCount(), titled);

    // The safety net: sweeps that find the facts as known change nothing; one that meets a
    // change whose events were lost brings it in.
    cache.setSweepInterval(std::chrono::milliseconds(0));
    const auto idle = backend.list.changeCount();
    const auto sweeps = backend.context.stats().roundTrips;
    EXPECT_TRUE(waitUntil([&] {
        return backend.list.changeCount() == idle &&
               backend.context.stats().roundTrips > sweeps + 1;
    }));
    client.moveResize(b, 500, 300, 260, 100);  // its events are never handed over
    EXPECT_TRUE(waitUntil([&] { return entry(b)->bounds->width >= 260; }));
}

}  // namespace
}  // namespace sombrix::x11

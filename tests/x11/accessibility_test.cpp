// Accessibility and workspace over a real openbox: trust, the focused window and its attributes,
// raising, observer and workspace notifications, and the frontmost application across processes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/x11/x11_window_classes.h"
#include "test_client.h"
#include "x11_backend.h"
#include "xsession.h"

namespace sombrix::x11 {
namespace {

using namespace test;

AXElement windowElement(xcb_window_t w) {
    return AXElement{AXElement::Kind::Window, ::getpid(), w};
}

template <typename T>
std::optional<T> read(Accessibility& ax, const AXElement& e, std::string_view attribute) {
    auto v = ax.copyAttributeValue(e, attribute);
    if (!v || !std::holds_alternative<T>(*v))
        return std::nullopt;
    return std::get<T>(*v);
}

TEST(X11Accessibility, FocusedWindowAttributesAndRaising) {
    SOMBRIX_XSESSION_OR_SKIP(session, XSessionOptions{});
    TestClient client(session.display());
    Backend backend(session.display());
    Accessibility& ax = backend.platform.accessibility();
    ASSERT_TRUE(ax.isProcessTrusted());

    xcb_window_t a = client.createWindow({.x = 30});
    xcb_window_t b = client.createWindow({.x = 400});
    ASSERT_TRUE(a && b);
    ASSERT_TRUE(waitUntil([&] { return client.activeWindow() == b; }));

    const AXElement app = ax.applicationElement(::getpid());
    EXPECT_EQ(read<AXElement>(ax, app, ax::kFocusedWindow), windowElement(b));
    EXPECT_EQ(read<AXElement>(ax, ax.applicationElement(1), ax::kFocusedWindow), std::nullopt)
        << "another process's focused window is not this one";
    auto windows = read<std::vector<AXElement>>(ax, app, ax::kWindows);
    ASSERT_TRUE(windows);
    EXPECT_EQ(*windows, (std::vector<AXElement>{windowElement(a), windowElement(b)}));
    EXPECT_EQ(ax.windowNumber(windowElement(b)), b);

    // Position and size agree with the window list, which matching by bounds relies on.
    auto list = backend.list.windows();
    ASSERT_TRUE(list);
    const X11Window* entry = findWindow(*list, b);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(read<Point>(ax, windowElement(b), ax::kPosition),
              (Point{entry->bounds->x, entry->bounds->y}));
    EXPECT_EQ(read<Size>(ax, windowElement(b), ax::kSize),
              (Size{entry->bounds->width, entry->bounds->height}));

    EXPECT_EQ(read<bool>(ax, windowElement(b), ax::kFullScreen), false);
    // Written by the client itself, the state does not make a window that covers no monitor
    // full screen; asked of the window manager, it does.
    const xcb_atom_t fullScreen = client.atom("_NET_WM_STATE_FULLSCREEN");
    client.setProperty(b, "_NET_WM_STATE", XCB_ATOM_ATOM, 32, &fullScreen, 1);
    ASSERT_TRUE(client.hasState(b, "_NET_WM_STATE_FULLSCREEN"));
    EXPECT_EQ(read<bool>(ax, windowElement(b), ax::kFullScreen), false);
    client.changeState(b, "_NET_WM_STATE_FULLSCREEN", true);
    EXPECT_TRUE(
        waitUntil([&] { return read<bool>(ax, windowElement(b), ax::kFullScreen) == true; }));

    // Raise + main brings a minimised window back and focuses it; the application's
    // activation then targets that window, not merely its topmost one.
    client.minimize(a);
    ASSERT_TRUE(
        waitUntil([&] { return read<bool>(ax, windowElement(a), ax::kMinimized) == true; }));
    EXPECT_TRUE(ax.performAction(windowElement(a), ax::kRaise));
    EXPECT_TRUE(ax.setAttributeValue(windowElement(a), ax::kMain, true));
    EXPECT_TRUE(backend.platform.workspace().activate({::getpid(), std::nullopt}));
    EXPECT_TRUE(waitUntil([&] { return client.activeWindow() == a; }));
    EXPECT_EQ(read<bool>(ax, windowElement(a), ax::kMinimized), false);

    // A window that is gone has no attributes at all.
    client.destroy(b);
    ASSERT_TRUE(waitUntil([&] { return !client.isManaged(b); }));
    EXPECT_EQ(ax.copyAttributeValue(windowElement(b), ax::kMinimized), std::nullopt);
    EXPECT_EQ(ax.copyAttributeValue(windowElement(b), ax::kPosition), std::nullopt);

    // A manager that stops publishing its stacking order can no longer be followed.
    ASSERT_EQ(session.run({"xprop", "-root", "-f", "_NET_SUPPORTED", "32a", "-set",
                           "_NET_SUPPORTED", "_NET_ACTIVE_WINDOW"}),
              0);
    EXPECT_TRUE(backend.pumpUntil([&] { return !ax.isProcessTrusted(); }));
}

// One observer per notification, so each is seen on its own; what they heard, by name.
TEST(X11Accessibility, ObserversAndWorkspaceNotificationsAndTheFrontmostApplication) {
    SOMBRIX_XSESSION_OR_SKIP(session, XSessionOptions{});
    TestClient client(session.display());
    Backend backend(session.display());
    backend.listen();
    Accessibility& ax = backend.platform.accessibility();
    Workspace& ws = backend.platform.workspace();
    const AXElement app = ax.applicationElement(::getpid());

    xcb_window_t a = client.createWindow({.wmClass = "Mine"});
    xcb_window_t b = client.createWindow({.x = 500, .wmClass = "Mine"});
    ASSERT_TRUE(a && b);
    ASSERT_TRUE(waitUntil([&] { return client.activeWindow() == b; }));
    backend.pump();

    std::map<std::string, int> heard;
    std::vector<std::unique_ptr<AXObserver>> observers;
    for (const auto& [element, name] : {std::pair{app, ax::kFocusedWindowChanged},
                                        {app, ax::kWindowCreated},
                                        {app, ax::kWindowMiniaturized},
                                        {app, ax::kWindowDeminiaturized},
                                        {windowElement(a), ax::kUIElementDestroyed}}) {
        observers.push_back(ax.createObserver(
            ::getpid(), [](AXObserver*, const AXElement&, std::string_view name, void* context) {
                ++(*static_cast<std::map<std::string, int>*>(context))[std::string(name)];
            }));
        ASSERT_TRUE(observers.back() && observers.back()->addNotification(element, name, &heard));
        observers.back()->addToMainRunLoop();
    }
    std::vector<WorkspaceNotification> seen;
    for (auto n :
         {WorkspaceNotification::DidActivateApplication,
          WorkspaceNotification::ActiveSpaceDidChange, WorkspaceNotification::DidHideApplication,
          WorkspaceNotification::DidUnhideApplication,
          WorkspaceNotification::DidTerminateApplication})
        ws.addObserver(n, [&seen, n] { seen.push_back(n); });
    const auto hears = [&](std::string_view name) {
        return backend.pumpUntil([&] { return heard[std::string(name)] > 0; });
    };
    const auto saw = [&](WorkspaceNotification n) {
        return backend.pumpUntil([&] { return std::ranges::find(seen, n) != seen.end(); });
    };

    client.activate(a);
    EXPECT_TRUE(hears(ax::kFocusedWindowChanged));
    xcb_window_t c = client.createWindow({.x = 500, .wmClass = "Mine"});
    ASSERT_NE(c, 0u);
    EXPECT_TRUE(hears(ax::kWindowCreated));
    client.minimize(c);
    EXPECT_TRUE(hears(ax::kWindowMiniaturized));
    client.activate(c);
    EXPECT_TRUE(hears(ax::kWindowDeminiaturized));

    // A detached observer hears nothing more.
    observers.front()->removeFromMainRunLoop();
    const int focusCount = heard[std::string(ax::kFocusedWindowChanged)];
    EXPECT_EQ(heard[std::string(ax::kUIElementDestroyed)], 0) << "nothing happened to it yet";
    client.destroy(a);
    EXPECT_TRUE(hears(ax::kUIElementDestroyed));
    EXPECT_EQ(heard[std::string(ax::kFocusedWindowChanged)], focusCount);

    ASSERT_TRUE(waitUntil([&] { return ws.frontmostApplication().has_value(); }));
    EXPECT_EQ(*ws.frontmostApplication(), (RunningApplication{::getpid(), "Mine"}));
    // Another process comes to the front.
    pid_t logo = session.spawn({"xlogo"});
    ASSERT_GT(logo, 0);
    std::optional<RunningApplication> front;
    ASSERT_TRUE(backend.pumpUntil([&] {
        front = ws.frontmostApplication();
        return front && front->pid == logo;
    }));
    EXPECT_EQ(front->bundleIdentifier, "XLogo");
    EXPECT_TRUE(saw(WorkspaceNotification::DidActivateApplication));
    ASSERT_TRUE(ws.runningApplication(logo));
    // What the settings window offers to keep bright: each client's class once, sorted.
    EXPECT_EQ(x11::X11WindowClasses(backend.platform.context()).openWindowClasses(),
              (std::vector<std::string>{"Mine", "XLogo"}));
    EXPECT_FALSE(ws.runningApplication(999999));

    // Hiding all of an application's windows, and showing them again.
    client.minimize(b);
    client.minimize(c);
    EXPECT_TRUE(saw(WorkspaceNotification::DidHideApplication));
    client.activate(c);
    EXPECT_TRUE(saw(WorkspaceNotification::DidUnhideApplication));

    client.switchDesktop(1);
    EXPECT_TRUE(saw(WorkspaceNotification::ActiveSpaceDidChange));
    client.switchDesktop(0);

    session.kill(logo);
    EXPECT_TRUE(saw(WorkspaceNotification::DidTerminateApplication));
    EXPECT_FALSE(ws.runningApplication(logo));
}

}  // namespace
}  // namespace sombrix::x11

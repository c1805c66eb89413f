// Accessibility and workspace over a real openbox: trust, the focused window and its attributes,
// raising, observer notifications, and the frontmost application across processes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
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
}

struct Recorder {
    std::vector<std::string> names;
    static void callback(AXObserver*, const AXElement&, std::string_view name, void* context) {
        static_cast<Recorder*>(context)->names.emplace_back(name);
    }
    bool saw(std::string_view name) const {
        return std::find(names.begin(), names.end(), name) != names.end();
    }
};

TEST(X11Accessibility, ObserversReportFocusCreationMinimiseRestoreAndDestruction) {
    SOMBRIX_XSESSION_OR_SKIP(session, XSessionOptions{});
    TestClient client(session.display());
    Backend backend(session.display());
    backend.listen();
    Accessibility& ax = backend.platform.accessibility();
    const AXElement app = ax.applicationElement(::getpid());

    xcb_window_t a = client.createWindow();
    const TestWindowSpec spec{.x = 500};
    xcb_window_t b = client.createWindow(spec);
    ASSERT_TRUE(a && b);
    ASSERT_TRUE(waitUntil([&] { return client.activeWindow() == b; }));
    backend.pump();

    // One observer per notification, so each is seen on its own.
    Recorder focus, created, minimise, destroyed;
    auto focusObserver = ax.createObserver(::getpid(), &Recorder::callback);
    auto createdObserver = ax.createObserver(::getpid(), &Recorder::callback);
    auto minimiseObserver = ax.createObserver(::getpid(), &Recorder::callback);
    auto destroyedObserver = ax.createObserver(::getpid(), &Recorder::callback);
    ASSERT_TRUE(focusObserver && createdObserver && minimiseObserver && destroyedObserver);
    focusObserver->addNotification(app, ax::kFocusedWindowChanged, &focus);
    createdObserver->addNotification(app, ax::kWindowCreated, &created);
    minimiseObserver->addNotification(app, ax::kWindowMiniaturized, &minimise);
    minimiseObserver->addNotification(app, ax::kWindowDeminiaturized, &minimise);
    destroyedObserver->addNotification(windowElement(a), ax::kUIElementDestroyed, &destroyed);
    for (auto* o : {focusObserver.get(), createdObserver.get(), minimiseObserver.get(),
                    destroyedObserver.get()}) {
        o->addToMainRunLoop();
    }

    client.activate(a);
    EXPECT_TRUE(backend.pumpUntil([&] { return focus.saw(ax::kFocusedWindowChanged); }));

    xcb_window_t c = client.createWindow(spec);
    ASSERT_NE(c, 0u);
    EXPECT_TRUE(backend.pumpUntil([&] { return created.saw(ax::kWindowCreated); }));

    client.minimize(c);
    EXPECT_TRUE(backend.pumpUntil([&] { return minimise.saw(ax::kWindowMiniaturized); }));
    client.activate(c);
    EXPECT_TRUE(backend.pumpUntil([&] { return minimise.saw(ax::kWindowDeminiaturized); }));

    // Detached observers hear nothing more.
    focusObserver->removeFromMainRunLoop();
    const auto focusCount = focus.names.size();
    EXPECT_TRUE(destroyed.names.empty()) << "nothing happened to the watched window yet";
    client.destroy(a);
    EXPECT_TRUE(backend.pumpUntil([&] { return destroyed.saw(ax::kUIElementDestroyed); }));
    EXPECT_EQ(focus.names.size(), focusCount);
}

TEST(X11Workspace, FrontmostApplicationAcrossProcessesAndItsNotifications) {
    SOMBRIX_XSESSION_OR_SKIP(session, XSessionOptions{});
    TestClient client(session.display());
    Backend backend(session.display());
    backend.listen();
    Workspace& ws = backend.platform.workspace();

    std::vector<WorkspaceNotification> seen;
    for (auto n :
         {WorkspaceNotification::DidActivateApplication,
          WorkspaceNotification::ActiveSpaceDidChange, WorkspaceNotification::DidHideApplication,
          WorkspaceNotification::DidUnhideApplication,
          WorkspaceNotification::DidTerminateApplication}) {
        ws.addObserver(n, [&seen, n] { seen.push_back(n); });
    }
    auto saw = [&](WorkspaceNotification n) {
        backend.pump();
        return std::find(seen.begin(), seen.end(), n) != seen.end();
    };

    xcb_window_t mine = client.createWindow({.wmClass = "Mine"});
    ASSERT_NE(mine, 0u);
    ASSERT_TRUE(waitUntil([&] { return client.activeWindow() == mine; }));
    backend.pump();
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
    client.minimize(mine);
    EXPECT_TRUE(waitUntil([&] { return saw(WorkspaceNotification::DidHideApplication); }));
    client.activate(mine);
    EXPECT_TRUE(waitUntil([&] { return saw(WorkspaceNotification::DidUnhideApplication); }));

    client.switchDesktop(1);
    EXPECT_TRUE(waitUntil([&] { return saw(WorkspaceNotification::ActiveSpaceDidChange); }));
    client.switchDesktop(0);

    session.kill(logo);
    EXPECT_TRUE(waitUntil([&] { return saw(WorkspaceNotification::DidTerminateApplication); }));
    EXPECT_FALSE(ws.runningApplication(logo));
}

}  // namespace
}  // namespace sombrix::x11

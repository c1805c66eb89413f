// The backend inside a real Qt application on the xcb platform: displays from Qt's screens with
// struts, screen-change notifications, and X events arriving through Qt's event filter.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QGuiApplication>
#include <algorithm>
#include <cstdlib>
#include <memory>

#include "platform/x11/x11_platform.h"
#include "test_client.h"
#include "xsession.h"

namespace sombrix::x11 {
namespace {

using namespace test;

// Qt allows one application per process, so this is the only test here.
TEST(X11QtPlatform, DisplaysStrutsScreenChangesAndEventsThroughQt) {
    // The session's private bus also stands in for the system bus, where a stand-in for logind
    // announces the end of a sleep; as the session bus, no other is started for the display.
    XSessionOptions options{.windowManager = {.privateBus = true}, .monitors = twoMonitors()};
    SOMBRIX_XSESSION_OR_SKIP(session, options);
    TestClient client(session.display());

    // A panel across the top of the left monitor only.
    ASSERT_NE(client.createWindow(dockSpec(0, 0, 800, 30, true)), 0u);

    const std::string busKey = "DBUS_SESSION_BUS_ADDRESS=";
    const std::string busAddress =
        std::ranges::find_if(session.environment, [&](const std::string& e) {
            return e.starts_with(busKey);
        })->substr(busKey.size());
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", busAddress.c_str(), 1);
    ::setenv("DBUS_SESSION_BUS_ADDRESS", busAddress.c_str(), 1);

    ::setenv("DISPLAY", session.display().c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    static int argc = 1;
    static char name[] = "x11_qt_tests";
    static char* argv[] = {name, nullptr};
    auto app = std::make_unique<QGuiApplication>(argc, argv);
    auto platform = X11Platform::fromQt();
    ASSERT_TRUE(platform) << "Qt runs on xcb here";

    auto screens = platform->displays().screens();
    ASSERT_EQ(screens.size(), 2u);
    EXPECT_EQ(screens[0].frame, (Rect{0, 0, 800, 900}));
    EXPECT_EQ(screens[1].frame, (Rect{800, 0, 800, 900}));
    EXPECT_EQ(screens[0].visibleFrame, (Rect{0, 30, 800, 870}));
    EXPECT_EQ(screens[1].visibleFrame, screens[1].frame);

    // X events reach the backend through Qt, one stacking-changed call per batch.
    int stackingChanges = 0;
    platform->setStackingChangedHandler([&] { ++stackingChanges; });
    int wakes = 0;
    platform->workspace().addObserver(WorkspaceNotification::DidWake, [&] { ++wakes; });
    platform->installEventFilter();
    auto spin = [&](auto predicate) {
        return waitUntil([&] {
            QCoreApplication::processEvents();
            return predicate();
        });
    };
    xcb_window_t a = client.createWindow({.x = 900});
    xcb_window_t b = client.createWindow({.x = 1000});
    ASSERT_TRUE(a && b);
    const int before = stackingChanges;
    // A restack with no other notification: only the stacking hook runs.
    const std::uint32_t below[] = {XCB_STACK_MODE_BELOW};
    xcb_configure_window(client.connection(), *client.topLevelOf(b), XCB_CONFIG_WINDOW_STACK_MODE,
                         below);
    client.flush();
    EXPECT_TRUE(spin([&] { return stackingChanges > before; }));

    // Waking from sleep (logind says PrepareForSleep(false); true is the way down).
    {
        QDBusConnection logind =
            QDBusConnection::connectToBus(QString::fromStdString(busAddress), "logind");
        ASSERT_TRUE(logind.registerService("org.freedesktop.login1"));
        for (bool starting : {true, false}) {
            auto signal = QDBusMessage::createSignal(
                "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep");
            signal << starting;
            logind.send(signal);
        }
        EXPECT_TRUE(spin([&] { return wakes > 0; }));
        EXPECT_EQ(wakes, 1);
    }
    QDBusConnection::disconnectFromBus("logind");

    // The right monitor goes away: the screen-parameters observers hear of it.
    int screenChanges = 0;
    platform->displays().addScreenParametersObserver([&] { ++screenChanges; });
    session.removeMonitor("RIGHT");
    EXPECT_TRUE(
        spin([&] { return screenChanges > 0 && platform->displays().screens().size() == 1; }));

    platform.reset();
    app.reset();
}

}  // namespace
}  // namespace sombrix::x11

// Every platform service of an X11 session and the dim engine built over them: what main and the
// application shell share.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "engine/dim_controller.h"
#include "overlay/x11_overlay_factory.h"
#include "overlay/x11_wallpaper_service.h"
#include "platform/qt/qsettings_defaults_store.h"
#include "platform/qt/qt_clock.h"
#include "platform/qt/qt_diagnostic_log.h"
#include "platform/qt/qt_own_application.h"
#include "platform/qt/qt_scheduler.h"
#include "platform/x11/x11_platform.h"
#include "platform/x11/x11_window_classes.h"

namespace sombrix {

// What the process says on standard error when the X server goes away; it then ends with
// exitcode::kLostDisplay.
inline constexpr char kLostConnectionMessage[] =
    "sombrix: lost the connection to the X server; exiting.\n";

class PlatformHost {
public:
    // Needs a QApplication on the xcb platform; null with the reason in `error` otherwise.
    static std::unique_ptr<PlatformHost> create(std::string* error);
    ~PlatformHost();
    PlatformHost(const PlatformHost&) = delete;
    PlatformHost& operator=(const PlatformHost&) = delete;

    // Runs once when the X connection breaks; the engine can do nothing after that. Also runs
    // when Qt saw the break first and began to exit, and a crash with a broken connection ends
    // with that message and status too.
    void setConnectionLostHandler(std::function<void()> handler);
    // Runs when a window manager started, was replaced or went away.
    void setWindowManagerChangedHandler(std::function<void()> handler) {
        x11_->setWindowManagerChangedHandler(std::move(handler));
    }

    DimController& controller() { return *controller_; }
    Accessibility& accessibility() { return x11_->accessibility(); }
    Workspace& workspace() { return x11_->workspace(); }
    Displays& displays() { return x11_->displays(); }
    DefaultsStore& defaults() { return defaults_; }
    QSettingsDefaultsStore& settingsFile() { return defaults_; }
    Scheduler& scheduler() { return scheduler_; }
    Clock& clock() { return clock_; }
    WallpaperService& wallpaper() { return *wallpaper_; }
    WindowClasses& windowClasses() { return windowClasses_; }
    x11::X11Platform& x11() { return *x11_; }

private:
    explicit PlatformHost(std::unique_ptr<x11::X11Platform> x11);

    std::unique_ptr<x11::X11Platform> x11_;
    x11::X11WindowClasses windowClasses_;
    QtClock clock_;
    QtScheduler scheduler_;
    QSettingsDefaultsStore defaults_;
    QtDiagnosticLog log_;
    QtOwnApplication ownApplication_;
    std::unique_ptr<X11WallpaperService> wallpaper_;
    std::unique_ptr<X11OverlayFactory> overlayFactory_;
    std::unique_ptr<DimController> controller_;
};

}  // namespace sombrix

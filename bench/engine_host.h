// The engine as the application composes it (X11 backend on Qt's connection, real overlays,
// event filter, reconcile timer), inside the benchmark's process, so that a benchmark can count
// refreshes and round trips and watch the main thread for stalls. The windows it works on must
// belong to another process (see startWindowOwner): the engine treats its own process's windows
// differently.
#pragma once

#include <dirent.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "engine/dim_controller.h"
#include "overlay/x11_overlay_factory.h"
#include "overlay/x11_wallpaper_service.h"
#include "platform/qt/qsettings_defaults_store.h"
#include "platform/qt/qt_clock.h"
#include "platform/qt/qt_own_application.h"
#include "platform/qt/qt_scheduler.h"
#include "platform/x11/x11_platform.h"

namespace sombrix::bench {

inline double selfCpuUs() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto us = [](const timeval& t) { return t.tv_sec * 1e6 + t.tv_usec; };
    return us(usage.ru_utime) + us(usage.ru_stime);
}

// Counts refresh cycles: every running cycle asks for the permission first, exactly once.
class CountingAccessibility : public Accessibility {
public:
    explicit CountingAccessibility(Accessibility& inner) : inner_(inner) {}
    long refreshes = 0;
    bool isProcessTrusted() override {
        ++refreshes;
        return inner_.isProcessTrusted();
    }
    void requestTrustWithPrompt() override { inner_.requestTrustWithPrompt(); }
    std::uint64_t windowManagerIdentity() override { return inner_.windowManagerIdentity(); }
    AXElement applicationElement(std::int32_t pid) override {
        return inner_.applicationElement(pid);
    }
    std::optional<AXAttributeValue> copyAttributeValue(const AXElement& e,
                                                       std::string_view a) override {
        return inner_.copyAttributeValue(e, a);
    }
    std::optional<std::uint32_t> windowNumber(const AXElement& e) override {
        return inner_.windowNumber(e);
    }
    bool performAction(const AXElement& e, std::string_view a) override {
        return inner_.performAction(e, a);
    }
    bool setAttributeValue(const AXElement& e, std::string_view a, bool v) override {
        return inner_.setAttributeValue(e, a, v);
    }
    std::unique_ptr<AXObserver> createObserver(std::int32_t pid,
                                               AXObserverCallback callback) override {
        return inner_.createObserver(pid, callback);
    }

private:
    Accessibility& inner_;
};

// Runs `body` in a child process that lives until the parent dies; returns its pid once it has
// written 'r' to the pipe it is given (or -1).
inline pid_t startHelperProcess(const std::function<bool(int readyFd)>& body) {
    int ready[2];
    if (::pipe(ready) != 0)
        return -1;
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid != 0) {
        ::close(ready[1]);
        char c = 0;
        const bool ok = pid > 0 && ::read(ready[0], &c, 1) == 1 && c == 'r';
        ::close(ready[0]);
        return ok ? pid : -1;
    }
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        ::_exit(1);
    ::close(ready[0]);
    ::_exit(body(ready[1]) ? 0 : 1);
}

// The engine on the private display, composed as the application does it.
class EngineHost {
public:
    explicit EngineHost(const std::string& display) {
        ::setenv("DISPLAY", display.c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        // No session bus: otherwise one is started for the private display and outlives it.
        ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
        static int argc = 1;
        static char name[] = "sombrix_bench";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
        platform_ = x11::X11Platform::fromQt();
        if (!platform_)
            return;
        connection_ = app_->nativeInterface<QNativeInterface::QX11Application>()->connection();
        defaults_ = std::make_unique<QSettingsDefaultsStore>(dir_.filePath("Sombrix.conf"));
        defaults_->setBool(keys::kDimEnabled, true);
        defaults_->setString(keys::kDimStyle, "black");
        defaults_->setDouble(keys::kDimStrength, 0.5);
        wallpaper_ =
            std::make_unique<X11WallpaperService>(connection_, platform_->context().root());
        overlays_ = std::make_unique<X11OverlayFactory>(
            OverlayEnvironment{connection_, platform_->stacking(), *wallpaper_, display,
                               [this](xcb_window_t w) { platform_->registerOverlay(w); },
                               [this](xcb_window_t w) { platform_->unregisterOverlay(w); }});
        accessibility_ = std::make_unique<CountingAccessibility>(platform_->accessibility());
        controller_ = std::make_unique<DimController>(EngineServices{
            platform_->windowList(), *accessibility_, platform_->workspace(), own_,
            platform_->displays(), *overlays_, *wallpaper_, clock_, scheduler_, *defaults_});
        platform_->setStackingChangedHandler([this] { controller_->refresh(); });
        platform_->installEventFilter();
        controller_->startIfPossible();
        // The main loop is stalled from the moment it wakes until it may sleep again: the
        // longest such stretch is the longest time an event waited for it.
        auto* dispatcher = QAbstractEventDispatcher::instance();
        QObject::connect(dispatcher, &QAbstractEventDispatcher::awake,
                         [this] { busySince_.start(); });
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, [this] {
            if (watching_ && busySince_.isValid())
                longestStallNs_ = std::max(longestStallNs_, busySince_.nsecsElapsed());
        });
    }
    ~EngineHost() {
        if (controller_)
            controller_->stop();
        controller_.reset();
    }

    bool ok() const { return controller_ != nullptr && controller_->isRunning(); }
    x11::X11Platform& platform() { return *platform_; }
    xcb_connection_t* connection() const { return connection_; }
    long refreshes() const { return accessibility_->refreshes; }
    int overlayCount() const { return static_cast<int>(controller_->overlays().size()); }
    int visibleOverlays() const {
        int n = 0;
        for (const auto& overlay : controller_->overlays())
            n += overlay->isVisible() ? 1 : 0;
        return n;
    }

    // Runs the main loop for `duration`. A loop of its own: quitting the application's loop
    // would close every window, the overlays too.
    void run(std::chrono::milliseconds duration) {
        QEventLoop loop;
        QTimer::singleShot(static_cast<int>(duration.count()), &loop, &QEventLoop::quit);
        loop.exec();
    }
    // The longest gap between two turns of the main loop while watching, in milliseconds.
    void watchStalls() {
        longestStallNs_ = 0;
        watching_ = true;
    }
    double longestStallMs() const { return longestStallNs_ / 1e6; }

private:
    std::unique_ptr<QApplication> app_;
    std::unique_ptr<x11::X11Platform> platform_;
    xcb_connection_t* connection_ = nullptr;
    QTemporaryDir dir_;
    std::unique_ptr<QSettingsDefaultsStore> defaults_;
    std::unique_ptr<X11WallpaperService> wallpaper_;
    std::unique_ptr<X11OverlayFactory> overlays_;
    std::unique_ptr<CountingAccessibility> accessibility_;
    QtOwnApplication own_;
    QtClock clock_;
    QtScheduler scheduler_;
    std::unique_ptr<DimController> controller_;
    QElapsedTimer busySince_;
    bool watching_ = false;
    qint64 longestStallNs_ = 0;
};

}  // namespace sombrix::bench

// What one refresh cycle costs the X11 backend on a real server: a private Xvfb with openbox,
// two virtual monitors and 50 client windows of another process. Part one measures the backend's
// share of a cycle (the window list, read once as the engine does, plus the focus reads);
// part two, when the engine and the overlays are built, runs real DimController::refresh cycles
// with real overlay windows. Round trips and ordering requests are counted per cycle; then five
// of the windows, all beneath an overlay, are excluded from dimming: a steady cycle must send no
// Shape request, and one after such a window moved sends one. The last line is the summary the
// project tracks.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app_bench_support.h"
#include "platform/x11/x11_platform.h"
#include "test_client.h"
#include "x11_backend.h"
#include "xsession.h"

#ifdef SOMBRIX_BENCH_WITH_ENGINE
#include <QApplication>
#include <QTemporaryDir>

#include "engine/dim_controller.h"
#include "overlay/overlay_window.h"
#include "overlay/x11_overlay_factory.h"
#include "overlay/x11_wallpaper_service.h"
#include "platform/qt/qsettings_defaults_store.h"
#include "platform/qt/qt_clock.h"
#include "platform/qt/qt_own_application.h"
#include "platform/qt/qt_scheduler.h"
#endif

namespace {

using namespace sombrix;
using Clock = std::chrono::steady_clock;

constexpr int kWindows = 50;
constexpr int kCycles = 2000;
// Windows 4, 13, 22, 31 and 40: on both monitors, none the topmost of its monitor.
constexpr const char* kExcludedClass = "Kept";

// The windows belong to a child process, as the user's applications would: the engine ignores
// its own process's windows. The child lives until the parent closes the pipe (or dies).
pid_t startWindowOwner(const std::string& display) {
    int ready[2];
    int hold[2];
    if (::pipe(ready) != 0 || ::pipe(hold) != 0) {
        return -1;
    }
    const pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid != 0) {
        ::close(ready[1]);
        ::close(hold[0]);
        char c = 0;
        if (pid < 0 || ::read(ready[0], &c, 1) != 1 || c != 'r') {
            return -1;
        }
        ::close(ready[0]);
        return pid;  // hold[1] stays open for the parent's life
    }
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) {
        ::_exit(1);
    }
    ::close(ready[0]);
    ::close(hold[1]);
    {
        test::TestClient client(display);
        bool ok = client.ok();
        for (int i = 0; i < kWindows && ok; ++i) {
            test::TestWindowSpec spec;
            spec.title = "window " + std::to_string(i);
            spec.wmClass = i < 45 && i % 9 == 4 ? kExcludedClass : "BenchApp";
            // Half on each monitor, overlapping like a busy desktop.
            spec.x = (i % 2 ? 800 : 0) + 10 * (i / 2);
            spec.y = 40 + 12 * (i / 2);
            spec.width = 420;
            spec.height = 300;
            ok = client.createWindow(spec) != 0;
        }
        char c = ok ? 'r' : 'x';
        if (::write(ready[1], &c, 1) != 1) {
            ::_exit(1);
        }
        char buf;
        while (::read(hold[0], &buf, 1) > 0) {
        }
    }
    ::_exit(0);
}

// Requests sent on a connection between two points: the difference of sequence numbers of two
// probe requests, less the probe itself.
std::uint64_t sequenceNow(xcb_connection_t* c) {
    auto cookie = xcb_get_input_focus(c);
    std::free(xcb_get_input_focus_reply(c, cookie, nullptr));
    return cookie.sequence;
}

struct Figures {
    int overlays = 0;
    int visibleOverlays = 0;
    double usPerCycle = 0;
    double roundTrips = 0;
    double orderingRequests = 0;
    double shapeRequests = 0;
    double cpuUsPerCycle = 0;
};

double threadCpuMicroseconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e6 + double(t.tv_nsec) / 1e3;
}

// Times kCycles runs of `cycle`, each after `prepare`, and counts what they cost on `c`: the
// backend's round trips, and the requests that were not the backend's (the overlays' ordering).
template <typename Prepare, typename Cycle>
void measureCycles(xcb_connection_t* c, x11::X11Context& context, Prepare prepare, Cycle cycle,
                   Figures& f, int cycles = kCycles) {
    const auto trips = context.stats().roundTrips;
    const auto ourRequests = context.stats().requests;
    const auto seq = sequenceNow(c);
    Clock::duration spent{};
    for (int i = 0; i < cycles; ++i) {
        prepare();
        const auto t0 = Clock::now();
        cycle();
        spent += Clock::now() - t0;
    }
    const auto total = sequenceNow(c) - seq - 1;
    const auto backend = context.stats().requests - ourRequests;
    f.usPerCycle =
        std::chrono::duration<double, std::micro>(spent).count() / static_cast<double>(cycles);
    f.roundTrips = double(context.stats().roundTrips - trips) / cycles;
    f.orderingRequests = double(total - backend) / cycles;
}

// The backend's part of a cycle, on its own connection, events pumped between cycles.
Figures measureBackend(const std::string& display) {
    x11::Backend backend(display);
    backend.listen();
    x11::X11Platform& platform = backend.platform;
    auto pump = [&] { backend.pump(); };
    Accessibility& ax = platform.accessibility();
    auto cycle = [&] {
        platform.x11WindowList().invalidate();  // a new cycle reads the server afresh
        bool trusted = ax.isProcessTrusted();
        auto front = platform.workspace().frontmostApplication();
        auto snapshot = platform.windowList().windowEntries();
        if (trusted && front) {
            auto app = ax.applicationElement(front->pid);
            auto window = ax.copyAttributeValue(app, ax::kFocusedWindow);
            if (window && std::holds_alternative<AXElement>(*window)) {
                const AXElement& w = std::get<AXElement>(*window);
                ax.copyAttributeValue(w, ax::kMinimized);
                ax.windowNumber(w);
                ax.copyAttributeValue(w, ax::kFullScreen);
            }
        }
        return snapshot != nullptr;
    };
    for (int i = 0; i < 50; ++i) {
        pump();
        cycle();
    }
    pump();
    Figures f;
    measureCycles(backend.connection, platform.context(), pump, cycle, f);
    return f;
}

#ifdef SOMBRIX_BENCH_WITH_ENGINE
struct EngineFigures;
void measureExclusions(const std::string& display, x11::X11Platform& platform,
                       DimController& controller, DefaultsStore& defaults,
                       xcb_connection_t* connection, EngineFigures& figures);

struct EngineFigures {
    Figures refresh;
    Figures steadyPlain;  // the same steady refresh without exclusions
    Figures steadyHoles;  // excluded windows beneath the overlays, nothing moving
    Figures movingHole;   // one of them moved before every cycle
};

// Shape requests of every overlay so far.
std::uint64_t shapeRequests(const DimController& controller) {
    std::uint64_t n = 0;
    for (const auto& overlay : controller.overlays()) {
        if (const auto* window = dynamic_cast<const OverlayWindow*>(overlay.get()))
            n += window->shapeRequests();
    }
    return n;
}

// Real refresh cycles with real overlays on Qt's connection.
EngineFigures measureEngine(const std::string& display) {
    ::setenv("DISPLAY", display.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    // No session bus: otherwise one is started for the private display and outlives it.
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
    static int argc = 1;
    static char name[] = "bench_x11_cycle";
    static char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    EngineFigures figures;
    Figures& f = figures.refresh;
    auto platform = x11::X11Platform::fromQt();
    if (!platform) {
        return figures;
    }
    auto* connection = app.nativeInterface<QNativeInterface::QX11Application>()->connection();
    QTemporaryDir dir;
    QSettingsDefaultsStore defaults(dir.filePath("Sombrix.conf"));
    defaults.setBool(keys::kDimEnabled, true);
    defaults.setString(keys::kDimStyle, "black");
    defaults.setDouble(keys::kDimStrength, 0.5);
    X11WallpaperService wallpaper(connection, platform->context().root());
    OverlayEnvironment env{nullptr,
                           platform->stacking(),
                           wallpaper,
                           display,
                           [&](xcb_window_t w) { platform->registerOverlay(w); },
                           [&](xcb_window_t w) { platform->unregisterOverlay(w); }};
    X11OverlayFactory overlays(env);
    QtOwnApplication own;
    QtClock clock;
    QtScheduler scheduler;
    {
        DimController controller(EngineServices{platform->windowList(), platform->accessibility(),
                                                platform->workspace(), own, platform->displays(),
                                                overlays, wallpaper, clock, scheduler, defaults});
        platform->setStackingChangedHandler([&] { controller.refresh(); });
        platform->installEventFilter();
        controller.startIfPossible();
        // Let the overlays map and settle.
        test::waitUntil(
            [&] {
                QCoreApplication::processEvents();
                return false;
            },
            std::chrono::milliseconds(500));
        measureCycles(
            connection, platform->context(),
            [&] {
                QCoreApplication::processEvents();
                platform->x11WindowList().invalidate();
            },
            [&] { controller.refresh(); }, f);
        for (const auto& overlay : controller.overlays()) {
            ++f.overlays;
            f.visibleOverlays += overlay->isVisible() ? 1 : 0;
        }
        measureExclusions(display, *platform, controller, defaults, connection, figures);
        controller.stop();
    }
    return figures;
}

// Steady refreshes (events pumped between cycles, nothing changes) without exclusions and with
// five excluded windows beneath the overlays (no Shape request), then one of them moved through
// the window manager before each cycle (the refresh that follows cuts its hole anew: one Shape
// request). The stacking handler is silenced meanwhile, so only the measured refresh sees the
// move.
void measureExclusions(const std::string& display, x11::X11Platform& platform,
                       DimController& controller, DefaultsStore& defaults,
                       xcb_connection_t* connection, EngineFigures& figures) {
    platform.setStackingChangedHandler([] {});
    const auto pump = [] { QCoreApplication::processEvents(); };
    // Counted within the measured refreshes only: the reconcile timer may run one in between.
    // The refreshes' own CPU time too: on a loaded machine the wall time also holds the waits
    // for a core.
    const auto countShapes = [&](Figures& f, auto prepare, int cycles) {
        std::uint64_t sent = 0;
        double cpu = 0;
        measureCycles(
            connection, platform.context(), prepare,
            [&] {
                const auto before = shapeRequests(controller);
                const double t0 = threadCpuMicroseconds();
                controller.refresh();
                cpu += threadCpuMicroseconds() - t0;
                sent += shapeRequests(controller) - before;
            },
            f, cycles);
        f.shapeRequests = double(sent) / cycles;
        f.cpuUsPerCycle = cpu / cycles;
    };
    countShapes(figures.steadyPlain, pump, kCycles);
    defaults.setStringList(keys::kExcludedWindowClasses, {kExcludedClass});
    pump();
    controller.refresh();
    countShapes(figures.steadyHoles, pump, kCycles);

    // The topmost excluded window, and where the engine's list has its frame.
    const auto list = platform.x11WindowList().windows().value_or(std::vector<x11::X11Window>{});
    const auto kept = std::find_if(list.begin(), list.end(), [](const x11::X11Window& w) {
        return w.onScreen && w.wmClass.instance == kExcludedClass;
    });
    test::TestClient client(display);
    const auto geometry = kept == list.end() ? std::nullopt : client.rootGeometry(kept->id);
    if (!geometry)
        return;
    const xcb_window_t id = kept->id;
    const auto frameX = [&]() -> std::optional<double> {
        for (const auto& w : platform.x11WindowList().windows().value_or(list)) {
            if (w.id == id && w.bounds)
                return w.bounds->x;
        }
        return std::nullopt;
    };
    int step = 0;
    countShapes(
        figures.movingHole,
        [&] {
            const auto was = frameX();
            const int x = (*geometry)[0] + (++step % 2 ? 6 : 0);
            client.moveResize(id, x, (*geometry)[1], (*geometry)[2], (*geometry)[3]);
            client.flush();
            test::waitUntil(
                [&] {
                    QCoreApplication::processEvents();
                    return frameX() != was;
                },
                std::chrono::seconds(2));
        },
        kCycles / 4);
}
#endif

}  // namespace

int main() {
    test::XSessionOptions options;
    options.monitors = sombrix::test::twoMonitors();
    test::XSession session(options);
    if (!session.ok())
        return bench::sessionFailed(session, "x11_cycle");
    const pid_t owner = startWindowOwner(session.display());
    if (owner <= 0) {
        std::fprintf(stderr, "x11_cycle: could not create the client windows\n");
        return 1;
    }

    const Figures backend = measureBackend(session.display());
    std::printf(
        "x11_backend_part windows=%d displays=2 us_per_cycle=%.1f round_trips=%.2f "
        "other_requests=%.2f\n",
        kWindows, backend.usPerCycle, backend.roundTrips, backend.orderingRequests);
    Figures last = backend;
#ifdef SOMBRIX_BENCH_WITH_ENGINE
    const EngineFigures figures = measureEngine(session.display());
    const Figures& engine = figures.refresh;
    std::printf(
        "x11_engine_refresh windows=%d displays=2 us_per_cycle=%.1f round_trips=%.2f "
        "ordering_requests=%.2f (real DimController::refresh, %d overlays, %d showing)\n",
        kWindows, engine.usPerCycle, engine.roundTrips, engine.orderingRequests, engine.overlays,
        engine.visibleOverlays);
    std::printf(
        "x11_exclusions windows=%d excluded=5 plain_steady_us_per_cycle=%.1f "
        "plain_steady_cpu_us=%.1f steady_us_per_cycle=%.1f steady_cpu_us=%.1f "
        "steady_shape_requests=%.2f steady_ordering_requests=%.2f moving_us_per_cycle=%.1f "
        "moving_cpu_us=%.1f moving_shape_requests=%.2f moving_ordering_requests=%.2f\n",
        kWindows, figures.steadyPlain.usPerCycle, figures.steadyPlain.cpuUsPerCycle,
        figures.steadyHoles.usPerCycle, figures.steadyHoles.cpuUsPerCycle,
        figures.steadyHoles.shapeRequests, figures.steadyHoles.orderingRequests,
        figures.movingHole.usPerCycle, figures.movingHole.cpuUsPerCycle,
        figures.movingHole.shapeRequests, figures.movingHole.orderingRequests);
    last = engine;
#else
    std::printf("(engine or overlays not built: the figures below are the backend's part)\n");
#endif
    ::kill(owner, SIGKILL);
    ::waitpid(owner, nullptr, 0);
    std::printf(
        "x11_cycle windows=%d displays=2 us_per_cycle=%.0f round_trips=%.2f "
        "ordering_requests=%.2f\n",
        kWindows, last.usPerCycle, last.roundTrips, last.orderingRequests);
    return 0;
}

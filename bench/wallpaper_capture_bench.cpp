// Captures a 1920x1080 wallpaper repeatedly and reports the median capture time, then runs the
// overlay's asynchronous capture and reports the longest the main loop was held by one event.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QRandomGenerator>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

#include "app_bench_support.h"
#include "overlay/overlay_window.h"
#include "overlay/wallpaper_capture.h"
#include "overlay/x11_overlay_factory.h"
#include "xsession.h"

namespace {

class NoStacking final : public sombrix::x11::X11Stacking {
public:
    std::optional<xcb_window_t> topLevelOf(xcb_window_t w) override { return w; }
    std::optional<xcb_window_t> topmostNormalTopLevel(xcb_window_t) override {
        return std::nullopt;
    }
    std::optional<xcb_window_t> topmostDesktopTopLevel() override { return std::nullopt; }
    void overlayRestacked(xcb_window_t, std::optional<xcb_window_t>, std::uint32_t,
                          xcb_connection_t*, xcb_void_cookie_t) override {}
    void overlayMapped(xcb_window_t, bool) override {}
};

class AlwaysCapture final : public sombrix::WallpaperService {
public:
    bool canCapture() override { return true; }
    void requestAccess() override {}
    std::optional<sombrix::WallpaperStoreToken> storeModificationDate() override {
        return std::nullopt;
    }
};

double threadCpuMs() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Times every event the main loop delivers: the longest is the longest the main thread was held
// by work of ours (scheduling delays of a busy machine are not counted), in elapsed time and in
// the thread's own CPU time (which a loaded machine's preemptions do not inflate).
class TimedApplication final : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        QElapsedTimer timer;
        timer.start();
        const double cpu = threadCpuMs();
        const bool handled = QApplication::notify(receiver, event);
        if (measuring) {
            longest = std::max(longest, timer.nsecsElapsed() / 1e6);
            longestCpu = std::max(longestCpu, threadCpuMs() - cpu);
        }
        return handled;
    }
    bool measuring = false;
    double longest = 0;
    double longestCpu = 0;
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    using namespace sombrix;
    test::XSessionOptions options;
    options.width = 1920;
    options.height = 1080;
    options.windowManager.command.clear();
    test::XSession session(options);
    if (!session.ok())
        return bench::sessionFailed(session, "bench_wallpaper_capture");

    // Noise, so nothing in the path can take a shortcut for uniform pixels.
    QImage noise(1920, 1080, QImage::Format_RGB32);
    auto* random = QRandomGenerator::global();
    for (int y = 0; y < noise.height(); ++y) {
        auto* line = reinterpret_cast<quint32*>(noise.scanLine(y));
        for (int x = 0; x < noise.width(); ++x)
            line[x] = random->generate() | 0xff000000u;
    }
    const QString file = QDir::temp().filePath(QStringLiteral("sombrix-bench-wallpaper.png"));
    noise.save(file);
    if (session.run({"hsetroot", "-fill", file.toStdString()}) != 0) {
        std::fprintf(stderr, "bench_wallpaper_capture: hsetroot failed\n");
        return 1;
    }
    QFile::remove(file);

    const Rect frame{0, 0, 1920, 1080};
    std::vector<double> times;
    for (int i = 0; i < 40; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const auto picture = WallpaperCapture::capture(session.display(), frame);
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        if (!picture || picture->size() != QSize(1920, 1080)) {
            std::fprintf(stderr, "bench_wallpaper_capture: capture failed\n");
            return 1;
        }
        if (i >= 5)
            times.push_back(took.count());  // the first runs warm caches
    }

    qputenv("DISPLAY", session.display().c_str());
    qputenv("QT_QPA_PLATFORM", "xcb");
    TimedApplication app(argc, argv);
    NoStacking stacking;
    AlwaysCapture wallpaper;
    X11OverlayFactory factory({nullptr, stacking, wallpaper, session.display(), {}, {}});
    auto made = factory.makeOverlay({"screen", frame, frame});
    auto* overlay = static_cast<OverlayWindow*>(made.get());

    // The longest gap between ticks of a 1 ms timer while captures run and land, less the
    // timer's own period: how long the main thread could not react.
    double longestStall = 0;
    QElapsedTimer sinceTick;
    QTimer watchdog;
    watchdog.setTimerType(Qt::PreciseTimer);
    watchdog.setInterval(1);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        longestStall = std::max(longestStall, sinceTick.nsecsElapsed() / 1e6 - 1.0);
        sinceTick.restart();
    });
    constexpr int kCaptures = 20;
    int landed = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (overlay->hasPicture()) {
            ++landed;
            if (landed == kCaptures) {
                app.quit();
                return;
            }
            overlay->setPicture(QImage());
            overlay->captureWallpaper();
        }
    });
    // One second of the watchdog alone first: the stall the machine causes by itself.
    double idleStall = 0;
    QTimer::singleShot(0, [&] {
        sinceTick.start();
        watchdog.start();
    });
    QTimer::singleShot(1000, [&] {
        idleStall = longestStall;
        longestStall = 0;
        poll.start(2);
        app.measuring = true;
        overlay->captureWallpaper();
    });
    QTimer::singleShot(30000, &app, &QApplication::quit);
    app.exec();
    if (landed < kCaptures) {
        std::fprintf(stderr, "bench_wallpaper_capture: only %d captures landed\n", landed);
        return 1;
    }
    std::fprintf(stderr, "1 ms timer: longest late tick %.2f ms idle, %.2f ms during captures\n",
                 std::max(0.0, idleStall), std::max(0.0, longestStall));
    std::printf(
        "wallpaper_capture width=1920 height=1080 ms=%.2f main_thread_blocked_ms=%.2f "
        "main_thread_cpu_ms=%.2f\n",
        median(times), app.longest, app.longestCpu);
    return 0;
}

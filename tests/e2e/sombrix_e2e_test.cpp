// The built sombrix under Xvfb with openbox, picom and two monitors: where its overlays lie after
// each activation, what a full-screen window does to them, and what the screen looks like.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>
#include <cstdlib>
#include <memory>
#include <random>

#include "test_client.h"
#include "xsession.h"

namespace sombrix {
namespace {

using namespace test;

constexpr auto kDeadline = std::chrono::seconds(15);

XSessionOptions sessionOptions() {
    XSessionOptions o;
    o.twoMonitors = true;
    o.compositor = true;
    return o;
}

class SombrixE2E : public ::testing::Test {
protected:
    void SetUp() override {
        session_ = std::make_unique<XSession>(sessionOptions());
        if (session_->unavailable())
            GTEST_SKIP() << session_->error();
        ASSERT_TRUE(session_->ok()) << session_->error();
        client_ = std::make_unique<TestClient>(session_->display());
        ASSERT_TRUE(client_->ok());
        ASSERT_TRUE(config_.isValid());
    }
    void TearDown() override {
        if (sombrix_ > 0)
            session_->kill(sombrix_);
    }

    void writeSettings(const QByteArray& general) {
        QDir().mkpath(config_.filePath(QStringLiteral("Sombrix")));
        QFile f(config_.filePath(QStringLiteral("Sombrix/Sombrix.conf")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("[General]\n" + general);
    }

    void startSombrix() {
        ::setenv("XDG_CONFIG_HOME", config_.path().toLocal8Bit().constData(), 1);
        sombrix_ = session_->spawn({SOMBRIX_BINARY});
        ASSERT_GT(sombrix_, 0);
        ASSERT_TRUE(waitUntil([&] { return overlays().size() == 2; }, kDeadline))
            << "sombrix made no overlay per monitor";
    }

    xcb_window_t whiteWindow(const char* title, int x, int y) {
        return client_->createWindow({.title = title, .x = x, .y = y, .width = 300, .height = 250});
    }

    // A white window of another process (xlogo with its logo drawn in white).
    xcb_window_t otherClientWindow(const std::string& title, int x, int y) {
        const std::string geometry = "300x250+" + std::to_string(x) + "+" + std::to_string(y);
        session_->spawn(
            {"xlogo", "-bg", "white", "-fg", "white", "-geometry", geometry, "-title", title});
        xcb_window_t found = 0;
        waitUntil(
            [&] {
                std::string out;
                if (session_->run(
                        {"xdotool", "search", "--onlyvisible", "--name", "^" + title + "$"},
                        &out) != 0)
                    return false;
                found = static_cast<xcb_window_t>(std::strtoul(out.c_str(), nullptr, 10));
                return found != 0 && client_->isManaged(found);
            },
            kDeadline);
        return found;
    }

    std::vector<xcb_window_t> overlays() { return client_->sombrixOverlays(); }

    // The overlay covering the monitor that starts at `x`.
    std::optional<xcb_window_t> overlayAt(int x) {
        for (xcb_window_t w : overlays()) {
            const auto g = client_->rootGeometry(w);
            if (g && (*g)[0] == x)
                return w;
        }
        return std::nullopt;
    }

    bool directlyBeneath(std::optional<xcb_window_t> overlay, xcb_window_t client) {
        return overlay && client_->isViewable(*overlay) &&
               client_->isDirectlyBeneath(*overlay, client);
    }

    void activate(xcb_window_t w) {
        client_->activate(w);
        ASSERT_TRUE(waitUntil([&] { return client_->activeWindow() == w; }, kDeadline));
    }

    QImage screenshot() {
        const QString file = config_.filePath(QStringLiteral("screen.png"));
        QFile::remove(file);
        if (session_->run({"import", "-window", "root", file.toStdString()}) != 0)
            return {};
        return QImage(file);
    }

    // Waits until the screen shows `expected` (±tolerance per channel) at each point.
    bool screenShows(const std::vector<std::pair<QPoint, QRgb>>& expected, int tolerance = 12) {
        QImage last;
        const bool shown = waitUntil(
            [&] {
                last = screenshot();
                if (last.isNull())
                    return false;
                for (const auto& [point, colour] : expected) {
                    const QRgb p = last.pixel(point);
                    if (std::abs(qRed(p) - qRed(colour)) > tolerance ||
                        std::abs(qGreen(p) - qGreen(colour)) > tolerance ||
                        std::abs(qBlue(p) - qBlue(colour)) > tolerance)
                        return false;
                }
                return true;
            },
            kDeadline);
        if (!shown && !last.isNull()) {
            for (const auto& [point, colour] : expected)
                ADD_FAILURE() << "at " << point.x() << "," << point.y() << " wanted " << std::hex
                              << colour << " saw " << last.pixel(point);
        }
        return shown;
    }

    std::unique_ptr<XSession> session_;
    std::unique_ptr<TestClient> client_;
    QTemporaryDir config_;
    pid_t sombrix_ = -1;
};

TEST_F(SombrixE2E, TheFocusedMonitorsOverlayFollowsEveryActivation) {
    const xcb_window_t a = whiteWindow("e2e-a", 50, 100);
    const xcb_window_t b = otherClientWindow("e2e-b", 400, 300);
    const xcb_window_t c = otherClientWindow("e2e-c", 900, 100);
    const xcb_window_t d = whiteWindow("e2e-d", 1200, 400);
    ASSERT_TRUE(a && b && c && d);
    startSombrix();

    const std::vector<std::pair<xcb_window_t, int>> windows{{a, 0}, {b, 0}, {c, 800}, {d, 800}};
    std::mt19937 random(7);
    std::vector<std::size_t> order{0, 2, 1, 3};
    for (int i = 0; i < 8; ++i)
        order.push_back(random() % windows.size());
    for (std::size_t index : order) {
        const auto [window, monitor] = windows[index];
        activate(window);
        ASSERT_TRUE(
            waitUntil([&] { return directlyBeneath(overlayAt(monitor), window); }, kDeadline))
            << "overlay not beneath window " << window;
        EXPECT_NE(client_->activeWindow(), overlayAt(0));
        EXPECT_NE(client_->activeWindow(), overlayAt(800));
    }

    // The other monitor keeps its topmost window bright.
    activate(a);
    activate(c);
    EXPECT_TRUE(waitUntil([&] { return directlyBeneath(overlayAt(800), c); }, kDeadline));
    EXPECT_TRUE(waitUntil([&] { return directlyBeneath(overlayAt(0), a); }, kDeadline));

    // A full-screen window needs no overlay on its monitor.
    client_->changeState(c, "_NET_WM_STATE_FULLSCREEN", true);
    client_->flush();
    EXPECT_TRUE(waitUntil(
        [&] {
            const auto o = overlayAt(800);
            return o && !client_->isViewable(*o);
        },
        kDeadline));
    client_->changeState(c, "_NET_WM_STATE_FULLSCREEN", false);
    client_->flush();
    EXPECT_TRUE(waitUntil([&] { return directlyBeneath(overlayAt(800), c); }, kDeadline));
}

TEST_F(SombrixE2E, BackgroundWindowsAreDimmedAndTheFocusedOneIsUntouched) {
    writeSettings("dimStrength=0.5\n");
    const xcb_window_t background = otherClientWindow("e2e-background", 100, 100);
    const xcb_window_t focused = whiteWindow("e2e-focused", 450, 400);
    const xcb_window_t right = whiteWindow("e2e-right", 1000, 200);
    ASSERT_TRUE(background && focused && right);
    activate(focused);
    startSombrix();
    ASSERT_TRUE(waitUntil([&] { return directlyBeneath(overlayAt(0), focused); }, kDeadline));

    // Left monitor: the background window under half-black; the focused window white. The right
    // monitor's topmost window stays bright.
    EXPECT_TRUE(screenShows({{QPoint(200, 200), qRgb(128, 128, 128)},
                             {QPoint(600, 550), qRgb(255, 255, 255)},
                             {QPoint(1150, 300), qRgb(255, 255, 255)}}));
}

TEST_F(SombrixE2E, TheWallpaperLookShowsTheWallpaperWhereBackgroundWindowsWere) {
    writeSettings("dimStyle=wallpaper\n");
    ASSERT_EQ(session_->run({"hsetroot", "-solid", "#204080"}), 0);
    const xcb_window_t background = otherClientWindow("e2e-background", 100, 100);
    const xcb_window_t focused = whiteWindow("e2e-focused", 450, 400);
    ASSERT_TRUE(background && focused);
    activate(focused);
    startSombrix();
    ASSERT_TRUE(waitUntil([&] { return directlyBeneath(overlayAt(0), focused); }, kDeadline));

    EXPECT_TRUE(screenShows(
        {{QPoint(200, 200), qRgb(0x20, 0x40, 0x80)}, {QPoint(600, 550), qRgb(255, 255, 255)}}, 2));
}

}  // namespace
}  // namespace sombrix

// The overlay window and the wallpaper capture against a private X session with openbox and two
// virtual monitors: stacking places, input and focus, opacity, and wallpaper pixels.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QScreen>
#include <cstdlib>
#include <memory>

#include "overlay/overlay_window.h"
#include "overlay/wallpaper_capture.h"
#include "overlay/x11_overlay_factory.h"
#include "overlay/x11_wallpaper_service.h"
#include "test_client.h"
#include "x11_backend.h"
#include "xsession.h"

namespace sombrix {
namespace {

using namespace test;

XSession* session = nullptr;

class AlwaysCapture final : public WallpaperService {
public:
    bool canCapture() override { return true; }
    void requestAccess() override {}
    std::optional<WallpaperStoreToken> storeModificationDate() override { return std::nullopt; }
    bool isCompositing() override { return compositing; }
    bool compositing = true;
};

TestWindowSpec spec(const char* title, int x, int y, std::uint16_t width = 300,
                    std::uint16_t height = 200) {
    return {.title = title, .x = x, .y = y, .width = width, .height = height};
}

xcb_connection_t* qtConnection() {
    return qApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
}

bool pumpUntil(const std::function<bool()>& condition) {
    return waitUntil([&] {
        QCoreApplication::processEvents();
        return condition();
    });
}

class OverlayX11 : public ::testing::Test {
protected:
    void SetUp() override {
        if (!session)
            GTEST_SKIP() << "no X session";
        client_ = std::make_unique<TestClient>(session->display());
        ASSERT_TRUE(client_->ok());
        backend_ = std::make_unique<x11::Backend>(session->display());
        factory_ = std::make_unique<X11OverlayFactory>(OverlayEnvironment{
            nullptr, backend_->platform.stacking(), wallpaper_, session->display(), {}, {}});
    }

    Display display(int index, double topBand = 0) {
        const QScreen* s = QGuiApplication::screens().at(index);
        const QRect g = s->geometry();
        Display d;
        d.name = s->name().toStdString();
        d.frame = {double(g.x()), double(g.y()), double(g.width()), double(g.height())};
        d.visibleFrame = d.frame;
        d.visibleFrame.y += topBand;
        d.visibleFrame.height -= topBand;
        return d;
    }

    std::unique_ptr<OverlayWindow> overlay(int screen, double topBand = 0) {
        auto made = factory_->makeOverlay(display(screen, topBand));
        return std::unique_ptr<OverlayWindow>(static_cast<OverlayWindow*>(made.release()));
    }

    // Whether the overlay is the root child directly beneath `client`'s frame.
    bool directlyBeneath(const OverlayWindow& o, xcb_window_t client) {
        return client_->isDirectlyBeneath(o.windowNumber(), client);
    }

    std::optional<std::uint32_t> opacity(xcb_window_t w) {
        return value32(client_->connection(), w, client_->atom("_NET_WM_WINDOW_OPACITY"));
    }

    AlwaysCapture wallpaper_;
    std::unique_ptr<TestClient> client_;
    std::unique_ptr<x11::Backend> backend_;
    std::unique_ptr<X11OverlayFactory> factory_;
};

TEST_F(OverlayX11, StaysUnmanagedLetsClicksThroughAndFollowsTheBrightWindow) {
    const xcb_window_t below = client_->createWindow(spec("below", 50, 50, 400, 300));
    const xcb_window_t front = client_->createWindow(spec("front", 300, 250, 300, 300));
    ASSERT_TRUE(below && front);
    client_->activate(front);
    ASSERT_TRUE(pumpUntil([&] { return client_->activeWindow() == front; }));

    auto o = overlay(0);
    EXPECT_FALSE(o->isVisible());
    o->orderBelow(front);
    ASSERT_TRUE(pumpUntil([&] { return client_->isViewable(o->windowNumber()); }));
    EXPECT_TRUE(o->isVisible());
    EXPECT_TRUE(directlyBeneath(*o, front));

    EXPECT_TRUE(client_->isOverrideRedirect(o->windowNumber()));
    EXPECT_FALSE(client_->isManaged(o->windowNumber()));

    // A click on the part of `below` that the overlay covers reaches `below`, which openbox
    // then activates; the overlay itself never becomes active.
    ASSERT_EQ(session->run({"xdotool", "mousemove", "100", "100", "click", "1"}), 0);
    EXPECT_TRUE(pumpUntil([&] { return client_->activeWindow() == below; }));
    EXPECT_NE(client_->activeWindow(), std::optional<xcb_window_t>(o->windowNumber()));
    EXPECT_EQ(QGuiApplication::focusWindow(), nullptr);

    // Already shown, a new order only moves it: beneath `below`, now raised above `front`.
    o->orderBelow(below);
    EXPECT_TRUE(pumpUntil([&] { return directlyBeneath(*o, below); }));
    // A window that is gone leaves the overlay where it was.
    client_->destroy(front);
    o->orderBelow(front);
    QCoreApplication::processEvents();
    EXPECT_TRUE(directlyBeneath(*o, below));

    o->orderOut();
    EXPECT_TRUE(pumpUntil([&] { return !client_->isViewable(o->windowNumber()); }));
    EXPECT_FALSE(o->isVisible());
}

TEST_F(OverlayX11, OrderFrontRegardlessStaysBelowADock) {
    TestWindowSpec panel = dockSpec(0, 0, 800, 30, true);
    panel.title = "dock";
    const xcb_window_t dock = client_->createWindow(panel);
    const xcb_window_t normal = client_->createWindow(spec("normal", 100, 100));
    ASSERT_TRUE(dock && normal);
    auto o = overlay(0);
    o->orderFrontRegardless();
    ASSERT_TRUE(pumpUntil([&] { return client_->isViewable(o->windowNumber()); }));

    const auto children = client_->rootChildren();
    auto index = [&](xcb_window_t w) {
        return std::find(children.begin(), children.end(), w) - children.begin();
    };
    const auto overlayAt = index(o->windowNumber());
    EXPECT_EQ(overlayAt, index(*client_->topLevelOf(normal)) + 1);
    EXPECT_LT(overlayAt, index(*client_->topLevelOf(dock)));
}

TEST_F(OverlayX11, CoversTheDisplayBelowTheTopBandWithTheRightLook) {
    auto o = overlay(1, 30);
    // Another connection sees the property once the server has read our request: wait for it.
    o->apply(Style::black, 0.3);
    EXPECT_TRUE(pumpUntil([&] {
        return opacity(o->windowNumber()) == std::optional<std::uint32_t>(0.3 * 0xffffffffu + 0.5);
    }));
    o->apply(Style::black, 1.0);
    EXPECT_TRUE(pumpUntil([&] {
        const auto opaque = opacity(o->windowNumber());
        return !opaque || *opaque == 0xffffffffu;
    }));

    o->orderFrontRegardless();
    ASSERT_TRUE(pumpUntil([&] { return client_->isViewable(o->windowNumber()); }));
    const auto g = client_->rootGeometry(o->windowNumber());
    ASSERT_TRUE(g);
    EXPECT_EQ(*g, (std::array<int, 4>{800, 30, 800, 870}));

    // The picture covers the whole display: its top band is cut off and every other row lies
    // over the same row of the display.
    QImage rows(800, 900, QImage::Format_RGB32);
    for (int y = 0; y < rows.height(); ++y)
        for (int x = 0; x < rows.width(); ++x)
            rows.setPixel(x, y, qRgb(y % 256, y / 256, x % 256));
    o->apply(Style::wallpaper, 0.5);
    o->setPicture(rows);
    const QImage shown = o->grab().toImage();
    ASSERT_EQ(shown.size(), QSize(800, 870));
    EXPECT_EQ(shown.pixel(10, 0), rows.pixel(10, 30));
    EXPECT_EQ(shown.pixel(700, 869), rows.pixel(700, 899));
    o->apply(Style::black, 0.5);
    EXPECT_EQ(o->grab().toImage().pixel(10, 0), qRgb(0, 0, 0));

    // No compositor, so no fade: hidden at once, and told later from the event loop (the engine
    // keeps the overlay only after the call returns).
    wallpaper_.compositing = false;
    bool faded = false;
    o->fadeOut(0.2, [&] { faded = true; });
    EXPECT_FALSE(faded);
    EXPECT_FALSE(o->isVisible());
    EXPECT_TRUE(pumpUntil([&] { return faded; }));
}

// Sets the wallpaper through hsetroot in the session; no arguments: removes it.
void setWallpaper(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        for (const char* pixmap : {"_XROOTPMAP_ID", "ESETROOT_PMAP_ID"})
            ASSERT_EQ(session->run({"xprop", "-root", "-remove", pixmap}), 0);
        return;
    }
    std::vector<std::string> argv{"hsetroot"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    ASSERT_EQ(session->run(argv), 0);
}

// Stretching may round a channel by a step or two.
bool near(QRgb a, QRgb b) {
    return std::abs(qRed(a) - qRed(b)) <= 3 && std::abs(qGreen(a) - qGreen(b)) <= 3 &&
           std::abs(qBlue(a) - qBlue(b)) <= 3;
}

QRgb centre(const QImage& image) {
    return image.pixel(image.width() / 2, image.height() / 2);
}

// Each monitor gets its own part of a wallpaper stretched over the whole screen; a display the
// wallpaper does not reach, or no wallpaper at all, gets nothing.
TEST_F(OverlayX11, CapturesEachMonitorsPartOfTheRootWallpaper) {
    setWallpaper({});
    const Rect left{0, 0, 800, 900};
    const Rect right{800, 0, 800, 900};
    EXPECT_FALSE(WallpaperCapture::capture(session->display(), left));

    const QString image = QDir::temp().filePath(
        QStringLiteral("sombrix-wallpaper-%1.png").arg(QCoreApplication::applicationPid()));
    QImage halves(1600, 900, QImage::Format_RGB32);
    // The left half red with a green top-left corner (any flip shows), the right half blue.
    for (int y = 0; y < 900; ++y)
        for (int x = 0; x < 1600; ++x)
            halves.setPixel(x, y,
                            x >= 800             ? qRgb(0, 0, 255)
                            : x < 400 && y < 450 ? qRgb(0, 255, 0)
                                                 : qRgb(255, 0, 0));
    ASSERT_TRUE(halves.save(image));
    setWallpaper({"-root", "-fill", image.toStdString()});
    QFile::remove(image);
    const auto l = WallpaperCapture::capture(session->display(), left);
    const auto r = WallpaperCapture::capture(session->display(), right);
    ASSERT_TRUE(l && r);
    EXPECT_EQ(l->size(), QSize(800, 900));
    EXPECT_TRUE(near(l->pixel(5, 5), qRgb(0, 255, 0)));
    EXPECT_TRUE(near(l->pixel(790, 890), qRgb(255, 0, 0)));
    EXPECT_TRUE(near(r->pixel(5, 5), qRgb(0, 0, 255)));
    EXPECT_TRUE(near(r->pixel(790, 890), qRgb(0, 0, 255)));
    EXPECT_FALSE(WallpaperCapture::capture(session->display(), {4000, 0, 800, 900}));
}

TEST_F(OverlayX11, WallpaperChangesChangeTheTokenAndLandInTheOverlay) {
    X11WallpaperService service(qtConnection(), rootOf(qtConnection()));
    // No root pixmap and no desktop window: no picture can be had until a wallpaper is set.
    setWallpaper({});
    EXPECT_TRUE(pumpUntil([&] { return !service.canCapture(); }));

    setWallpaper({"-solid", "#102030"});
    ASSERT_TRUE(pumpUntil([&] { return service.canCapture(); }));
    const auto first = service.storeModificationDate();
    // hsetroot reuses the pixmap id; the change must still show.
    setWallpaper({"-solid", "#405060"});
    EXPECT_TRUE(pumpUntil([&] { return service.storeModificationDate() != first; }));

    auto o = overlay(0);
    o->apply(Style::black, 0.4);
    o->apply(Style::wallpaper, 0.4);
    EXPECT_TRUE(pumpUntil([&] {
        const auto full = opacity(o->windowNumber());
        return !full || *full == 0xffffffffu;
    }));
    EXPECT_TRUE(pumpUntil([&] { return o->hasPicture(); }));
    // The black look drops the picture, also one whose capture lands afterwards.
    const QImage landing(8, 8, QImage::Format_RGB32);
    o->apply(Style::black, 0.4);
    EXPECT_FALSE(o->hasPicture());
    o->setPicture(landing);
    EXPECT_FALSE(o->hasPicture());
}

// No compositor runs: the service has the server keep the desktop window's contents.
TEST_F(OverlayX11, ADesktopWindowIsPreferredToTheRootPixmap) {
    X11WallpaperService service(qtConnection(), rootOf(qtConnection()));
    EXPECT_FALSE(service.isCompositing());
    setWallpaper({"-solid", "#336699"});
    TestWindowSpec desktop = spec("desktop", 0, 0, 1600, 900);
    desktop.types = {"_NET_WM_WINDOW_TYPE_DESKTOP"};
    const xcb_window_t w = client_->createWindow(desktop);
    ASSERT_TRUE(w);
    // The desktop window is white; the root pixmap behind it is not.
    auto shows = [&](QRgb colour) {
        const auto picture = WallpaperCapture::capture(session->display(), {800, 0, 800, 900});
        return picture && centre(*picture) == colour;
    };
    EXPECT_TRUE(pumpUntil([&] { return service.canCapture() && shows(qRgb(255, 255, 255)); }));
    // A desktop that goes while the root pixmap stays is a new picture all the same.
    const auto withDesktop = service.storeModificationDate();
    client_->destroy(w);
    client_->flush();
    EXPECT_TRUE(pumpUntil([&] {
        return service.storeModificationDate() != withDesktop && shows(qRgb(0x33, 0x66, 0x99));
    }));
}

}  // namespace
}  // namespace sombrix

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    sombrix::test::XSessionOptions options;
    options.monitors = sombrix::test::twoMonitors();
    options.composite = true;
    auto xsession = std::make_unique<sombrix::test::XSession>(options);
    if (!xsession->ok()) {
        std::fprintf(stderr, "X session unavailable: %s\n", xsession->error().c_str());
        return xsession->unavailable() ? RUN_ALL_TESTS() : 1;
    }
    sombrix::session = xsession.get();
    ::setenv("DISPLAY", xsession->display().c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}

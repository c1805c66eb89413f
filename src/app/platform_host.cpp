// The composition of the X11 session's services and the engine.
#include "app/platform_host.h"

#include <unistd.h>
#include <xcb/xcb.h>

#include <QGuiApplication>
#include <csignal>
#include <cstdlib>

#include "app/command_line.h"

namespace sombrix {

namespace {

// The host whose connection an exit may find broken; cleared before the host goes away.
PlatformHost* exitingHost = nullptr;

// Qt's xcb plugin usually notices a dead server before we do, and calls exit(1) with its own
// message. Checked from that exit, the connection runs our own handler, which ends the process
// the documented way before the exit goes on.
void checkConnectionAtExit() {
    if (exitingHost)
        exitingHost->x11().context().connectionBroken();
}

// A screen change the server announced just before it died makes Qt re-read the screens and
// follow a reply that never came (Qt 6.4, QXcbScreen::updateColorSpaceAndEdid). That crash is
// the lost server, and ends as such; any other one goes on to the default action.
void crashed(int signal) {
    if (exitingHost && xcb_connection_has_error(exitingHost->x11().context().connection())) {
        const ssize_t ignored =
            ::write(STDERR_FILENO, kLostConnectionMessage, sizeof kLostConnectionMessage - 1);
        (void)ignored;
        ::_exit(exitcode::kLostDisplay);
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

}  // namespace

std::unique_ptr<PlatformHost> PlatformHost::create(std::string* error) {
    auto x11 = x11::X11Platform::fromQt();
    if (!x11) {
        if (error)
            *error = "no X11 connection: Sombrix needs Qt's xcb platform";
        return nullptr;
    }
    return std::unique_ptr<PlatformHost>(new PlatformHost(std::move(x11)));
}

PlatformHost::PlatformHost(std::unique_ptr<x11::X11Platform> x11)
    : x11_(std::move(x11)), windowClasses_(x11_->context()) {
    x11::X11Context& context = x11_->context();
    wallpaper_ = std::make_unique<X11WallpaperService>(context.connection(), context.root());
    // The capture worker opens its own connection to the display Qt uses.
    const QByteArray display = qgetenv("DISPLAY");
    overlayFactory_ = std::make_unique<X11OverlayFactory>(OverlayEnvironment{
        context.connection(), x11_->stacking(), *wallpaper_, display.toStdString(),
        [platform = x11_.get()](xcb_window_t w) { platform->registerOverlay(w); },
        [platform = x11_.get()](xcb_window_t w) { platform->unregisterOverlay(w); }});
    controller_ = std::make_unique<DimController>(EngineServices{
        x11_->windowList(), x11_->accessibility(), x11_->workspace(), ownApplication_,
        x11_->displays(), *overlayFactory_, *wallpaper_, clock_, scheduler_, defaults_, &log_});
    // A restack by the window manager (a window raised between an overlay and its bright window)
    // is answered at once rather than at the next reconcile tick.
    x11_->setStackingChangedHandler([controller = controller_.get()] { controller->refresh(); });
    x11_->installEventFilter();
}

PlatformHost::~PlatformHost() {
    if (exitingHost == this)
        exitingHost = nullptr;
    // The engine goes first: its overlays unregister from the backend that is still there.
    if (controller_)
        controller_->stop();
    controller_.reset();
    overlayFactory_.reset();
}

void PlatformHost::setConnectionLostHandler(std::function<void()> handler) {
    x11_->setConnectionLostHandler([handler = std::move(handler)](int) {
        if (handler)
            handler();
    });
    static const bool registered = std::atexit(checkConnectionAtExit) == 0;
    if (registered) {
        exitingHost = this;
        std::signal(SIGSEGV, crashed);
        std::signal(SIGBUS, crashed);
    }
}

}  // namespace sombrix

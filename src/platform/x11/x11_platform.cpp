// Assembly of the X11 services for one connection.
#include "platform/x11/x11_platform.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <cstdlib>

#include "platform/x11/x11_event_filter.h"
#include "platform/x11/x11_reply.h"
#include "platform/x11/x11_sleep_watch.h"

namespace sombrix::x11 {

X11Platform::X11Platform(xcb_connection_t* connection, xcb_window_t root)
    : context_(connection, root),
      windowList_(context_),
      events_(context_, windowList_),
      accessibility_(context_, windowList_, events_),
      workspace_(context_, events_, accessibility_) {}

X11Platform::~X11Platform() {
    if (filter_ && QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeNativeEventFilter(filter_.get());
    }
}

std::unique_ptr<X11Platform> X11Platform::fromQt() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (app == nullptr) {
        return nullptr;
    }
    auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr || x11->connection() == nullptr) {
        return nullptr;
    }
    xcb_connection_t* c = x11->connection();
    const xcb_setup_t* setup = xcb_get_setup(c);
    if (setup == nullptr) {
        return nullptr;
    }
    // Qt opens the screen that DISPLAY names (":0.1" is screen 1), the first one otherwise.
    int screen = 0;
    char* host = nullptr;
    int display = 0;
    if (xcb_parse_display(nullptr, &host, &display, &screen) == 0) {
        screen = 0;
    }
    own(host);
    auto it = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < screen && it.rem > 1; ++i) {
        xcb_screen_next(&it);
    }
    return std::make_unique<X11Platform>(c, it.data->root);
}

void X11Platform::installEventFilter() {
    if (filter_ || QCoreApplication::instance() == nullptr) {
        return;
    }
    // Qt drops a ConfigureNotify when another one for the same event window waits behind it;
    // for the root's substructure that is every restack and move of every top-level, and the
    // window facts are kept from exactly those events.
    QCoreApplication::setAttribute(Qt::AA_CompressHighFrequencyEvents, false);
    filter_ = std::make_unique<X11EventFilter>(events_);
    QCoreApplication::instance()->installNativeEventFilter(filter_.get());
    events_.startListening();
    sleepWatch_ = std::make_unique<X11SleepWatch>([this] { events_.notifyWake(); });
}

void X11Platform::setStackingChangedHandler(std::function<void()> handler) {
    events_.setStackingChangedHandler(std::move(handler));
}

void X11Platform::setWindowManagerChangedHandler(std::function<void()> handler) {
    events_.setWindowManagerChangedHandler(std::move(handler));
}

void X11Platform::setConnectionLostHandler(std::function<void(int)> handler) {
    context_.setConnectionLostHandler(std::move(handler));
}

Displays& X11Platform::displays() {
    if (!displays_) {
        displays_ = std::make_unique<X11Displays>(context_);
    }
    return *displays_;
}

}  // namespace sombrix::x11

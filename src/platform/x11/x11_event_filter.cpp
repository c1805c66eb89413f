// Qt hands over every X event it reads; all events Qt reads in one go are handled before a
// queued call runs, so the flush queued by the first one sees the whole batch (a window drag
// produces hundreds of ConfigureNotify a second, and costs one refresh per batch).
#include "platform/x11/x11_event_filter.h"

#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QMetaObject>

namespace sombrix::x11 {

X11EventFilter::X11EventFilter(X11Events& events) : events_(events) {
    settle_.setSingleShot(true);
    QObject::connect(&settle_, &QTimer::timeout, &context_, [this] { flush(); });
}

void X11EventFilter::flush() {
    flushQueued_ = false;
    settle_.stop();
    if (events_.flush()) {
        settle_.start(events_.holdLeft());  // the batch waits for the rest of its change
    }
}

X11EventFilter::~X11EventFilter() = default;

bool X11EventFilter::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || message == nullptr) {
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if (events_.handleEvent(event) && !flushQueued_) {
        flushQueued_ = true;
        QMetaObject::invokeMethod(
            &context_, [this] { flush(); }, Qt::QueuedConnection);
    }
    return events_.onlyOurs(event);  // Qt keeps handling its own windows' events
}

}  // namespace sombrix::x11

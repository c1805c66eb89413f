// Qt's native event filter feeding X events to the backend; one flush per batch of events.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QTimer>

#include "platform/x11/x11_events.h"

namespace sombrix::x11 {

class X11EventFilter : public QAbstractNativeEventFilter {
public:
    explicit X11EventFilter(X11Events& events);
    ~X11EventFilter() override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    void flush();

    X11Events& events_;
    QObject context_;  // owns the queued flush: no flush after the filter is gone
    bool flushQueued_ = false;
    QTimer settle_;
};

}  // namespace sombrix::x11

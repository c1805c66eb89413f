// logind announces sleep twice: true before suspending, false after resuming.
#include "platform/x11/x11_sleep_watch.h"

#include <QDBusConnection>

namespace sombrix::x11 {

X11SleepWatch::X11SleepWatch(std::function<void()> onWake) : onWake_(std::move(onWake)) {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        return;
    }
    // Without logind nothing reports a wake; the reconcile timer covers it.
    bus.connect(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"),
                this, SLOT(prepareForSleep(bool)));
}

void X11SleepWatch::prepareForSleep(bool starting) {
    if (!starting && onWake_) {
        onWake_();
    }
}

}  // namespace sombrix::x11

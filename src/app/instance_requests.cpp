// Requests between launches, on both ends.
#include "app/instance_requests.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <cstdio>

#include "app/command_line.h"
#include "platform/qt/logging.h"

namespace sombrix {
namespace {

constexpr int kQuitTimeoutMs = 10000;
}  // namespace

bool enabledAfter(InstanceRequest request, bool enabledNow) {
    switch (request) {
        case InstanceRequest::Toggle:
            return !enabledNow;
        case InstanceRequest::Enable:
            return true;
        case InstanceRequest::Disable:
            return false;
        case InstanceRequest::OpenSettings:
        case InstanceRequest::Quit:
            break;
    }
    return enabledNow;
}

QString handleRequest(InstanceRequest request, AppDelegate& delegate, DimController& controller,
                      Accessibility& accessibility) {
    qCDebug(lcApp) << "request of a later launch:" << requestName(request);
    switch (request) {
        case InstanceRequest::OpenSettings:
            delegate.applicationShouldHandleReopen();
            return QCoreApplication::translate("InstanceRequests", "Opened the settings window.");
        case InstanceRequest::Quit:
            // Queued: the answer goes out first, then the usual way out removes the overlays.
            QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                      Qt::QueuedConnection);
            return QCoreApplication::translate("InstanceRequests", "Quitting.");
        case InstanceRequest::Toggle:
        case InstanceRequest::Enable:
        case InstanceRequest::Disable:
            // The same path as the tray menu's item, so the choice is kept the same way.
            if (enabledAfter(request, controller.isEnabled()) != controller.isEnabled()) {
                delegate.toggleEnabled();
            }
            break;
    }
    if (!controller.isEnabled()) {
        return QCoreApplication::translate("InstanceRequests", "Dimming is off.");
    }
    return accessibility.isProcessTrusted()
               ? QCoreApplication::translate("InstanceRequests", "Dimming is on.")
               : QCoreApplication::translate(
                     "InstanceRequests",
                     "Dimming is on; it starts once a window manager reports the active window.");
}

int askRunningInstance(SingleInstance& instance, const QString& display,
                       std::optional<InstanceRequest> request) {
    const InstanceRequest asked = request.value_or(InstanceRequest::OpenSettings);
    const std::optional<QString> answer = instance.send(asked);
    if (!answer) {
        std::fprintf(stderr, "sombrix: %s.\n", qPrintable(instance.error()));
        return exitcode::kFailure;
    }
    std::printf("%s\n", qPrintable(QCoreApplication::translate("InstanceRequests",
                                                               "Sombrix on display %1: %2")
                                       .arg(display, *answer)));
    std::fflush(stdout);
    if (asked == InstanceRequest::Quit && !instance.waitUntilGone(kQuitTimeoutMs)) {
        std::fprintf(stderr, "sombrix: %s\n",
                     qPrintable(QCoreApplication::translate(
                                    "InstanceRequests",
                                    "the Sombrix on display %1 did not quit within %2 seconds.")
                                    .arg(display)
                                    .arg(kQuitTimeoutMs / 1000)));
        return exitcode::kFailure;
    }
    return exitcode::kOk;
}

}  // namespace sombrix

// Runs the event loop until a condition holds: what a test waits for arrives through Qt's loop.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <functional>

namespace sombrix::test {

// True as soon as `condition` holds; false once `timeoutMs` passed without it.
inline bool spinUntil(const std::function<bool()>& condition, int timeoutMs = 20'000) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

}  // namespace sombrix::test

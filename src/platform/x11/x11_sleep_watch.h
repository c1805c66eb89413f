// The end of a system sleep, from logind's PrepareForSleep(false) on the system bus. Without a
// system bus (or without logind) nothing is reported and the reconcile timer covers the resume.
#pragma once

#include <QObject>
#include <functional>

namespace sombrix::x11 {

class X11SleepWatch : public QObject {
    Q_OBJECT
public:
    explicit X11SleepWatch(std::function<void()> onWake);

private Q_SLOTS:
    void prepareForSleep(bool starting);

private:
    std::function<void()> onWake_;
};

}  // namespace sombrix::x11

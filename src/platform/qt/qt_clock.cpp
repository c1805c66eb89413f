// Wall-clock seconds since the Unix epoch, with sub-millisecond resolution.
#include "platform/qt/qt_clock.h"

#include <chrono>

namespace sombrix {

TimePoint QtClock::now() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

}  // namespace sombrix

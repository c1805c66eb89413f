// Wall-clock time, injected so that the engine's time rules can be tested without waiting.
#pragma once

namespace sombrix {

// Seconds since the Unix epoch.
using TimePoint = double;

// Earlier than any real date (the year 1).
inline constexpr TimePoint kDistantPast = -62135596800.0;

class Clock {
public:
    virtual ~Clock() = default;
    virtual TimePoint now() = 0;
};

}  // namespace sombrix

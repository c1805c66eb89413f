// The wall clock of the running application.
#pragma once

#include "platform/clock.h"

namespace sombrix {

class QtClock final : public Clock {
public:
    TimePoint now() override;
};

}  // namespace sombrix

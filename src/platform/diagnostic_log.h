// Where the engine says what it decided and why, for someone reading a log while reproducing a
// fault. Quiet unless asked: callers check enabled() first, so a log nobody reads costs one call
// and no formatting.
#pragma once

#include <string>

namespace sombrix {

class DiagnosticLog {
public:
    virtual ~DiagnosticLog() = default;
    virtual bool enabled() const = 0;
    virtual void write(const std::string& line) = 0;
};

}  // namespace sombrix

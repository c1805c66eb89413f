// The engine's decisions in the "sombrix.engine" logging category.
#pragma once

#include "platform/diagnostic_log.h"

namespace sombrix {

class QtDiagnosticLog final : public DiagnosticLog {
public:
    bool enabled() const override;
    void write(const std::string& line) override;
};

}  // namespace sombrix

// Engine decisions as debug messages of sombrix.engine.
#include "platform/qt/qt_diagnostic_log.h"

#include <QString>

#include "platform/qt/logging.h"

namespace sombrix {

bool QtDiagnosticLog::enabled() const {
    return lcEngine().isDebugEnabled();
}

void QtDiagnosticLog::write(const std::string& line) {
    qCDebug(lcEngine).noquote() << QString::fromStdString(line);
}

}  // namespace sombrix

// Definitions of the logging categories; debug output is off unless the rules turn it on.
#include "platform/qt/logging.h"

namespace sombrix {

Q_LOGGING_CATEGORY(lcEngine, "sombrix.engine", QtInfoMsg)
Q_LOGGING_CATEGORY(lcX11, "sombrix.x11", QtInfoMsg)
Q_LOGGING_CATEGORY(lcOverlay, "sombrix.overlay", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSettings, "sombrix.settings", QtInfoMsg)
Q_LOGGING_CATEGORY(lcUpdater, "sombrix.updater", QtInfoMsg)
Q_LOGGING_CATEGORY(lcApp, "sombrix.app", QtInfoMsg)

}  // namespace sombrix

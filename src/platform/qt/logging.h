// The logging categories, one per subsystem. Quiet by default; turn them on with
// QT_LOGGING_RULES="sombrix.*.debug=true" (or one of them, e.g. "sombrix.engine.debug=true").
#pragma once

#include <QLoggingCategory>

namespace sombrix {

// Each decision of the dim engine: per display the bright window, the action taken, and why.
Q_DECLARE_LOGGING_CATEGORY(lcEngine)
// What the X server and the window manager report: the manager found or missing.
Q_DECLARE_LOGGING_CATEGORY(lcX11)
// Each restack, show and hide of an overlay window.
Q_DECLARE_LOGGING_CATEGORY(lcOverlay)
// Settings changed from the settings window or the tray.
Q_DECLARE_LOGGING_CATEGORY(lcSettings)
// Update checks and their outcome.
Q_DECLARE_LOGGING_CATEGORY(lcUpdater)
// The tray item and its menu, and requests of later launches.
Q_DECLARE_LOGGING_CATEGORY(lcApp)

}  // namespace sombrix

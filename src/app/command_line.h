// The command line: what a launch was asked to do. Keyboard shortcuts and scripts reach the tray
// program this way; with no argument a launch starts Sombrix or opens the running one's settings.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "app/single_instance.h"

namespace sombrix {

// Exit statuses, as the manual page lists them.
namespace exitcode {
inline constexpr int kOk = 0;
inline constexpr int kFailure = 1;
// The X server went away while Sombrix ran.
inline constexpr int kLostDisplay = 2;
// --quit found no Sombrix running on the display.
inline constexpr int kNotRunning = 3;
inline constexpr int kUsage = 64;
}  // namespace exitcode

struct CommandLine {
    enum class Mode { Run, Help, Version, Usage };
    Mode mode = Mode::Run;
    // Absent: start, or open the running instance's settings.
    std::optional<InstanceRequest> request;
    // The help text, or what was wrong with the arguments.
    QString text;
};

// `arguments` includes the program name first, as argv does.
CommandLine parseCommandLine(const QStringList& arguments);

// "Sombrix 1.0 (7)".
QString versionLine();

}  // namespace sombrix

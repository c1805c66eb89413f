// Ordering of dotted version strings as release feeds write them.
#pragma once

#include <QStringView>

namespace sombrix::updater {

// Negative, zero or positive as `a` is older than, the same as, or newer than `b`. Components
// compare as numbers (1.10 is newer than 1.9), missing trailing components count as zero
// (1.0 equals 1.0.0), and a component with a suffix after its number is a pre-release of that
// number (1.0b2 is older than 1.0).
int compareVersions(QStringView a, QStringView b);

}  // namespace sombrix::updater

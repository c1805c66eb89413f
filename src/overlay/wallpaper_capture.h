// A still picture of the desktop wallpaper behind one display, taken on X11.
#pragma once

#include <QImage>
#include <optional>
#include <string>

#include "platform/geometry.h"

namespace sombrix::WallpaperCapture {

// The wallpaper under `screenFrame` (root pixels), one picture pixel per root pixel:
// the desktop window of a desktop environment captured alone when there is one and the server
// keeps its contents, otherwise the root background pixmap (`_XROOTPMAP_ID`).
// Nothing when no wallpaper covers the display or the X server refuses (a pixmap that vanished
// mid-capture, a lost connection). Uses a connection of its own to `display` (empty: $DISPLAY),
// kept between captures with a shared memory segment where the server offers one, so it may run
// on any thread, several at once (they take turns).
std::optional<QImage> capture(const std::string& display, const Rect& screenFrame);

}  // namespace sombrix::WallpaperCapture

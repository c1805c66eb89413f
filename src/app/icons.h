// Our own monochrome symbols, shipped as resources and painted in one colour, the way tray and
// menu glyphs are drawn on a desktop that gives them no colour of their own.
#pragma once

#include <QColor>
#include <QIcon>
#include <string_view>

namespace sombrix {

// The symbol of that name ("circle", "circle.lefthalf.filled", "exclamationmark.triangle.fill",
// "checkmark.circle.fill") painted in `colour` at the usual tray and menu sizes; a null icon when
// we ship no such symbol. The icon is marked as a mask, so a platform that tints glyphs may.
QIcon symbolIcon(std::string_view name, const QColor& colour);

// The same symbol in the palette's text colour for normal use and its highlighted-text colour for
// a selected menu row.
QIcon templateSymbolIcon(std::string_view name);

// The tray item's symbol. It carries the installed themed name ("sombrix-dimming-symbolic", ...)
// when the icon theme has it, so that a panel that draws tray icons itself recolours it; a tray
// that shows pictures (XEmbed) gets a light glyph with a dark outline, readable on dark and light
// panels alike, since the application cannot know the panel's colour.
QIcon traySymbolIcon(std::string_view name);

// The application's own coloured icon.
QIcon applicationIcon();

}  // namespace sombrix

// The shipped symbols: each exists and paints in the one colour it is asked for; the tray's
// symbols read on any panel.
#include "app/icons.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include "app/status_menu.h"

namespace sombrix {
namespace {

// Counts the pixels of the icon at tray size that `match` accepts.
template <typename Match>
int pixels(const QIcon& icon, Match match) {
    const QImage image = icon.pixmap(22, 22).toImage().convertToFormat(QImage::Format_ARGB32);
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            count += match(image.pixelColor(x, y));
    }
    return count;
}

// The tray cannot tell the panel's colour: each tray symbol holds near-white and near-black, so
// one of them stands out on a dark panel and the other on a light one.
TEST(Symbols, EveryShippedSymbolPaintsInTheRequestedColourAndTraySymbolsReadOnAnyPanel) {
    const QColor colour(200, 40, 10);
    for (std::string_view name :
         {symbols::kDimming, symbols::kNotDimming, symbols::kWarning, symbols::kGranted}) {
        const QIcon icon = symbolIcon(name, colour);
        ASSERT_FALSE(icon.isNull()) << name;
        EXPECT_GT(pixels(icon, [](QColor p) { return p.alpha() == 255; }), 20) << name;
        EXPECT_EQ(
            pixels(icon, [&](QColor p) { return p.alpha() == 255 && p.rgb() != colour.rgb(); }), 0)
            << name;
        if (name == symbols::kGranted)
            continue;
        const QIcon tray = traySymbolIcon(name);
        EXPECT_GT(pixels(tray, [](QColor p) { return p.alpha() > 200 && p.lightness() > 220; }), 15)
            << name;
        EXPECT_GT(pixels(tray, [](QColor p) { return p.alpha() > 200 && p.lightness() < 40; }), 15)
            << name;
    }
    EXPECT_TRUE(symbolIcon("no.such.symbol", colour).isNull());
    EXPECT_FALSE(applicationIcon().isNull());
}

}  // namespace
}  // namespace sombrix

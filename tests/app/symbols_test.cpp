// The shipped symbols: each exists and paints in the one colour it is asked for; the tray's
// symbols read on any panel.
#include "app/icons.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include "app/status_menu.h"

namespace sombrix {
namespace {

TEST(Symbols, EveryShippedSymbolPaintsInExactlyTheRequestedColour) {
    const QColor colour(200, 40, 10);
    for (std::string_view name :
         {symbols::kDimming, symbols::kNotDimming, symbols::kWarning, symbols::kGranted}) {
        const QIcon icon = symbolIcon(name, colour);
        ASSERT_FALSE(icon.isNull()) << name;
        const QImage image = icon.pixmap(22, 22).toImage().convertToFormat(QImage::Format_ARGB32);
        int painted = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                if (pixel.alpha() == 255) {
                    ++painted;
                    EXPECT_EQ(pixel.rgb(), colour.rgb()) << name << " at " << x << "," << y;
                }
            }
        }
        EXPECT_GT(painted, 20) << name;
    }
    EXPECT_TRUE(symbolIcon("no.such.symbol", colour).isNull());
    EXPECT_FALSE(applicationIcon().isNull());
}

// The tray cannot tell the panel's colour: each tray symbol holds near-white and near-black, so
// one of them stands out on a dark panel and the other on a light one.
TEST(Symbols, TraySymbolsReadOnDarkAndLightPanels) {
    for (std::string_view name : {symbols::kDimming, symbols::kNotDimming, symbols::kWarning}) {
        const QImage image =
            traySymbolIcon(name).pixmap(22, 22).toImage().convertToFormat(QImage::Format_ARGB32);
        int light = 0;
        int dark = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                light += pixel.alpha() > 200 && pixel.lightness() > 220;
                dark += pixel.alpha() > 200 && pixel.lightness() < 40;
            }
        }
        EXPECT_GT(light, 15) << name;
        EXPECT_GT(dark, 15) << name;
    }
}

}  // namespace
}  // namespace sombrix

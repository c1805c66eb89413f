// The shipped symbols: each exists and paints in the one colour it is asked for.
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

}  // namespace
}  // namespace sombrix

// The tray item's look and menu in each of its three states.
#include "app/status_menu.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include "app/icons.h"

namespace sombrix {
namespace {

std::vector<std::string> titles(const std::vector<StatusMenuItem>& items) {
    std::vector<std::string> out;
    for (const auto& item : items) {
        out.push_back(item.isSeparator ? "---" : item.title);
    }
    return out;
}

TEST(StatusAppearance, WarnsWithoutPermissionWhateverTheSetting) {
    const StatusAppearance warning{symbols::kWarning, "Sombrix \u2014 Accessibility access needed"};
    EXPECT_EQ(statusAppearance(false, true), warning);
    EXPECT_EQ(statusAppearance(false, false), warning);
    EXPECT_EQ(statusAppearance(true, true), (StatusAppearance{symbols::kDimming, "Sombrix"}));
    EXPECT_EQ(statusAppearance(true, false), (StatusAppearance{symbols::kNotDimming, "Sombrix"}));
}

TEST(StatusMenu, WithPermissionOffersToggleSettingsAndQuit) {
    const auto items = statusMenuItems(true, true);
    EXPECT_EQ(titles(items), (std::vector<std::string>{"Dim Background Windows", "Settings\u2026",
                                                       "---", "Quit Sombrix"}));
    EXPECT_EQ(items[0].action, StatusMenuAction::ToggleEnabled);
    EXPECT_EQ(items[0].state, true);
    EXPECT_EQ(items[0].keyEquivalent, "");
    EXPECT_EQ(items[1].action, StatusMenuAction::OpenSettings);
    EXPECT_EQ(items[1].keyEquivalent, ",");
    EXPECT_FALSE(items[1].state.has_value());
    EXPECT_EQ(items[3].action, StatusMenuAction::Quit);
    EXPECT_EQ(items[3].keyEquivalent, "q");

    EXPECT_EQ(statusMenuItems(true, false)[0].state, false);
}

TEST(StatusMenu, WithoutPermissionLeadsWithTheWarningThenTheSameItems) {
    const auto items = statusMenuItems(false, false);
    EXPECT_EQ(titles(items), (std::vector<std::string>{"Accessibility Access Needed\u2026", "---",
                                                       "Dim Background Windows", "Settings\u2026",
                                                       "---", "Quit Sombrix"}));
    EXPECT_EQ(items[0].action, StatusMenuAction::OpenSettings);
    EXPECT_EQ(items[0].symbol, symbols::kWarning);
    EXPECT_EQ(items[0].keyEquivalent, "");
    // The toggle still shows the stored setting, so it can be flipped before access is granted.
    EXPECT_EQ(items[2].state, false);
}

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

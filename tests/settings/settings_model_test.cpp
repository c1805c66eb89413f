// The settings model: what it reads at creation, what its observers write and start, and what
// the once-a-second sync picks up from elsewhere.
#include <QSignalSpy>

#include "settings_fixture.h"

namespace sombrix::fakes {
namespace {

using SettingsModelTest = SettingsTest;

// What the model reads at creation; a sync writes nothing back (the reader clamps, the store keeps
// what it had) and follows the permissions, the login item and the updater's last check.
TEST_F(SettingsModelTest, CreationAndSyncReadTheServicesAndWriteNothing) {
    defaults.set(keys::kDimStyle, std::string("Wallpaper"));  // wrong case reads as black
    defaults.set(keys::kDimStrength, 0.05);
    updater.automatic = false;
    updater.lastCheck = 1'700'000'000.0;
    loginItems.enabled = true;
    ax.trusted = false;
    wallpaper.captureAllowed = false;

    auto& m = makeModel();
    EXPECT_TRUE(m.isEnabled());
    EXPECT_DOUBLE_EQ(m.strength(), 0.1);
    EXPECT_EQ(m.style(), Style::black);
    EXPECT_FALSE(m.automaticallyChecksForUpdates());
    EXPECT_EQ(m.lastUpdateCheck(), 1'700'000'000.0);
    EXPECT_TRUE(m.launchAtLogin());
    EXPECT_FALSE(m.isTrusted());
    EXPECT_FALSE(m.canCaptureWallpaper());
    EXPECT_FALSE(m.launchAtLoginError());

    QSignalSpy changed(&m, &SettingsModel::changed);
    m.sync();
    EXPECT_EQ(changed.count(), 0);  // nothing differs, nothing redraws
    EXPECT_EQ(storedStrength(), 0.05);
    EXPECT_FALSE(defaults.object(keys::kDimEnabled));
    EXPECT_EQ(updater.automaticWrites, 0);

    ax.trusted = true;
    wallpaper.captureAllowed = true;
    loginItems.enabled = false;
    updater.lastCheck = 1'800'000'123.5;
    m.sync();
    EXPECT_TRUE(m.isTrusted());
    EXPECT_TRUE(m.canCaptureWallpaper());
    EXPECT_FALSE(m.launchAtLogin());
    EXPECT_EQ(m.lastUpdateCheck(), 1'800'000'123.5);
    m.setAutomaticallyChecksForUpdates(true);
    EXPECT_TRUE(updater.automatic);

    // The login item is asked only for a change (its failure is the window test's).
    m.setLaunchAtLogin(false);
    m.setLaunchAtLogin(true);
    m.setLaunchAtLogin(true);
    EXPECT_TRUE(m.launchAtLogin());
    EXPECT_EQ(loginItems.calls, 1);
}

TEST_F(SettingsModelTest, ChoicesInTheWindowReachTheStoreAndTheEngine) {
    controller->startIfPossible();
    ASSERT_TRUE(controller->isRunning());
    auto& m = makeModel();
    m.setStrength(0.35);
    EXPECT_EQ(storedStrength(), 0.35);
    EXPECT_DOUBLE_EQ(factory.live().front()->applied.back().strength, 0.35);
    m.setStyle(Style::wallpaper);
    EXPECT_EQ(defaults.object(keys::kDimStyle), DefaultsValue(std::string("wallpaper")));
    EXPECT_EQ(factory.live().front()->applied.back().style, Style::wallpaper);

    m.setIsEnabled(false);
    EXPECT_EQ(defaults.object(keys::kDimEnabled), DefaultsValue(false));
    EXPECT_FALSE(controller->isRunning());
    EXPECT_EQ(onChangeCalls, 1);

    m.setIsEnabled(true);
    EXPECT_EQ(defaults.object(keys::kDimEnabled), DefaultsValue(true));
    EXPECT_TRUE(controller->isRunning());
    EXPECT_EQ(onChangeCalls, 2);

    // A switch in the window is the user's: with the fade chosen, the overlay fades out first.
    defaults.set(keys::kFadeOnToggle, true);
    m.setIsEnabled(false);
    EXPECT_EQ(factory.live().size(), 1u);
    factory.finishFades();
    EXPECT_TRUE(factory.live().empty());
}

TEST_F(SettingsModelTest, ChangesMadeElsewhereArePickedUpAndNotActedOnTwice) {
    controller->startIfPossible();
    defaults.set(keys::kDimStrength, 0.5);
    auto& m = makeModel();
    m.startSyncing();

    defaults.set(keys::kDimStrength, 0.7);
    const std::size_t before = factory.live().front()->applied.size();
    m.sync();
    EXPECT_DOUBLE_EQ(m.strength(), 0.7);
    EXPECT_EQ(storedStrength(), 0.7);
    const auto& applied = factory.live().front()->applied;
    ASSERT_GT(applied.size(), before);
    EXPECT_DOUBLE_EQ(applied.back().strength, 0.7);

    // Within the tolerance: no assignment, no redraw, no write.
    QSignalSpy strength(&m, &SettingsModel::strengthChanged);
    defaults.set(keys::kDimStrength, 0.7005);
    m.sync();
    EXPECT_EQ(strength.count(), 0);
    EXPECT_DOUBLE_EQ(m.strength(), 0.7);
    EXPECT_EQ(storedStrength(), 0.7005);

    // Off from the status menu while the window is open: the next sync shows it, but the
    // engine is not stopped a second time and the model does not report a change of its own.
    defaults.setBool(keys::kDimEnabled, false);  // what the status menu does
    controller->stop();
    m.sync();
    EXPECT_FALSE(m.isEnabled());
    EXPECT_EQ(onChangeCalls, 0);

    // A look chosen elsewhere (the file edited, another instance) shows too.
    defaults.set(keys::kDimStyle, std::string("wallpaper"));
    m.sync();
    EXPECT_EQ(m.style(), Style::wallpaper);

    // On from the status menu, then on in the window before a sync: nothing more happens.
    defaults.setBool(keys::kDimEnabled, true);
    controller->startIfPossible();
    m.setIsEnabled(true);
    EXPECT_EQ(onChangeCalls, 0);
}

}  // namespace
}  // namespace sombrix::fakes

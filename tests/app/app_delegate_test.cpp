// The delegate against the in-memory platform: launch with and without the permission, the
// permission poll, the toggle, the settings window made once, and termination. The tray item is a
// real QSystemTrayIcon on the offscreen platform.
#include "app/app_delegate.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QGuiApplication>
#include <QMenu>
#include <QSystemTrayIcon>

#include "../settings/settings_fixture.h"

namespace sombrix {
namespace {

using namespace fakes;

// What the delegate asked of its settings window.
struct SettingsRecord {
    int created = 0;
    int shown = 0;
    Updater* updater = nullptr;
    std::function<void()> onChange;
    std::function<void()> onFocusChange;
};

struct RecordingSettings : SettingsPresenter {
    explicit RecordingSettings(int& shown) : shown(shown) {}
    void show() override { ++shown; }
    int& shown;
};

class AppDelegateTest : public ::testing::Test, protected FakePlatform {
protected:
    static constexpr std::int32_t kApp = 1001;
    static constexpr std::uint32_t kWindow = 11;

    AppDelegateTest() {
        displays.displays = {makeDisplay("left", {0, 0, 1600, 900})};
        window(kWindow, kApp, {100, 100, 400, 300});
        focusOn(kApp, kWindow, "org.example.editor");
    }

    AppDelegate& launch() {
        delegate = std::make_unique<AppDelegate>(
            AppDelegateServices{controller, ax, defaults, scheduler,
                                [this](UpdaterUserDriverDelegate&) {
                                    auto updater = std::make_unique<FakeUpdater>();
                                    updaterMade = updater.get();
                                    return updater;
                                },
                                [this](Updater& updater, std::function<void()> onChange,
                                       std::function<void()> onFocusChange) {
                                    ++settings.created;
                                    settings.updater = &updater;
                                    settings.onChange = std::move(onChange);
                                    settings.onFocusChange = std::move(onFocusChange);
                                    return std::make_unique<RecordingSettings>(settings.shown);
                                },
                                [] {}});
        delegate->applicationDidFinishLaunching();
        return *delegate;
    }

    // The menu as it reads when the user opens it.
    QList<QAction*> openMenu() {
        emit delegate->statusMenu()->aboutToShow();
        return delegate->statusMenu()->actions();
    }

    QAction* menuItem(const QString& title) {
        for (QAction* action : openMenu()) {
            if (action->text() == title)
                return action;
        }
        return nullptr;
    }

    QAction* dimItem() { return menuItem(QStringLiteral("Dim Background Windows")); }
    std::optional<bool> storedEnabled() { return defaults.stored<bool>(keys::kDimEnabled); }

    bool anyOverlayVisible() {
        const auto& live = factory.live();
        return std::any_of(live.begin(), live.end(), [](FakeOverlay* o) { return o->isVisible(); });
    }

    QString toolTip() { return delegate->statusItem()->toolTip(); }

    DimController controller{services()};

    std::unique_ptr<AppDelegate> delegate;
    Updater* updaterMade = nullptr;
    SettingsRecord settings;
};

const QString kWarningTip =
    QStringLiteral("Sombrix \u2014 no window manager reports the active window");

TEST_F(AppDelegateTest, LaunchWithoutPermissionWarnsOpensSettingsAndStartsOnceGranted) {
    ax.trusted = false;
    launch();

    EXPECT_FALSE(controller.isRunning());
    EXPECT_EQ(toolTip(), kWarningTip);
    EXPECT_EQ(settings.shown, 1);
    EXPECT_EQ(settings.updater, updaterMade);
    auto menu = openMenu();
    ASSERT_GE(menu.size(), 2);
    EXPECT_EQ(menu[0]->text(), QStringLiteral("Window Manager Needed\u2026"));
    EXPECT_TRUE(menu[1]->isSeparator());

    // The poll keeps waiting while the permission is missing...
    scheduler.advance(10.0);
    EXPECT_FALSE(controller.isRunning());

    // ...and picks it up within one interval once it is there.
    ax.trusted = true;
    scheduler.advance(2.0);
    EXPECT_TRUE(controller.isRunning());
    EXPECT_EQ(toolTip(), QStringLiteral("Sombrix"));
    // Read without opening it: some tray hosts show the menu without asking first.
    QAction* first = delegate->statusMenu()->actions().value(0);
    EXPECT_EQ(first->text(), QStringLiteral("Dim Background Windows"));
    EXPECT_TRUE(first->isChecked());
    delegate->toggleEnabled();
    EXPECT_FALSE(delegate->statusMenu()->actions().value(0)->isChecked());

    // A change made in the window reaches the tray item through onChange; callbacks that
    // outlive the delegate do nothing.
    ax.trusted = false;
    settings.onChange();
    EXPECT_EQ(toolTip(), kWarningTip);
    delegate.reset();
    settings.onChange();
    settings.onFocusChange();
}

TEST_F(AppDelegateTest,
       TheMenuAndChangesOnDiskToggleTheEngineOnceSettingsAreMadeOnceAndTerminationStops) {
    launch();
    EXPECT_TRUE(controller.isRunning());
    EXPECT_EQ(toolTip(), QStringLiteral("Sombrix"));
    EXPECT_EQ(settings.created, 0);
    // Closing the settings window later must not end a tray application.
    EXPECT_FALSE(QGuiApplication::quitOnLastWindowClosed());

    ASSERT_NE(dimItem(), nullptr);
    dimItem()->trigger();
    EXPECT_EQ(storedEnabled(), false);
    EXPECT_FALSE(controller.isRunning());
    EXPECT_FALSE(anyOverlayVisible());
    EXPECT_FALSE(dimItem()->isChecked());

    // The poll does not bring back a dim the user switched off.
    scheduler.advance(10.0);
    EXPECT_FALSE(controller.isRunning());

    dimItem()->trigger();
    EXPECT_EQ(storedEnabled(), true);
    EXPECT_TRUE(controller.isRunning());
    ASSERT_TRUE(anyOverlayVisible());

    // Restyled and switched off on disk, then on here: the change the file then reports starts
    // nothing a second time.
    defaults.set(keys::kDimStyle, std::string("wallpaper"));
    delegate->settingsDidChange();
    EXPECT_EQ(factory.live().at(0)->applied.back().style, Style::wallpaper);
    defaults.set(keys::kDimEnabled, false);
    delegate->settingsDidChange();
    EXPECT_FALSE(controller.isRunning());
    EXPECT_FALSE(dimItem()->isChecked());
    delegate->toggleEnabled();
    const int created = factory.created;
    delegate->settingsDidChange();
    EXPECT_TRUE(controller.isRunning());
    EXPECT_EQ(factory.created, created);

    // The settings window is made once and shown on every request.
    menuItem(QStringLiteral("Settings\u2026"))->trigger();
    delegate->openSettings();
    EXPECT_TRUE(delegate->applicationShouldHandleReopen());
    EXPECT_EQ(settings.created, 1);
    EXPECT_EQ(settings.shown, 3);

    // A toggle that cannot be saved opens the window to say so, once.
    defaults.problem = "Sombrix could not save its settings to /nowhere/Sombrix.conf.";
    delegate->toggleEnabled();
    delegate->toggleEnabled();
    EXPECT_EQ(settings.shown, 4);

    delegate->applicationWillTerminate();
    EXPECT_FALSE(controller.isRunning());
    EXPECT_FALSE(anyOverlayVisible());
    EXPECT_EQ(scheduler.count(true), 0);
    scheduler.advance(10.0);
    EXPECT_FALSE(controller.isRunning());
}

}  // namespace
}  // namespace sombrix

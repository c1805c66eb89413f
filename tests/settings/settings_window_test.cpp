// The settings form and window under the offscreen platform: which controls are enabled in each
// style and permission state, what they write, and the window's show and close behaviour.
#include <QCheckBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <utility>

#include "settings/exceptions_section.h"
#include "settings/settings_view.h"
#include "settings/settings_window_controller.h"
#include "settings_fixture.h"

namespace sombrix::fakes {
namespace {

class SettingsWindowTest : public SettingsTest {
protected:
    SettingsWindowController& makeWindow() {
        makeModel();
        window = std::make_unique<SettingsWindowController>(*model, [this] { ++focusChanges; });
        return *window;
    }

    QWidget* form() { return window->view(); }

    template <typename T>
    T* find(const QString& text) {
        for (T* w : form()->findChildren<T*>()) {
            if (w->text() == text)
                return w;
        }
        ADD_FAILURE() << "no widget with text " << text.toStdString();
        return nullptr;
    }

    bool shown(const QString& labelText) {
        const auto labels = form()->findChildren<QLabel*>();
        return std::any_of(labels.begin(), labels.end(), [&](QLabel* l) {
            return l->text() == labelText && l->isVisibleTo(form());
        });
    }

    // Whether the user can operate the widget in the form as it stands.
    bool usable(QWidget* w) { return w && w->isEnabledTo(form()) && w->isVisibleTo(form()); }

    QSlider* slider() { return form()->findChild<QSlider*>(); }

    std::unique_ptr<SettingsWindowController> window;
    int focusChanges = 0;
};

// Placeholder addresses are neither shown nor opened.
TEST_F(SettingsWindowTest, MissingAccessibilityShowsTheRequestRowAndPlaceholdersStayHidden) {
    links = {"https://updates.sombrix.invalid/appcast.xml", "https://sombrix.invalid/", "", ""};
    ax.trusted = false;
    makeWindow();
    EXPECT_TRUE(shown(QStringLiteral("This build does not check for updates.")));
    EXPECT_FALSE(usable(find<QPushButton>(QStringLiteral("Check for Updates…"))));
    EXPECT_FALSE(usable(find<QCheckBox>(QStringLiteral("Automatically check for updates"))));
    for (QLabel* label : form()->findChildren<QLabel*>())
        EXPECT_FALSE(label->text().contains(QStringLiteral("invalid")))
            << label->text().toStdString();
    model->checkForUpdates();
    EXPECT_EQ(updater.checks, 0);

    EXPECT_TRUE(shown(QStringLiteral("Window manager needed")));
    EXPECT_FALSE(shown(QStringLiteral("Ready")));
    auto* grant = form()->findChild<QPushButton*>(QStringLiteral("grantAccessibility"));
    ASSERT_TRUE(usable(grant));
    grant->click();
    EXPECT_EQ(ax.promptCount, 1);
    ASSERT_EQ(workspace.openedURLs.size(), 1u);
    EXPECT_EQ(workspace.openedURLs[0].find("invalid"), std::string::npos);

    ax.trusted = true;
    model->sync();
    EXPECT_FALSE(shown(QStringLiteral("Window manager needed")));
    EXPECT_TRUE(shown(QStringLiteral("Ready")));
}

TEST_F(SettingsWindowTest, EnabledStatesFollowTheSwitchTheStyleAndThePermission) {
    makeWindow();
    auto* wallpaperButton = find<QPushButton>(QStringLiteral("Wallpaper"));
    EXPECT_TRUE(usable(wallpaperButton));
    EXPECT_TRUE(usable(slider()));

    // Off: picker and strength row disabled, the switch itself stays usable.
    find<QCheckBox>(QStringLiteral("Dim background windows"))->click();
    EXPECT_FALSE(model->isEnabled());
    EXPECT_FALSE(usable(wallpaperButton));
    EXPECT_FALSE(usable(slider()));
    EXPECT_TRUE(usable(find<QCheckBox>(QStringLiteral("Dim background windows"))));
    find<QCheckBox>(QStringLiteral("Dim background windows"))->click();

    // Wallpaper with capture granted: the strength has no meaning, the row is disabled.
    wallpaperButton->click();
    EXPECT_EQ(model->style(), Style::wallpaper);
    EXPECT_FALSE(usable(slider()));
    EXPECT_TRUE(shown(QStringLiteral("Wallpaper picture")));

    // Without capture: black is used, so the strength works, and the help block appears.
    wallpaper.captureAllowed = false;
    model->sync();
    EXPECT_TRUE(usable(slider()));
    EXPECT_TRUE(shown(QStringLiteral("Wallpaper picture needed")));
    form()->findChild<QPushButton*>(QStringLiteral("grantScreenRecording"))->click();
    EXPECT_EQ(workspace.openedURLs, std::vector<std::string>{links.docs});
    relauncher.startSucceeds = false;  // the user asked this instance to end: it quits anyway
    find<QPushButton>(QStringLiteral("Restart Sombrix"))->click();
    EXPECT_EQ(relauncher.starts, 1);
    EXPECT_EQ(relauncher.quits, 1);
}

// Only real changes are written (a store left untouched keeps its type: a one-entry list stays
// plain text), and a listed display that is not connected now stays listed.
TEST_F(SettingsWindowTest, ExceptionsControlsWriteOnlyRealChangesAndFollowTheDisplays) {
    using List = std::vector<std::string>;
    displays.displays = {makeDisplay("main", Rect{0, 0, 1600, 900}),
                         makeDisplay("side", Rect{1600, 0, 1600, 900})};
    defaults.set(keys::kExcludedWindowClasses, std::string("mpv"));
    defaults.set(keys::kUndimmedDisplays, std::string("tv"));
    windowClasses.classes = {"Mpv", "XTerm"};
    controller->startIfPossible();
    makeWindow();
    auto& exceptions = model->exceptions();
    exceptions.addExcludedClass(" MPV ");
    exceptions.addExcludedClass("  ");
    exceptions.setDisplayDimmed("main", true);
    model->setFadeOnToggle(false);
    EXPECT_EQ(defaults.stored<std::string>(keys::kExcludedWindowClasses), "mpv");
    EXPECT_EQ(defaults.stored<std::string>(keys::kUndimmedDisplays), "tv");
    EXPECT_FALSE(defaults.object(keys::kFadeOnToggle));

    auto* sideToggle = form()->findChild<QCheckBox*>(QStringLiteral("dim:side"));
    ASSERT_TRUE(usable(sideToggle));
    EXPECT_TRUE(sideToggle->isChecked());
    sideToggle->click();
    EXPECT_EQ(defaults.stored<List>(keys::kUndimmedDisplays), (List{"tv", "side"}));
    EXPECT_EQ(controller->overlays().size(), 1u);

    // The menu offers the open windows' classes not yet excluded, at the moment it opens.
    auto* section = form()->findChild<ExceptionsSection*>();
    emit section->openWindowsMenu()->aboutToShow();
    ASSERT_EQ(section->openWindowsMenu()->actions().size(), 1);
    section->openWindowsMenu()->actions().at(0)->trigger();
    auto* list = form()->findChild<QListWidget*>(QStringLiteral("excludedClasses"));
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(0)->text(), QStringLiteral("mpv"));
    list->setCurrentRow(0);
    find<QPushButton>(QStringLiteral("Remove"))->click();
    EXPECT_EQ(defaults.stored<List>(keys::kExcludedWindowClasses), List{"XTerm"});
    EXPECT_EQ(list->count(), 1);

    // A display plugged in while the window is open gets its own check box at the next sync.
    displays.displays.push_back(makeDisplay("tv", Rect{3200, 0, 1920, 1080}));
    model->sync();
    EXPECT_TRUE(usable(form()->findChild<QCheckBox*>(QStringLiteral("dim:tv"))));
    EXPECT_FALSE(form()->findChild<QCheckBox*>(QStringLiteral("dim:tv"))->isChecked());
    model->setFadeOnToggle(true);
    EXPECT_EQ(defaults.object(keys::kFadeOnToggle), DefaultsValue(true));
}

TEST_F(SettingsWindowTest,
       TheSliderWritesTheStrengthAndFailedSavesAndLoginItemsAreSaidUntilTheNextSuccess) {
    makeWindow();
    slider()->setValue(slider()->maximum());
    EXPECT_EQ(storedStrength(), 1.0);
    EXPECT_TRUE(shown(QStringLiteral("100%")));
    slider()->setValue(slider()->minimum());
    EXPECT_EQ(storedStrength(), 0.1);
    EXPECT_TRUE(shown(QStringLiteral("10%")));

    defaults.problem = "Sombrix could not save its settings to /nowhere/Sombrix.conf.";
    slider()->setValue(slider()->maximum());
    EXPECT_TRUE(shown(QString::fromStdString(defaults.problem)));
    const std::string said = std::exchange(defaults.problem, {});
    model->sync();
    EXPECT_FALSE(shown(QString::fromStdString(said)));

    // A login item failure shows until the next success.
    loginItems.failure = "Read-only file system";
    auto* toggle = find<QCheckBox>(QStringLiteral("Launch at login"));
    toggle->click();
    EXPECT_FALSE(toggle->isChecked());
    EXPECT_TRUE(shown(QStringLiteral("Read-only file system")));
    loginItems.failure.reset();
    toggle->click();
    EXPECT_TRUE(toggle->isChecked());
    EXPECT_FALSE(shown(QStringLiteral("Read-only file system")));
}

TEST_F(SettingsWindowTest, LastCheckedShowsNeverOrTheDateInTheUsersLocale) {
    EXPECT_EQ(SettingsView::lastCheckedText(std::nullopt), QStringLiteral("Never"));
    // 2026-12-06 19:05 local time.
    const QDateTime when(QDate(2026, 12, 6), QTime(19, 5));
    const double seconds = when.toMSecsSinceEpoch() / 1000.0;
    const QString us =
        SettingsView::lastCheckedText(seconds, QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_TRUE(us.contains(QStringLiteral("7:05")) && us.contains(QStringLiteral("2026")))
        << us.toStdString();
    EXPECT_TRUE(SettingsView::lastCheckedText(seconds, QLocale(QLocale::German, QLocale::Germany))
                    .contains(QStringLiteral("19:05")));
}

TEST_F(SettingsWindowTest, ShowSyncsReusesTheWindowKeepsItsPlaceAndCloseStopsTheSync) {
    makeWindow();
    defaults.set(keys::kDimStrength, 0.8);
    window->show();
    EXPECT_TRUE(shown(QStringLiteral("80%")));  // synchronised before it was shown
    EXPECT_TRUE(model->isSyncing());
    EXPECT_GE(focusChanges, 1);

    QWidget* first = window->window();
    first->move(first->pos() + QPoint(37, 23));
    const QPoint moved = first->pos();
    window->show();
    EXPECT_EQ(window->window(), first);
    EXPECT_EQ(first->pos(), moved);
    const auto timers = model->findChildren<QTimer*>();
    EXPECT_EQ(std::count_if(timers.begin(), timers.end(), [](QTimer* t) { return t->isActive(); }),
              1);

    // Closing stops the sync and rearranges once the window is gone.
    QCoreApplication::processEvents();  // activation events of the show
    const int before = focusChanges;
    window->window()->close();
    EXPECT_FALSE(model->isSyncing());
    EXPECT_EQ(focusChanges, before);  // deferred until the close has been handled
    QCoreApplication::processEvents();
    EXPECT_EQ(focusChanges, before + 1);
    EXPECT_FALSE(window->window()->isVisible());

    window->show();
    EXPECT_TRUE(model->isSyncing());
}

}  // namespace
}  // namespace sombrix::fakes

// The application's presence on the desktop: the tray item and its menu, the permission poll,
// the settings window on demand, and the updater's questions about showing its windows.
#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "engine/dim_controller.h"
#include "platform/accessibility.h"
#include "platform/defaults_store.h"
#include "platform/scheduler.h"
#include "platform/updater.h"

class QMenu;
class QSystemTrayIcon;

namespace sombrix {

// The settings window as the delegate sees it: made once, shown again on every request.
class SettingsPresenter {
public:
    virtual ~SettingsPresenter() = default;
    virtual void show() = 0;
    // The settings file changed on disk: an open window shows the new values.
    virtual void settingsDidChange() {}
};

// Linux has no Dock: "accessory" means the application keeps no window of its own open and
// lives in the tray; "regular" means it brings its windows forward like any application.
enum class ActivationPolicy { Regular = 0, Accessory = 1 };

// What the delegate works with; all must outlive it.
struct AppDelegateServices {
    DimController& controller;
    Accessibility& accessibility;
    DefaultsStore& defaults;
    Scheduler& scheduler;
    // Creates and starts the updater, which asks `delegate` before it shows a window.
    std::function<std::unique_ptr<Updater>(UpdaterUserDriverDelegate& delegate)> makeUpdater;
    // Creates the settings model and window. `onChange` brings the tray item up to date;
    // `onFocusChange` runs when the window gains focus or closes.
    std::function<std::unique_ptr<SettingsPresenter>(
        Updater& updater, std::function<void()> onChange, std::function<void()> onFocusChange)>
        makeSettings;
    // Ends the application through its normal shutdown path.
    std::function<void()> terminate;
};

class AppDelegate : public QObject, public UpdaterUserDriverDelegate {
    Q_OBJECT
public:
    explicit AppDelegate(AppDelegateServices services, QObject* parent = nullptr);
    ~AppDelegate() override;

    // Updater, tray item and menu, engine start, tray look, settings window when the
    // permission is missing, then the 2-second permission poll.
    void applicationDidFinishLaunching();
    // Another launch while running: opens the settings.
    bool applicationShouldHandleReopen();
    // Stops the poll and the engine, so no overlay outlives the process.
    void applicationWillTerminate();

    // The permission may have changed (a window manager appeared or went): what the poll does,
    // at once.
    void permissionMayHaveChanged();
    void toggleEnabled();
    // The settings file changed on disk (another instance, an editor): the engine starts, stops
    // or takes the new look, and the tray item and an open settings window follow.
    void settingsDidChange();
    void openSettings();
    void updateStatusItemAppearance();
    // Fills the tray menu afresh; runs each time the menu is about to open.
    void menuNeedsUpdate();

    bool supportsGentleScheduledUpdateReminders() const override;
    void standardUserDriverWillHandleShowingUpdate(bool handleShowingUpdate) override;
    void standardUserDriverDidReceiveUserAttentionForUpdate() override;

    void setActivationPolicy(ActivationPolicy policy);

    // What a user sees of the application outside the settings window.
    QSystemTrayIcon* statusItem() const { return statusItem_; }
    QMenu* statusMenu() const { return statusMenu_.get(); }

private:
    void onStatusItemActivated(int reason);
    void activateIgnoringOtherApps();
    // The first time the settings cannot be saved, the settings window opens to say so.
    void reportUnsavedSettings();

    AppDelegateServices services_;
    DimController& controller_;

    QSystemTrayIcon* statusItem_ = nullptr;
    std::unique_ptr<QMenu> statusMenu_;
    std::unique_ptr<TimerHandle> permissionTimer_;
    std::unique_ptr<SettingsPresenter> settingsController_;
    std::unique_ptr<Updater> updaterController_;
    // What the tray item and the menu last showed, so that the poll changes only what changed.
    std::string_view shownSymbol_;
    std::optional<std::pair<bool, bool>> menuBuiltFor_;
    bool reportedUnsavedSettings_ = false;
};

}  // namespace sombrix

// The observable state behind the settings window: the three stored settings, the permissions,
// the login item and the updater, kept in line with their sources while the window is open.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <functional>
#include <optional>

#include "engine/dim_controller.h"
#include "platform/accessibility.h"
#include "platform/defaults_store.h"
#include "platform/displays.h"
#include "platform/login_items.h"
#include "platform/relauncher.h"
#include "platform/updater.h"
#include "platform/wallpaper_service.h"
#include "platform/window_classes.h"
#include "platform/workspace.h"
#include "settings/exceptions_model.h"
#include "settings/release_links.h"

namespace sombrix {

// Services the model reaches besides the engine and the updater; all must outlive the model.
// `defaults` is the same store the engine reads its settings from.
struct SettingsServices {
    Accessibility& accessibility;
    WallpaperService& wallpaper;
    LoginItems& loginItems;
    Workspace& workspace;
    Relauncher& relauncher;
    DefaultsStore& defaults;
    Displays& displays;
    WindowClasses& windowClasses;
    ReleaseLinks links = ReleaseLinks::fromBuild();
};

class SettingsModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isEnabled READ isEnabled WRITE setIsEnabled NOTIFY isEnabledChanged)
    Q_PROPERTY(double strength READ strength WRITE setStrength NOTIFY strengthChanged)
    Q_PROPERTY(bool automaticallyChecksForUpdates READ automaticallyChecksForUpdates WRITE
                   setAutomaticallyChecksForUpdates NOTIFY automaticallyChecksForUpdatesChanged)
    Q_PROPERTY(bool launchAtLogin READ launchAtLogin NOTIFY launchAtLoginChanged)
    Q_PROPERTY(bool isTrusted READ isTrusted NOTIFY isTrustedChanged)
    Q_PROPERTY(bool canCaptureWallpaper READ canCaptureWallpaper NOTIFY canCaptureWallpaperChanged)
    Q_PROPERTY(bool isCompositing READ isCompositing NOTIFY isCompositingChanged)

public:
    // `onChange` runs after the model switched the dim on or off.
    SettingsModel(DimController& controller, Updater& updater, SettingsServices services,
                  std::function<void()> onChange, QObject* parent = nullptr);
    ~SettingsModel() override;

    // Every setter emits its signal and `changed()`, also when the value stays the same.
    bool isEnabled() const { return isEnabled_; }
    void setIsEnabled(bool enabled);
    double strength() const { return strength_; }
    void setStrength(double strength);
    Style style() const { return style_; }
    void setStyle(Style style);
    bool automaticallyChecksForUpdates() const { return automaticallyChecksForUpdates_; }
    void setAutomaticallyChecksForUpdates(bool enabled);
    // Writes the store only when it holds another value.
    bool fadeOnToggle() const { return fadeOnToggle_; }
    void setFadeOnToggle(bool fade);

    ExceptionsModel& exceptions() { return exceptions_; }

    bool launchAtLogin() const { return launchAtLogin_; }
    bool isTrusted() const { return isTrusted_; }
    bool canCaptureWallpaper() const { return canCaptureWallpaper_; }
    // Without a compositor the black veil shows opaque whatever the strength.
    bool isCompositing() const { return isCompositing_; }
    std::optional<TimePoint> lastUpdateCheck() const { return lastUpdateCheck_; }
    std::optional<QString> launchAtLoginError() const { return launchAtLoginError_; }
    // Why the settings could not be saved, in the user's words; empty while they are saved.
    QString saveProblem() const { return saveProblem_; }

    // Synchronises at once, then once a second until stopSyncing(). Calling it again replaces
    // the running timer.
    void startSyncing();
    void stopSyncing();
    bool isSyncing() const;
    // Assigns only what differs from its source, so an unchanged system redraws nothing. The
    // look is followed too, so that a change made in the file shows.
    void sync();

    // Changes the registration and then shows what the system reports, not the wanted state.
    void setLaunchAtLogin(bool wanted);

    // "Version 1.0 (7)"; a missing part shows as "?".
    QString version() const;
    static QString versionText(const QString& shortVersion, const QString& buildNumber);

    // The release addresses; the view hides what an unconfigured one would offer.
    const ReleaseLinks& links() const { return services_.links; }
    // Whether this build has an update feed to check.
    bool checksForUpdates() const { return ReleaseLinks::isConfigured(services_.links.appcast); }

    void requestAccessibility();
    void requestScreenRecording();
    void checkForUpdates();
    void openURL(const QString& url);
    // Starts a new instance and quits this one, even when the start failed.
    void relaunch();

signals:
    void changed();
    void isEnabledChanged();
    void strengthChanged();
    void styleChanged();
    void automaticallyChecksForUpdatesChanged();
    void launchAtLoginChanged();
    void isTrustedChanged();
    void canCaptureWallpaperChanged();
    void isCompositingChanged();
    void lastUpdateCheckChanged();
    void launchAtLoginErrorChanged();
    void fadeOnToggleChanged();
    void saveProblemChanged();

private:
    void assignLaunchAtLogin(bool value);
    void assignIsTrusted(bool value);
    void assignCanCaptureWallpaper(bool value);
    void assignLastUpdateCheck(std::optional<TimePoint> value);
    void assignLaunchAtLoginError(std::optional<QString> value);
    void syncSaveProblem();

    DimController& controller_;
    Updater& updater_;
    SettingsServices services_;
    std::function<void()> onChange_;
    QPointer<QTimer> timer_;
    ExceptionsModel exceptions_;

    bool isEnabled_ = true;
    double strength_ = 0.5;
    Style style_ = Style::black;
    bool automaticallyChecksForUpdates_ = false;
    bool launchAtLogin_ = false;
    bool isTrusted_ = false;
    bool canCaptureWallpaper_ = false;
    bool isCompositing_ = true;
    std::optional<TimePoint> lastUpdateCheck_;
    std::optional<QString> launchAtLoginError_;
    bool fadeOnToggle_ = false;
    QString saveProblem_;
};

}  // namespace sombrix

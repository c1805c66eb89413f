// Settings model: observers that write the store and drive the engine, and the once-a-second
// sync that picks up changes made elsewhere.
#include "settings/settings_model.h"

#include "platform/qt/logging.h"

#include <cmath>
#include <string>

#include "settings/build_info.h"
#include "settings/launch_at_login.h"

namespace sombrix {

namespace {
// Slider positions and store round trips differ in the last bits; smaller differences are
// the same setting and must not redraw or write.
constexpr double kStrengthTolerance = 0.001;
}  // namespace

SettingsModel::SettingsModel(DimController& controller, Updater& updater, SettingsServices services,
                             std::function<void()> onChange, QObject* parent)
    : QObject(parent),
      controller_(controller),
      updater_(updater),
      services_(services),
      onChange_(std::move(onChange)),
      exceptions_(controller, services.defaults, services.displays, services.windowClasses) {
    // Initial values run no observer and write nothing.
    launchAtLogin_ = services_.loginItems.isEnabled();
    isTrusted_ = services_.accessibility.isProcessTrusted();
    canCaptureWallpaper_ = services_.wallpaper.canCapture();
    isCompositing_ = services_.wallpaper.isCompositing();
    isEnabled_ = controller_.isEnabled();
    strength_ = controller_.strength();
    style_ = controller_.style();
    saveProblem_ = QString::fromStdString(services_.defaults.saveProblem());
    automaticallyChecksForUpdates_ = updater_.automaticallyChecksForUpdates();
    lastUpdateCheck_ = updater_.lastUpdateCheckDate();
    fadeOnToggle_ = controller_.fadeOnToggle();
}

SettingsModel::~SettingsModel() = default;

void SettingsModel::setIsEnabled(bool enabled) {
    qCDebug(lcSettings) << "dim switched" << (enabled ? "on" : "off") << "in the settings window";
    isEnabled_ = enabled;
    emit isEnabledChanged();
    emit changed();
    // The status menu may have written the same value already; then the engine is where it
    // should be and must not be started or stopped a second time.
    if (controller_.isEnabled() == enabled) {
        return;
    }
    services_.defaults.setBool(keys::kDimEnabled, enabled);
    if (enabled) {
        controller_.startIfPossible(DimController::Transition::fade);
    } else {
        controller_.stop(DimController::Transition::fade);
    }
    syncSaveProblem();
    if (onChange_) {
        onChange_();
    }
}

void SettingsModel::setStrength(double strength) {
    strength_ = strength;
    emit strengthChanged();
    emit changed();
    services_.defaults.setDouble(keys::kDimStrength, strength_);
    controller_.applyAppearance();
    syncSaveProblem();
}

void SettingsModel::setStyle(Style style) {
    qCDebug(lcSettings) << "look set to" << (style == Style::wallpaper ? "wallpaper" : "black");
    style_ = style;
    emit styleChanged();
    emit changed();
    controller_.setStyle(style_);
    syncSaveProblem();
}

void SettingsModel::syncSaveProblem() {
    const QString problem = QString::fromStdString(services_.defaults.saveProblem());
    if (problem != saveProblem_) {
        saveProblem_ = problem;
        emit saveProblemChanged();
        emit changed();
    }
}

void SettingsModel::setAutomaticallyChecksForUpdates(bool enabled) {
    automaticallyChecksForUpdates_ = enabled;
    emit automaticallyChecksForUpdatesChanged();
    emit changed();
    updater_.setAutomaticallyChecksForUpdates(enabled);
}

void SettingsModel::setFadeOnToggle(bool fade) {
    fadeOnToggle_ = fade;
    emit fadeOnToggleChanged();
    emit changed();
    if (controller_.fadeOnToggle() != fade)
        services_.defaults.setBool(keys::kFadeOnToggle, fade);
}

void SettingsModel::assignLaunchAtLogin(bool value) {
    launchAtLogin_ = value;
    emit launchAtLoginChanged();
    emit changed();
}

void SettingsModel::assignIsTrusted(bool value) {
    isTrusted_ = value;
    emit isTrustedChanged();
    emit changed();
}

void SettingsModel::assignCanCaptureWallpaper(bool value) {
    canCaptureWallpaper_ = value;
    emit canCaptureWallpaperChanged();
    emit changed();
}

void SettingsModel::assignLastUpdateCheck(std::optional<TimePoint> value) {
    lastUpdateCheck_ = value;
    emit lastUpdateCheckChanged();
    emit changed();
}

void SettingsModel::assignLaunchAtLoginError(std::optional<QString> value) {
    launchAtLoginError_ = std::move(value);
    emit launchAtLoginErrorChanged();
    emit changed();
}

void SettingsModel::startSyncing() {
    sync();
    if (timer_) {
        timer_->stop();
        delete timer_;
    }
    auto* timer = new QTimer(this);
    timer->setInterval(1000);
    connect(timer, &QTimer::timeout, this, &SettingsModel::sync);
    timer->start();
    timer_ = timer;
}

void SettingsModel::stopSyncing() {
    if (timer_) {
        timer_->stop();
        delete timer_;
    }
    timer_ = nullptr;
}

bool SettingsModel::isSyncing() const {
    return timer_ && timer_->isActive();
}

void SettingsModel::sync() {
    if (const bool stored = controller_.isEnabled(); stored != isEnabled_) {
        setIsEnabled(stored);
    }
    if (const double stored = controller_.strength();
        std::abs(stored - strength_) > kStrengthTolerance) {
        setStrength(stored);
    }
    if (const Style stored = controller_.style(); stored != style_) {
        style_ = stored;
        emit styleChanged();
        emit changed();
    }
    syncSaveProblem();
    if (const bool registered = services_.loginItems.isEnabled(); registered != launchAtLogin_) {
        assignLaunchAtLogin(registered);
    }
    if (const bool trusted = services_.accessibility.isProcessTrusted(); trusted != isTrusted_) {
        assignIsTrusted(trusted);
    }
    if (const bool capture = services_.wallpaper.canCapture(); capture != canCaptureWallpaper_) {
        assignCanCaptureWallpaper(capture);
    }
    if (const bool compositing = services_.wallpaper.isCompositing();
        compositing != isCompositing_) {
        isCompositing_ = compositing;
        emit isCompositingChanged();
        emit changed();
    }
    if (const auto checked = updater_.lastUpdateCheckDate(); checked != lastUpdateCheck_) {
        assignLastUpdateCheck(checked);
    }
    if (const bool fade = controller_.fadeOnToggle(); fade != fadeOnToggle_) {
        setFadeOnToggle(fade);
    }
    exceptions_.sync();
}

void SettingsModel::setLaunchAtLogin(bool wanted) {
    std::string error;
    if (LaunchAtLogin::setEnabled(services_.loginItems, wanted, error)) {
        assignLaunchAtLoginError(std::nullopt);
    } else {
        assignLaunchAtLoginError(QString::fromStdString(error));
    }
    assignLaunchAtLogin(services_.loginItems.isEnabled());
}

QString SettingsModel::versionText(const QString& shortVersion, const QString& buildNumber) {
    const auto orUnknown = [](const QString& s) { return s.isEmpty() ? QStringLiteral("?") : s; };
    return tr("Version %1 (%2)").arg(orUnknown(shortVersion), orUnknown(buildNumber));
}

QString SettingsModel::version() const {
    return versionText(QString::fromUtf8(buildinfo::kShortVersion),
                       QString::fromUtf8(buildinfo::kBuildNumber));
}

void SettingsModel::requestAccessibility() {
    services_.accessibility.requestTrustWithPrompt();
    // The documentation explains what the desktop must provide; the model learns of a change
    // at a later sync.
    services_.workspace.openURL(services_.links.documentation());
}

void SettingsModel::requestScreenRecording() {
    services_.wallpaper.requestAccess();
    // On X11 there is nothing to grant: the button is "Help…", and the documentation says how to
    // give the desktop a wallpaper picture.
    services_.workspace.openURL(services_.links.documentation());
}

void SettingsModel::checkForUpdates() {
    if (checksForUpdates())
        updater_.checkForUpdates();
}

void SettingsModel::openURL(const QString& url) {
    services_.workspace.openURL(url.toStdString());
}

void SettingsModel::relaunch() {
    // Quitting even when the new instance did not start: the user asked for this one to end.
    services_.relauncher.startNewInstance();
    services_.relauncher.quit();
}

}  // namespace sombrix

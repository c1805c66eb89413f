// Launch, tray item, menu, permission poll, settings window and termination.
#include "app/app_delegate.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMetaObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QWindow>

#include "app/icons.h"
#include "app/status_menu.h"
#include "platform/qt/logging.h"

namespace sombrix {
namespace {

constexpr double kPermissionPollSeconds = 2.0;

QIcon menuIcon(std::string_view symbol) {
    return symbol.empty() ? QIcon() : templateSymbolIcon(symbol);
}

QKeySequence shortcut(const std::string& keyEquivalent) {
    if (keyEquivalent.empty()) {
        return {};
    }
    return QKeySequence(QStringLiteral("Ctrl+") + QString::fromStdString(keyEquivalent).toUpper());
}

// The status texts are source texts of the "StatusMenu" context: shown in the user's language.
QString translated(std::string_view text) {
    return QCoreApplication::translate("StatusMenu", std::string(text).c_str());
}

}  // namespace

AppDelegate::AppDelegate(AppDelegateServices services, QObject* parent)
    : QObject(parent), services_(std::move(services)), controller_(services_.controller) {
    // A tray application from the first moment: no window of its own keeps it alive.
    setActivationPolicy(ActivationPolicy::Accessory);
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
    if (services_.makeUpdater) {
        updaterController_ = services_.makeUpdater(*this);
    }

    statusItem_ = new QSystemTrayIcon(this);
    statusMenu_ = std::make_unique<QMenu>();
    connect(statusMenu_.get(), &QMenu::aboutToShow, this, &AppDelegate::menuNeedsUpdate);
    statusItem_->setContextMenu(statusMenu_.get());
    menuNeedsUpdate();
    connect(statusItem_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { onStatusItemActivated(reason); });

    controller_.startIfPossible();
    updateStatusItemAppearance();
    // Shown once it has its icon, so the tray never holds an empty slot.
    statusItem_->show();

    if (!services_.accessibility.isProcessTrusted()) {
        openSettings();
    }

    permissionTimer_ = services_.scheduler.scheduleRepeating(
        kPermissionPollSeconds, [self = QPointer<AppDelegate>(this)] {
            if (self) {
                self->permissionMayHaveChanged();
            }
        });
}

void AppDelegate::permissionMayHaveChanged() {
    controller_.startIfPossible();
    updateStatusItemAppearance();
}

bool AppDelegate::applicationShouldHandleReopen() {
    openSettings();
    return true;
}

void AppDelegate::applicationWillTerminate() {
    if (permissionTimer_) {
        permissionTimer_->invalidate();
    }
    controller_.stop();
    if (statusItem_ != nullptr) {
        statusItem_->hide();
    }
}

void AppDelegate::toggleEnabled() {
    const bool wasEnabled = controller_.isEnabled();
    services_.defaults.setBool(keys::kDimEnabled, !wasEnabled);
    if (wasEnabled) {
        controller_.stop(DimController::Transition::fade);
    } else {
        controller_.startIfPossible(DimController::Transition::fade);
    }
    updateStatusItemAppearance();
    reportUnsavedSettings();
}

void AppDelegate::settingsDidChange() {
    // Compared with what the engine does, not with what was stored before: a change this
    // process wrote itself finds the engine already where it belongs and is not acted on again.
    const bool enabled = controller_.isEnabled();
    if (enabled && !controller_.isRunning()) {
        controller_.startIfPossible();
    } else if (!enabled && controller_.isRunning()) {
        controller_.stop();
    } else if (controller_.isRunning()) {
        controller_.applyAppearance();
        controller_.displaySettingsChanged();
    }
    updateStatusItemAppearance();
    if (settingsController_) {
        settingsController_->settingsDidChange();
    }
}

void AppDelegate::reportUnsavedSettings() {
    if (reportedUnsavedSettings_ || services_.defaults.saveProblem().empty()) {
        return;
    }
    reportedUnsavedSettings_ = true;
    openSettings();
}

void AppDelegate::openSettings() {
    if (!settingsController_ && services_.makeSettings && updaterController_) {
        QPointer<AppDelegate> weak(this);
        settingsController_ = services_.makeSettings(
            *updaterController_,
            [weak] {
                if (weak) {
                    weak->updateStatusItemAppearance();
                }
            },
            [weak] {
                if (weak) {
                    weak->controller_.refresh();
                }
            });
    }
    if (settingsController_) {
        settingsController_->show();
    }
}

void AppDelegate::updateStatusItemAppearance() {
    if (statusItem_ == nullptr) {
        return;
    }
    const bool trusted = services_.accessibility.isProcessTrusted();
    // Without the permission only the warning shows; the setting is not consulted.
    const StatusAppearance look = statusAppearance(trusted, trusted && controller_.isEnabled());

    // The poll runs every two seconds: touch the tray only when the look changes, so that an
    // idle application repaints nothing and sends nothing to the tray host.
    if (shownSymbol_ != look.symbol) {
        shownSymbol_ = look.symbol;
        statusItem_->setIcon(traySymbolIcon(look.symbol));
    }
    const QString toolTip = translated(look.toolTip);
    if (statusItem_->toolTip() != toolTip) {
        statusItem_->setToolTip(toolTip);
    }
    // A tray host that reads the menu over D-Bus may show it without asking first, so the
    // closed menu is also brought up to date when what it shows has changed.
    if (menuBuiltFor_ && !statusMenu_->isVisible() &&
        *menuBuiltFor_ != std::pair{trusted, controller_.isEnabled()}) {
        menuNeedsUpdate();
    }
}

void AppDelegate::menuNeedsUpdate() {
    QMenu& menu = *statusMenu_;
    menu.clear();
    const bool trusted = services_.accessibility.isProcessTrusted();
    const bool enabled = controller_.isEnabled();
    menuBuiltFor_ = std::pair{trusted, enabled};
    QStringList titles;
    for (const StatusMenuItem& item : statusMenuItems(trusted, enabled)) {
        if (item.isSeparator) {
            menu.addSeparator();
            continue;
        }
        QAction* action = menu.addAction(menuIcon(item.symbol), translated(item.title));
        titles += action->text() + QLatin1String(!item.state   ? ""
                                                 : *item.state ? " (on)"
                                                               : " (off)");
        action->setShortcut(shortcut(item.keyEquivalent));
        if (item.state) {
            action->setCheckable(true);
            action->setChecked(*item.state);
        }
        switch (item.action) {
            case StatusMenuAction::OpenSettings:
                connect(action, &QAction::triggered, this, &AppDelegate::openSettings);
                break;
            case StatusMenuAction::ToggleEnabled:
                connect(action, &QAction::triggered, this, &AppDelegate::toggleEnabled);
                break;
            case StatusMenuAction::Quit:
                connect(action, &QAction::triggered, this, [this] {
                    if (services_.terminate) {
                        services_.terminate();
                    }
                });
                break;
            case StatusMenuAction::None:
                break;
        }
    }
    qCDebug(lcApp) << "tray menu:" << titles.join(QStringLiteral(" | "));
}

void AppDelegate::onStatusItemActivated(int reason) {
    // A click on the item opens its menu, as a status-bar item does; the context-menu request is
    // handled by the tray itself. A click soon after the previous one arrives as a double click:
    // it must open the menu too, or a quick second visit to the menu does nothing.
    const bool click = reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick;
    if (click && statusMenu_ && !statusMenu_->isVisible()) {
        statusMenu_->popup(QCursor::pos());
    }
}

bool AppDelegate::supportsGentleScheduledUpdateReminders() const {
    return true;
}

void AppDelegate::standardUserDriverWillHandleShowingUpdate(bool /*handleShowingUpdate*/) {
    setActivationPolicy(ActivationPolicy::Regular);
    activateIgnoringOtherApps();
}

void AppDelegate::standardUserDriverDidReceiveUserAttentionForUpdate() {
    setActivationPolicy(ActivationPolicy::Accessory);
}

void AppDelegate::setActivationPolicy(ActivationPolicy /*policy*/) {
    // There is no Dock here, so the two policies differ in nothing but the activation that goes
    // with Regular; in either, closing the last window (the settings or an update window) must
    // leave the application running in the tray.
    QGuiApplication::setQuitOnLastWindowClosed(false);
}

void AppDelegate::activateIgnoringOtherApps() {
    // Queued: the updater shows its window right after asking, and that window is the one to
    // bring forward.
    QMetaObject::invokeMethod(
        this,
        [] {
            constexpr auto notFocusable = Qt::WindowDoesNotAcceptFocus |
                                          Qt::X11BypassWindowManagerHint |
                                          Qt::WindowTransparentForInput;
            for (QWindow* window : QGuiApplication::topLevelWindows()) {
                const Qt::WindowType type = window->type();
                if (!window->isVisible() || (window->flags() & notFocusable) ||
                    (type != Qt::Window && type != Qt::Dialog)) {
                    continue;
                }
                window->raise();
                window->requestActivate();
            }
        },
        Qt::QueuedConnection);
}

}  // namespace sombrix

// Starts Sombrix: the Qt application on X11, one instance per user, the platform services and the
// dim engine, the tray item with its delegate, and an orderly stop on quit, SIGTERM or SIGINT.
#include <QApplication>
#include <QMetaObject>
#include <QSettings>
#include <QUrl>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/app_delegate.h"
#include "app/icons.h"
#include "app/platform_host.h"
#include "app/single_instance.h"
#include "app/unix_signals.h"
// The updater header keeps a QPointer to its window class: that class must be complete here.
#include "updater/appcast_updater.h"
#include "updater/update_window.h"
#include "settings/build_info.h"
#include "settings/launch_at_login.h"
#include "settings/process_relauncher.h"
#include "settings/settings_model.h"
#include "settings/settings_window_controller.h"

namespace sombrix {
namespace {

// The settings model and its window, made together the first time the settings are opened.
class SettingsWindowPresenter final : public SettingsPresenter {
public:
    SettingsWindowPresenter(DimController& controller, Updater& updater, SettingsServices services,
                            std::function<void()> onChange, std::function<void()> onFocusChange)
        : model_(controller, updater, services, std::move(onChange)),
          window_(model_, std::move(onFocusChange)) {}

    void show() override { window_.show(); }

private:
    SettingsModel model_;
    SettingsWindowController window_;
};

}  // namespace
}  // namespace sombrix

int main(int argc, char** argv) {
    using namespace sombrix;

    // Without this check Qt aborts with a message about platform plugins that hides the cause.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fprintf(stderr,
                     "sombrix: no X display. Sombrix dims windows of an X11 session; start it "
                     "inside one (DISPLAY is not set).\n");
        return 1;
    }
    QApplication::setOrganizationName(QStringLiteral("Sombrix"));
    QApplication::setApplicationName(QStringLiteral("Sombrix"));
    QApplication::setApplicationVersion(QString::fromUtf8(buildinfo::kShortVersion));
    QApplication app(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("sombrix"));
    app.setWindowIcon(applicationIcon());
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        std::fprintf(stderr,
                     "sombrix: this session uses the Qt platform '%s'. Sombrix stacks its "
                     "overlays through the X server and works only on X11 (xcb).\n",
                     qPrintable(QGuiApplication::platformName()));
        return 1;
    }

    // A second launch on this display only asks the running Sombrix to open its settings window.
    SingleInstance instance(SingleInstance::privateDirectory(),
                            SingleInstance::sessionKeyForDisplay(qEnvironmentVariable("DISPLAY")));
    if (instance.start() == SingleInstance::Role::Secondary) {
        return 0;
    }

    std::string error;
    auto host = PlatformHost::create(&error);
    if (!host) {
        std::fprintf(stderr, "sombrix: %s\n", error.c_str());
        return 1;
    }
    host->setConnectionLostHandler([] {
        // Nothing can be shown or cleaned up without the server: its windows, the overlays
        // included, went away with the connection.
        std::fprintf(stderr, "sombrix: lost the connection to the X server; exiting.\n");
        std::fflush(stderr);
        std::_Exit(2);
    });

    // The updater keeps its two settings in the application's settings file, under "updater/".
    QSettings updaterSettings;
    AutostartLoginItems loginItems(AutostartLoginItems::defaultDirectory(),
                                   AutostartLoginItems::defaultExecutable());
    ProcessRelauncher relauncher;
    DimController& controller = host->controller();

    AppDelegate delegate(AppDelegateServices{
        controller, host->accessibility(), host->defaults(), host->scheduler(),
        [&updaterSettings](UpdaterUserDriverDelegate& userDriver) {
            auto updater = std::make_unique<AppcastUpdater>(
                QUrl(QString::fromUtf8(buildinfo::kAppcastUrl)), &userDriver, updaterSettings,
                AppcastUpdater::Options{});
            updater->start();
            return std::unique_ptr<Updater>(std::move(updater));
        },
        [&](Updater& updater, std::function<void()> onChange,
            std::function<void()> onFocusChange) -> std::unique_ptr<SettingsPresenter> {
            return std::make_unique<SettingsWindowPresenter>(
                controller, updater,
                SettingsServices{host->accessibility(), host->wallpaper(), loginItems,
                                 host->workspace(), relauncher, host->defaults()},
                std::move(onChange), std::move(onFocusChange));
        },
        [] {
            // Queued, so that the menu that asked has finished with its own event first.
            QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                      Qt::QueuedConnection);
        }});

    QObject::connect(&instance, &SingleInstance::reopenRequested, &delegate,
                     [&delegate] { delegate.applicationShouldHandleReopen(); });
    UnixSignals unixSignals;
    QObject::connect(&unixSignals, &UnixSignals::terminationRequested, &app,
                     &QCoreApplication::quit);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate,
                     [&delegate] { delegate.applicationWillTerminate(); });

    // Before the loop turns, so that a second launch already waiting on the socket finds the
    // updater and the tray item in place when its request is handled.
    delegate.applicationDidFinishLaunching();

    const int status = app.exec();
    delegate.applicationWillTerminate();
    return status;
}

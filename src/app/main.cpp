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
#include "app/command_line.h"
#include "app/icons.h"
#include "app/instance_requests.h"
#include "app/platform_host.h"
#include "app/single_instance.h"
#include "app/translations.h"
#include "app/unix_signals.h"
#include "platform/qt/settings_file_watcher.h"
// The updater header keeps a QPointer to its window class: that class must be complete here.
#include "settings/build_info.h"
#include "settings/launch_at_login.h"
#include "settings/process_relauncher.h"
#include "settings/release_links.h"
#include "settings/settings_model.h"
#include "settings/settings_window_controller.h"
#if SOMBRIX_UPDATER
#include "updater/appcast_updater.h"
#include "updater/update_window.h"
#else
#include "app/no_updater.h"
#endif

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
    void settingsDidChange() override {
        if (model_.isSyncing())
            model_.sync();
    }

private:
    SettingsModel model_;
    SettingsWindowController window_;
};

}  // namespace
}  // namespace sombrix

int main(int argc, char** argv) {
    using namespace sombrix;

    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments += QString::fromLocal8Bit(argv[i]);
    }
    // Help, the version and a mistake in the arguments need no display.
    const CommandLine command = parseCommandLine(arguments);
    switch (command.mode) {
        case CommandLine::Mode::Help:
        case CommandLine::Mode::Version:
            std::printf("%s\n", qPrintable(command.text.trimmed()));
            return exitcode::kOk;
        case CommandLine::Mode::Usage:
            std::fprintf(stderr, "sombrix: %s; see sombrix --help\n", qPrintable(command.text));
            return exitcode::kUsage;
        case CommandLine::Mode::Run:
            break;
    }

    // Without this check Qt aborts with a message about platform plugins that hides the cause.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fprintf(stderr,
                     "sombrix: no X display. Sombrix dims windows of an X11 session; start it "
                     "inside one (DISPLAY is not set).\n");
        return exitcode::kFailure;
    }
    QApplication::setOrganizationName(QStringLiteral("Sombrix"));
    QApplication::setApplicationName(QStringLiteral("Sombrix"));
    QApplication::setApplicationVersion(QString::fromUtf8(buildinfo::kShortVersion));
    QApplication app(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("org.sombrix.Sombrix"));
    const Translations translations;
    app.setWindowIcon(applicationIcon());
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        std::fprintf(stderr,
                     "sombrix: this session uses the Qt platform '%s'. Sombrix stacks its "
                     "overlays through the X server and works only on X11 (xcb).\n",
                     qPrintable(QGuiApplication::platformName()));
        return exitcode::kFailure;
    }

    // One instance per user and display: a later launch passes its request to the running one.
    const QString display = qEnvironmentVariable("DISPLAY");
    SingleInstance instance(display, SingleInstance::privateDirectory());
    switch (instance.start()) {
        case SingleInstance::Role::Failed:
            std::fprintf(stderr, "sombrix: %s.\n", qPrintable(instance.error()));
            return exitcode::kFailure;
        case SingleInstance::Role::Secondary:
            return askRunningInstance(instance, display, command.request);
        case SingleInstance::Role::Primary:
            break;
    }
    if (command.request == InstanceRequest::Quit) {
        std::printf("%s\n",
                    qPrintable(QCoreApplication::translate(
                                   "main", "Sombrix is not running on display %1; nothing to quit.")
                                   .arg(display)));
        return exitcode::kNotRunning;
    }

    std::string error;
    auto host = PlatformHost::create(&error);
    if (!host) {
        std::fprintf(stderr, "sombrix: %s\n", error.c_str());
        return exitcode::kFailure;
    }
    host->setConnectionLostHandler([&host] {
        // Nothing can be shown or cleaned up without the server: its windows, the overlays
        // included, went away with the connection. A setting still waiting is kept.
        host->settingsFile().flush();
        std::fputs(kLostConnectionMessage, stderr);
        std::fflush(stderr);
        std::_Exit(exitcode::kLostDisplay);
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
#if SOMBRIX_UPDATER
            auto updater = std::make_unique<AppcastUpdater>(
                QUrl(QString::fromUtf8(buildinfo::kAppcastUrl)), &userDriver, updaterSettings,
                AppcastUpdater::Options{});
            // Without a feed there is nothing to check, by schedule or otherwise.
            if (ReleaseLinks::isConfigured(buildinfo::kAppcastUrl))
                updater->start();
            return std::unique_ptr<Updater>(std::move(updater));
#else
            // A build for a distribution, whose packages bring the updates.
            (void)updaterSettings;
            (void)userDriver;
            return std::unique_ptr<Updater>(std::make_unique<NoUpdater>());
#endif
        },
        [&](Updater& updater, std::function<void()> onChange,
            std::function<void()> onFocusChange) -> std::unique_ptr<SettingsPresenter> {
            return std::make_unique<SettingsWindowPresenter>(
                controller, updater,
                SettingsServices{host->accessibility(), host->wallpaper(), loginItems,
                                 host->workspace(), relauncher, host->defaults(), host->displays(),
                                 host->windowClasses()},
                std::move(onChange), std::move(onFocusChange));
        },
        [] {
            // Queued, so that the menu that asked has finished with its own event first.
            QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                      Qt::QueuedConnection);
        }});

    // A launch with --enable, --disable or --toggle and no Sombrix running starts with that state.
    if (command.request && *command.request != InstanceRequest::OpenSettings) {
        host->defaults().setBool(keys::kDimEnabled,
                                 enabledAfter(*command.request, controller.isEnabled()));
    }
    instance.setHandler([&](InstanceRequest request) {
        return handleRequest(request, delegate, controller, host->accessibility());
    });
    // A window manager that starts, is replaced or comes back is followed at once; the
    // delegate's two-second poll stays as the fallback.
    host->setWindowManagerChangedHandler([&delegate] { delegate.permissionMayHaveChanged(); });
    // Another instance on another display, or the user with an editor, may change the file.
    SettingsFileWatcher settingsWatcher(host->settingsFile().fileName(),
                                        [&delegate] { delegate.settingsDidChange(); });
    UnixSignals unixSignals;
    QObject::connect(&unixSignals, &UnixSignals::terminationRequested, &app,
                     &QCoreApplication::quit);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate, [&delegate, &instance] {
        delegate.applicationWillTerminate();
        // The overlays are gone: a launch from now on may run in this one's place.
        instance.release();
    });

    // Before the loop turns, so that a second launch already waiting on the socket finds the
    // updater and the tray item in place when its request is handled.
    delegate.applicationDidFinishLaunching();

    const int status = app.exec();
    delegate.applicationWillTerminate();
    return status;
}

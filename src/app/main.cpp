// Starts Sombrix: the Qt application on X11, the platform services and the dim engine, and an
// orderly stop on quit, SIGTERM or SIGINT.
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "app/platform_host.h"
#include "app/unix_signals.h"

int main(int argc, char** argv) {
    // Without this check Qt aborts with a message about platform plugins that hides the cause.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fprintf(stderr,
                     "sombrix: no X display. Sombrix dims windows of an X11 session; start it "
                     "inside one (DISPLAY is not set).\n");
        return 1;
    }
    QApplication::setOrganizationName(QStringLiteral("Sombrix"));
    QApplication::setApplicationName(QStringLiteral("Sombrix"));
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        std::fprintf(stderr,
                     "sombrix: this session uses the Qt platform '%s'. Sombrix stacks its "
                     "overlays through the X server and works only on X11 (xcb).\n",
                     qPrintable(QGuiApplication::platformName()));
        return 1;
    }

    std::string error;
    auto host = sombrix::PlatformHost::create(&error);
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

    sombrix::DimController& controller = host->controller();
    sombrix::UnixSignals unixSignals;
    QObject::connect(&unixSignals, &sombrix::UnixSignals::terminationRequested, &app,
                     &QCoreApplication::quit);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [&controller] { controller.stop(); });

    controller.startIfPossible();
    // Starts the engine once the window manager appears (or the dim is switched back on).
    QTimer permissionPoll;
    QObject::connect(&permissionPoll, &QTimer::timeout,
                     [&controller] { controller.startIfPossible(); });
    permissionPoll.start(2000);

    const int status = app.exec();
    controller.stop();
    return status;
}

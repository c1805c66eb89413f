// A stand-in launch for the single-instance tests: decides its role on the display named by the
// second argument (else $DISPLAY) with the socket folder given as the first and prints it; as the
// primary it prints each request of a later launch and runs until it is terminated; as a secondary
// it asks for the settings and prints the answer or the error.
#include <cstdio>

#include <QCoreApplication>

#include "app/single_instance.h"
#include "app/unix_signals.h"

int main(int argc, char** argv) {
    using sombrix::InstanceRequest;
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    // Installed before the role is printed, so a test may terminate the primary at once.
    sombrix::UnixSignals unixSignals;
    QObject::connect(&unixSignals, &sombrix::UnixSignals::terminationRequested, &app,
                     &QCoreApplication::quit);
    const QString display = argc > 2 && *argv[2] ? argv[2] : qEnvironmentVariable("DISPLAY");
    sombrix::SingleInstance instance(display, QString::fromLocal8Bit(argv[1]));
    switch (instance.start()) {
        case sombrix::SingleInstance::Role::Failed:
            std::printf("failed: %s\n", qPrintable(instance.error()));
            return 1;
        case sombrix::SingleInstance::Role::Secondary: {
            const auto answer = instance.send(InstanceRequest::OpenSettings);
            std::printf("secondary %s\n", qPrintable(answer ? *answer : instance.error()));
            return answer ? 0 : 1;
        }
        case sombrix::SingleInstance::Role::Primary:
            break;
    }
    std::printf(instance.isListening() ? "primary\n" : "primary-unguarded\n");
    std::fflush(stdout);
    instance.setHandler([](InstanceRequest request) {
        std::printf("request %d\n", int(request));
        std::fflush(stdout);
        return QStringLiteral("done");
    });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [&instance] { instance.release(); });
    return app.exec();
}

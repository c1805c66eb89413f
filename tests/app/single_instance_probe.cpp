// A stand-in launch for the single-instance tests: decides its role in the directory given as
// the first argument (for the session key given as the second, if any) and prints it; as the
// primary it prints "reopen" for every later launch and runs until it is terminated.
#include <cstdio>

#include <QCoreApplication>

#include "app/single_instance.h"
#include "app/unix_signals.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        return 2;
    }
    // Installed before the role is printed, so a test may terminate the primary at once.
    sombrix::UnixSignals unixSignals;
    QObject::connect(&unixSignals, &sombrix::UnixSignals::terminationRequested, &app,
                     &QCoreApplication::quit);
    sombrix::SingleInstance instance(QString::fromLocal8Bit(argv[1]),
                                     argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString());
    if (instance.start() == sombrix::SingleInstance::Role::Secondary) {
        std::printf("secondary\n");
        return 0;
    }
    std::printf(instance.isListening() ? "primary\n" : "primary-unguarded\n");
    std::fflush(stdout);
    QObject::connect(&instance, &sombrix::SingleInstance::reopenRequested, [] {
        std::printf("reopen\n");
        std::fflush(stdout);
    });
    return app.exec();
}

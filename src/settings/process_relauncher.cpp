// Relaunch through a detached copy of the running binary.
#include "settings/process_relauncher.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QProcess>

namespace sombrix {

bool ProcessRelauncher::startNewInstance() {
    // A new instance that starts while this one still holds the single-instance socket would
    // only hand over to us and exit. So a small shell waits (up to 30 s) for this process to be
    // gone before it starts the binary.
    static const QString script = QStringLiteral(
        "i=0; while kill -0 \"$1\" 2>/dev/null && [ $i -lt 300 ]; do sleep 0.1; i=$((i+1)); "
        "done; exec \"$0\"");
    return QProcess::startDetached(
        QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"), script, QCoreApplication::applicationFilePath(),
         QString::number(QCoreApplication::applicationPid())});
}

void ProcessRelauncher::quit() {
    // Queued so that the button's click handling finishes before the event loop ends.
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                              Qt::QueuedConnection);
}

}  // namespace sombrix

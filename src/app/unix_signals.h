// Turns SIGTERM, SIGINT and SIGHUP into an orderly quit on the main loop, so that a session
// logout or a `kill` runs the same shutdown as "Quit Sombrix" and hides every overlay first.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace sombrix {

class UnixSignals : public QObject {
    Q_OBJECT
public:
    explicit UnixSignals(QObject* parent = nullptr);
    ~UnixSignals() override;

    // False when the signal handlers could not be installed.
    bool installed() const { return notifier_ != nullptr; }

signals:
    void terminationRequested();

private:
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace sombrix

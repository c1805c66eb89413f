// One Sombrix per user and X display. The first launch claims the display (DisplayGuard) and
// listens on a local socket it publishes with the claim; a later launch on the same display,
// whatever its runtime folder, finds that socket through the claim, passes its request (open the
// settings, switch the dim, quit) and ends. The socket lives in a folder only this user can
// enter, nothing found there is trusted unless this user owns it, and the instance removes only
// the socket it made itself.
#pragma once

#include <sys/types.h>

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "app/display_guard.h"

class QSocketNotifier;

namespace sombrix {

// What a launch asks of the instance already running.
enum class InstanceRequest { OpenSettings, Toggle, Enable, Disable, Quit };
// Its word on the socket and in the log: "settings", "toggle", "enable", "disable", "quit".
QByteArray requestName(InstanceRequest request);

class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Role {
        // This process holds the display and runs the application; it answers later launches
        // when it could listen.
        Primary,
        // Another instance holds the display: send() reaches it.
        Secondary,
        // The display could not be opened or claimed; error() says why.
        Failed,
    };

    // `display` is the DISPLAY value; `directory` holds the socket, see privateDirectory().
    SingleInstance(QString display, QString directory, QObject* parent = nullptr);
    ~SingleInstance() override;

    Role start();
    // Why start() failed or send() got no answer, in a short sentence.
    QString error() const { return error_; }

    // Primary: turns a request into the one-line answer the asking launch shows. Runs on the
    // main loop; without a handler every request is answered as done.
    void setHandler(std::function<QString(InstanceRequest)> handler) {
        handler_ = std::move(handler);
    }
    bool isListening() const { return listenFd_ >= 0; }
    // Stops answering and removes the socket, when the file there is still the one it made.
    void stopListening();
    // Stops answering and gives the display up, so that a launch from now on runs in its place.
    void release();
    QString socketPath() const { return socketPath_; }

    // Secondary: passes `request` to the running instance and returns its answer, or nothing
    // (see error()) when it cannot be reached, does not answer, or is not this user's.
    std::optional<QString> send(InstanceRequest request);
    // Secondary: waits until the running instance has given the display up.
    bool waitUntilGone(int timeoutMs);

    // A file-name-safe key for an X display name: ":0" and ":0.1" give "0", "host:10.0" gives
    // "host_10". Two screens of one display share an instance, two displays never do.
    static QString sessionKeyForDisplay(const QString& display);
    // The directory for the socket: $XDG_RUNTIME_DIR when it is private to this user, otherwise
    // /tmp/sombrix-<uid>, created with mode 0700. Empty when neither can be trusted.
    static QString privateDirectory();
    // A real directory (not a symbolic link) owned by this user that no one else may enter.
    static bool isPrivateDirectory(const QString& path);

private:
    bool listen();
    void acceptConnections();
    void answer(int fd);

    QString display_;
    QString directory_;
    QString key_;
    DisplayGuard guard_;
    std::function<QString(InstanceRequest)> handler_;
    QString error_;
    QString socketPath_;
    int listenFd_ = -1;
    // The socket file as made, so that a file put there later by someone else is left alone.
    dev_t socketDevice_ = 0;
    ino_t socketInode_ = 0;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace sombrix

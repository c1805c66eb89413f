// One Sombrix per user and X display: the first launch listens on a local socket; a later launch
// on the same display asks that instance to open its settings window and ends. The socket lives in
// a directory only this user can enter, and nothing found there is trusted unless this user owns
// it.
#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace sombrix {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Role {
        // This process runs the application (and answers later launches when it could listen).
        Primary,
        // Another instance runs and has been asked to open its settings; this process should end.
        Secondary,
    };

    // `directory` holds the socket and its lock file; see privateDirectory(). `sessionKey` tells
    // apart the instances of one user on different displays (see sessionKeyForDisplay()).
    explicit SingleInstance(QString directory, QString sessionKey = {}, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Decides this process's role. Two launches at the same moment are serialised by a lock on a
    // file next to the socket, so exactly one of them becomes the primary. A socket left behind
    // by a crashed instance is replaced. When the directory cannot be trusted the process runs
    // as the primary without answering later launches.
    Role start();

    bool isListening() const;
    // Stops answering later launches and removes the socket, so that a new instance started now
    // (a relaunch) becomes the primary instead of handing over to this one.
    void stopListening();

    QString socketPath() const;
    QString lockPath() const;

    // A file-name-safe key for an X display name: ":0" and ":0.1" give "0", "host:10.0" gives
    // "host_10". Two screens of one display share an instance, two displays never do.
    static QString sessionKeyForDisplay(const QString& display);

    // The directory for the socket: $XDG_RUNTIME_DIR when it is private to this user, otherwise
    // /tmp/sombrix-<uid>, created with mode 0700. Empty when neither can be trusted.
    static QString privateDirectory();
    // A real directory (not a symbolic link) owned by this user that no one else may enter.
    static bool isPrivateDirectory(const QString& path);

signals:
    // A later launch asked for the settings window.
    void reopenRequested();

private:
    bool askRunningInstance();
    bool listen();
    void acceptConnections();

    QString directory_;
    QString baseName_;
    QLocalServer* server_ = nullptr;
};

}  // namespace sombrix

// The local-socket handshake between launches, guarded by a file lock.
#include "app/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QLocalServer>
#include <QLocalSocket>
#include <cerrno>

namespace sombrix {
namespace {

constexpr QByteArrayView kRequest = "reopen\n";
constexpr QByteArrayView kAnswer = "ok\n";
constexpr int kConnectTimeoutMs = 1000;
constexpr int kAnswerTimeoutMs = 3000;

// Held for the check-and-listen step only; released on every path out of start().
class FileLock {
public:
    explicit FileLock(const QString& path) {
        fd_ =
            ::open(path.toLocal8Bit().constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd_ < 0) {
            return;
        }
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                ::close(fd_);
                fd_ = -1;
                return;
            }
        }
    }
    ~FileLock() { release(); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool held() const { return fd_ >= 0; }
    void release() {
        if (fd_ >= 0) {
            ::flock(fd_, LOCK_UN);
            ::close(fd_);
            fd_ = -1;
        }
    }

private:
    int fd_ = -1;
};

// The process at the other end of a connected local socket runs as this user.
bool peerIsThisUser(qintptr descriptor) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) {
        return false;
    }
    return credentials.uid == ::geteuid();
}

enum class SocketFile { Missing, Ours, Untrusted };

SocketFile inspectSocketFile(const QString& path) {
    struct stat info {};
    if (::lstat(path.toLocal8Bit().constData(), &info) != 0) {
        return errno == ENOENT ? SocketFile::Missing : SocketFile::Untrusted;
    }
    if (!S_ISSOCK(info.st_mode) || info.st_uid != ::geteuid()) {
        return SocketFile::Untrusted;
    }
    return SocketFile::Ours;
}

}  // namespace

SingleInstance::SingleInstance(QString directory, QString sessionKey, QObject* parent)
    : QObject(parent),
      directory_(std::move(directory)),
      baseName_(sessionKey.isEmpty() ? QStringLiteral("sombrix")
                                     : QStringLiteral("sombrix-") + sessionKey) {}

SingleInstance::~SingleInstance() {
    stopListening();
}

QString SingleInstance::socketPath() const {
    return directory_ + QLatin1Char('/') + baseName_ + QStringLiteral(".socket");
}

QString SingleInstance::lockPath() const {
    return directory_ + QLatin1Char('/') + baseName_ + QStringLiteral(".lock");
}

QString SingleInstance::sessionKeyForDisplay(const QString& display) {
    // The screen number after the last dot of the display part does not make another display.
    QString name = display;
    const qsizetype colon = name.lastIndexOf(QLatin1Char(':'));
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (colon >= 0 && dot > colon) {
        name.truncate(dot);
    }
    if (name.startsWith(QLatin1Char(':'))) {
        name.remove(0, 1);
    }
    QString key;
    for (const QChar c : name) {
        const bool safe = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                          (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                          (c >= QLatin1Char('0') && c <= QLatin1Char('9'));
        key += safe ? c : QLatin1Char('_');
    }
    return key.left(64);
}

bool SingleInstance::isListening() const {
    return server_ != nullptr && server_->isListening();
}

bool SingleInstance::isPrivateDirectory(const QString& path) {
    if (path.isEmpty()) {
        return false;
    }
    struct stat info {};
    if (::lstat(path.toLocal8Bit().constData(), &info) != 0) {
        return false;
    }
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
           (info.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

QString SingleInstance::privateDirectory() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (isPrivateDirectory(runtime)) {
        return runtime;
    }
    const QString fallback = QStringLiteral("/tmp/sombrix-%1").arg(::geteuid());
    // An existing entry is accepted only when it passes the same test as a fresh one: a
    // directory someone else made in /tmp under this name is never used.
    ::mkdir(fallback.toLocal8Bit().constData(), 0700);
    return isPrivateDirectory(fallback) ? fallback : QString();
}

SingleInstance::Role SingleInstance::start() {
    if (!isPrivateDirectory(directory_)) {
        return Role::Primary;
    }
    FileLock lock(lockPath());
    if (!lock.held()) {
        return Role::Primary;
    }
    switch (inspectSocketFile(socketPath())) {
        case SocketFile::Ours:
            if (askRunningInstance()) {
                return Role::Secondary;
            }
            break;  // nobody answers: left behind by an instance that crashed
        case SocketFile::Untrusted:
        case SocketFile::Missing:
            break;
    }
    ::unlink(socketPath().toLocal8Bit().constData());
    listen();
    return Role::Primary;
}

bool SingleInstance::askRunningInstance() {
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(kConnectTimeoutMs)) {
        return false;
    }
    if (!peerIsThisUser(socket.socketDescriptor())) {
        return false;
    }
    socket.write(kRequest.data(), kRequest.size());
    socket.flush();
    socket.waitForBytesWritten(kConnectTimeoutMs);
    // The running instance answers once it has taken the request. Even without an answer it is
    // alive (it accepted the connection), so this launch ends either way rather than start a
    // second instance beside it.
    QByteArray answer;
    while (answer.size() < kAnswer.size() && socket.waitForReadyRead(kAnswerTimeoutMs)) {
        answer += socket.readAll();
    }
    return true;
}

bool SingleInstance::listen() {
    auto* server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(socketPath())) {
        delete server;
        return false;
    }
    server_ = server;
    connect(server_, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    return true;
}

void SingleInstance::acceptConnections() {
    while (server_ != nullptr && server_->hasPendingConnections()) {
        QLocalSocket* socket = server_->nextPendingConnection();
        if (!peerIsThisUser(socket->socketDescriptor())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            // One short line per connection; anything else is ignored.
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > 64) {
                    socket->abort();
                }
                return;
            }
            const QByteArray line = socket->readLine(64);
            if (line == kRequest) {
                socket->write(kAnswer.data(), kAnswer.size());
                socket->flush();
                emit reopenRequested();
            }
            socket->disconnectFromServer();
        });
    }
}

void SingleInstance::stopListening() {
    if (server_ != nullptr) {
        // close() removes the socket file QLocalServer made.
        server_->close();
        // Later, not now: this may run from a handler of one of the server's own connections.
        server_->deleteLater();
        server_ = nullptr;
    }
}

}  // namespace sombrix

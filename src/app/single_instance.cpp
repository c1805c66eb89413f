// The claim on the display, the socket the running instance answers on, and the asking side.
#include "app/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QByteArray>
#include <QLocalSocket>
#include <QSocketNotifier>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace sombrix {
namespace {

constexpr int kAnswerTimeoutMs = 5000;
// A holder publishes its socket right after it claimed the display.
constexpr int kPublishTimeoutMs = 3000;
constexpr qint64 kMaxLine = 256;

}  // namespace

QByteArray requestName(InstanceRequest request) {
    switch (request) {
        case InstanceRequest::OpenSettings:
            return "settings";
        case InstanceRequest::Toggle:
            return "toggle";
        case InstanceRequest::Enable:
            return "enable";
        case InstanceRequest::Disable:
            return "disable";
        case InstanceRequest::Quit:
            return "quit";
    }
    return {};
}

namespace {

std::optional<InstanceRequest> requestOf(const QByteArray& word) {
    for (InstanceRequest r :
         {InstanceRequest::OpenSettings, InstanceRequest::Toggle, InstanceRequest::Enable,
          InstanceRequest::Disable, InstanceRequest::Quit}) {
        if (requestName(r) == word) {
            return r;
        }
    }
    return std::nullopt;
}

// The process at the other end of a connected local socket runs as this user.
bool peerIsThisUser(int fd) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) {
        return false;
    }
    return credentials.uid == ::geteuid();
}

bool toAddress(const QString& path, sockaddr_un& address) {
    const QByteArray bytes = path.toLocal8Bit();
    address = {};
    address.sun_family = AF_UNIX;
    if (bytes.isEmpty() || size_t(bytes.size()) >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, bytes.constData(), size_t(bytes.size()));
    return true;
}

// A connected socket to `path`, or -1 with errno set.
int connectTo(const QString& path) {
    sockaddr_un address{};
    if (!toAddress(path, address)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

enum class SocketFile { Missing, OursAndDead, Other };

// What is at the socket's place: nothing, a socket of ours nobody listens on (left by an
// instance that crashed), or anything else, which is not ours to remove.
SocketFile inspectSocketFile(const QString& path) {
    struct stat info {};
    if (::lstat(path.toLocal8Bit().constData(), &info) != 0) {
        return errno == ENOENT ? SocketFile::Missing : SocketFile::Other;
    }
    if (!S_ISSOCK(info.st_mode) || info.st_uid != ::geteuid()) {
        return SocketFile::Other;
    }
    const int fd = connectTo(path);
    if (fd >= 0) {
        ::close(fd);
        return SocketFile::Other;
    }
    return errno == ECONNREFUSED ? SocketFile::OursAndDead : SocketFile::Other;
}

}  // namespace

SingleInstance::SingleInstance(QString display, QString directory, QObject* parent)
    : QObject(parent),
      display_(std::move(display)),
      directory_(std::move(directory)),
      key_(sessionKeyForDisplay(display_)),
      guard_(display_) {}

SingleInstance::~SingleInstance() {
    stopListening();
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
    if (!guard_.connected()) {
        error_ = QStringLiteral("cannot open the X display \"%1\"").arg(display_);
        return Role::Failed;
    }
    switch (guard_.claim()) {
        case DisplayGuard::Claim::Held:
            return Role::Secondary;
        case DisplayGuard::Claim::Failed:
            error_ =
                QStringLiteral("the X display \"%1\" refused the instance claim").arg(display_);
            return Role::Failed;
        case DisplayGuard::Claim::Claimed:
            break;
    }
    // Without a socket this instance still holds the display; later launches are told that it
    // cannot be reached instead of starting beside it.
    guard_.publish(listen() ? socketPath_.toLocal8Bit() : QByteArray());
    return Role::Primary;
}

bool SingleInstance::listen() {
    if (!isPrivateDirectory(directory_)) {
        return false;
    }
    // The usual name, unless something we may not remove is there (a folder, a file of another
    // user, a socket someone listens on): then a name of this process's own.
    QString path = directory_ + QStringLiteral("/sombrix-") + key_ + QStringLiteral(".socket");
    SocketFile found = inspectSocketFile(path);
    if (found == SocketFile::Other) {
        path = directory_ + QStringLiteral("/sombrix-%1-%2.socket").arg(key_).arg(::getpid());
        found = inspectSocketFile(path);
    }
    if (found == SocketFile::OursAndDead) {
        ::unlink(path.toLocal8Bit().constData());
    } else if (found == SocketFile::Other) {
        return false;
    }
    sockaddr_un address{};
    if (!toAddress(path, address)) {
        return false;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 16) != 0 || ::lstat(address.sun_path, &info) != 0) {
        ::close(fd);
        return false;
    }
    listenFd_ = fd;
    socketPath_ = path;
    socketDevice_ = info.st_dev;
    socketInode_ = info.st_ino;
    notifier_ = new QSocketNotifier(qintptr(fd), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SingleInstance::acceptConnections);
    return true;
}

void SingleInstance::acceptConnections() {
    while (listenFd_ >= 0) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            return;
        }
        if (!peerIsThisUser(fd)) {
            ::close(fd);
            continue;
        }
        answer(fd);
    }
}

void SingleInstance::answer(int fd) {
    auto* socket = new QLocalSocket(this);
    if (!socket->setSocketDescriptor(qintptr(fd))) {
        ::close(fd);
        delete socket;
        return;
    }
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        // One short line per connection: the request. The claim found this socket on the X
        // server itself, so whatever name the asking launch gave the display ("unix:0", ":0.1"),
        // it is this instance's display.
        if (!socket->canReadLine()) {
            if (socket->bytesAvailable() > kMaxLine) {
                socket->abort();
            }
            return;
        }
        const auto request = requestOf(socket->readLine(kMaxLine).trimmed());
        const QByteArray reply =
            request ? "ok " + (handler_ ? handler_(*request) : QString()).toUtf8() + "\n"
                    : QByteArray("error unknown request\n");
        socket->write(reply);
        socket->flush();
        socket->disconnectFromServer();
    });
}

void SingleInstance::stopListening() {
    if (listenFd_ < 0) {
        return;
    }
    delete notifier_;
    notifier_ = nullptr;
    ::close(listenFd_);
    listenFd_ = -1;
    // Someone may have put another file in its place meanwhile; that one is not ours.
    struct stat info {};
    const QByteArray path = socketPath_.toLocal8Bit();
    if (::lstat(path.constData(), &info) == 0 && info.st_dev == socketDevice_ &&
        info.st_ino == socketInode_) {
        ::unlink(path.constData());
    }
}

void SingleInstance::release() {
    stopListening();
    guard_.release();
}

std::optional<QString> SingleInstance::send(InstanceRequest request) {
    const QString running = QStringLiteral("the Sombrix running on display %1").arg(display_);
    std::optional<QByteArray> path;
    bool gone = false;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kPublishTimeoutMs);
    while (!(path = guard_.publishedSocketPath(&gone)) && !gone &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (gone) {
        error_ = running + QStringLiteral(" ended while this launch asked it; launch again");
        return std::nullopt;
    }
    if (!path || path->isEmpty()) {
        error_ = running + QStringLiteral(" has no socket to take requests (no private folder)");
        return std::nullopt;
    }
    const int fd = connectTo(QString::fromLocal8Bit(*path));
    if (fd < 0) {
        error_ = running + QStringLiteral(" does not answer on %1 (%2)")
                               .arg(QString::fromLocal8Bit(*path),
                                    QString::fromLocal8Bit(std::strerror(errno)));
        return std::nullopt;
    }
    if (!peerIsThisUser(fd)) {
        ::close(fd);
        error_ = running + QStringLiteral(" belongs to another user");
        return std::nullopt;
    }
    const QByteArray line = requestName(request) + '\n';
    QByteArray reply;
    if (::send(fd, line.constData(), size_t(line.size()), MSG_NOSIGNAL) == line.size()) {
        const auto until =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kAnswerTimeoutMs);
        while (!reply.contains('\n') && reply.size() < kMaxLine) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            pollfd wait{fd, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&wait, 1, int(left.count())) <= 0) {
                break;
            }
            char buffer[kMaxLine];
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            reply.append(buffer, got);
        }
    }
    ::close(fd);
    if (reply.startsWith("ok ") && reply.endsWith('\n')) {
        return QString::fromUtf8(reply.mid(3).trimmed());
    }
    if (reply.startsWith("error ")) {
        error_ = QString::fromUtf8(reply.mid(6).trimmed());
        return std::nullopt;
    }
    error_ = running + QStringLiteral(" did not answer");
    return std::nullopt;
}

bool SingleInstance::waitUntilGone(int timeoutMs) {
    return guard_.waitUntilFree(timeoutMs);
}

}  // namespace sombrix

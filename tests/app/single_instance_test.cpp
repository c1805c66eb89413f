// The single-instance handshake between real processes: a later launch reaches the first, a
// socket left by a crashed instance is taken over, nothing owned by another user is trusted, and
// of several launches at the same moment exactly one runs.
#include "app/single_instance.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <memory>
#include <vector>

namespace sombrix {
namespace {

constexpr uid_t kNobody = 65534;

// Runs the event loop until `done` holds or 20 s pass; the first instance answers later launches
// only while its loop runs.
bool spinUntil(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > 20000) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// A unix socket bound at `path`; listening when asked, otherwise only bound and closed, as a
// crashed process leaves it.
int bindSocket(const QString& path, bool listening) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray bytes = path.toLocal8Bit();
    std::memcpy(address.sun_path, bytes.constData(), size_t(bytes.size()));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    if (listening) {
        ::listen(fd, 8);
        return fd;
    }
    ::close(fd);
    return -1;
}

class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    std::unique_ptr<QProcess> launch(const QString& sessionKey = {}) {
        auto process = std::make_unique<QProcess>();
        process->start(QStringLiteral(SOMBRIX_PROBE), {dir.path(), sessionKey});
        return process;
    }

    static QString output(QProcess& process) {
        return QString::fromLocal8Bit(process.readAllStandardOutput());
    }

    QString socketPath() const { return dir.path() + QStringLiteral("/sombrix.socket"); }

    QTemporaryDir dir;  // made with mode 0700
};

TEST_F(SingleInstanceTest, LaterLaunchAsksTheRunningInstanceAndEnds) {
    SingleInstance first(dir.path());
    ASSERT_EQ(first.start(), SingleInstance::Role::Primary);
    ASSERT_TRUE(first.isListening());
    int requests = 0;
    QObject::connect(&first, &SingleInstance::reopenRequested, [&] { ++requests; });

    auto second = launch();
    ASSERT_TRUE(spinUntil([&] { return second->state() == QProcess::NotRunning; }));
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_EQ(output(*second), QStringLiteral("secondary\n"));
    EXPECT_EQ(requests, 1);

    // A relaunch: once the first stops answering, the next launch runs in its place.
    first.stopListening();
    EXPECT_FALSE(QFile::exists(socketPath()));
    auto third = launch();
    ASSERT_TRUE(third->waitForReadyRead(20000));
    EXPECT_EQ(output(*third), QStringLiteral("primary\n"));
    third->terminate();
    ASSERT_TRUE(third->waitForFinished(20000));
    EXPECT_EQ(third->exitCode(), 0);
    EXPECT_FALSE(QFile::exists(socketPath())) << "a clean exit removes its socket";
}

TEST_F(SingleInstanceTest, InstancesOnDifferentDisplaysRunSideBySide) {
    const QString left = SingleInstance::sessionKeyForDisplay(QStringLiteral(":7"));
    SingleInstance first(dir.path(), left);
    ASSERT_EQ(first.start(), SingleInstance::Role::Primary);

    auto other = launch(SingleInstance::sessionKeyForDisplay(QStringLiteral(":8")));
    ASSERT_TRUE(other->waitForReadyRead(20000));
    EXPECT_EQ(output(*other), QStringLiteral("primary\n"));
    other->terminate();
    ASSERT_TRUE(other->waitForFinished(20000));

    // Another screen of the same display is the same session.
    EXPECT_EQ(SingleInstance::sessionKeyForDisplay(QStringLiteral(":7.1")), left);
    auto same = launch(SingleInstance::sessionKeyForDisplay(QStringLiteral(":7.1")));
    ASSERT_TRUE(spinUntil([&] { return same->state() == QProcess::NotRunning; }));
    EXPECT_EQ(output(*same), QStringLiteral("secondary\n"));
    // A display name never escapes the directory.
    EXPECT_EQ(SingleInstance::sessionKeyForDisplay(QStringLiteral("../../x:1.0")), "______x_1");
}

TEST_F(SingleInstanceTest, SocketLeftByACrashedInstanceIsTakenOver) {
    bindSocket(socketPath(), false);
    ASSERT_TRUE(QFile::exists(socketPath()));
    SingleInstance instance(dir.path());
    EXPECT_EQ(instance.start(), SingleInstance::Role::Primary);
    EXPECT_TRUE(instance.isListening());
}

TEST_F(SingleInstanceTest, NothingOwnedByAnotherUserIsTrusted) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "making files of another user needs root";
    }
    // A live socket of another user at our socket's place is never contacted...
    const int foreign = bindSocket(socketPath(), true);
    ASSERT_GE(foreign, 0);
    ASSERT_EQ(::chown(socketPath().toLocal8Bit().constData(), kNobody, kNobody), 0);
    SingleInstance instance(dir.path());
    EXPECT_EQ(instance.start(), SingleInstance::Role::Primary);
    EXPECT_TRUE(instance.isListening());
    EXPECT_LT(::accept(foreign, nullptr, nullptr), 0) << "the foreign socket was contacted";
    ::close(foreign);
    instance.stopListening();

    // ...and a directory of another user is not used at all.
    QTemporaryDir other;
    ASSERT_EQ(::chown(other.path().toLocal8Bit().constData(), kNobody, kNobody), 0);
    EXPECT_FALSE(SingleInstance::isPrivateDirectory(other.path()));
    SingleInstance unguarded(other.path());
    EXPECT_EQ(unguarded.start(), SingleInstance::Role::Primary);
    EXPECT_FALSE(unguarded.isListening());
}

TEST_F(SingleInstanceTest, DirectoryOthersCanEnterOrALinkIsNotPrivate) {
    EXPECT_TRUE(SingleInstance::isPrivateDirectory(dir.path()));

    QTemporaryDir open;
    ::chmod(open.path().toLocal8Bit().constData(), 0755);
    EXPECT_FALSE(SingleInstance::isPrivateDirectory(open.path()));
    SingleInstance instance(open.path());
    EXPECT_EQ(instance.start(), SingleInstance::Role::Primary);
    EXPECT_FALSE(instance.isListening());
    EXPECT_FALSE(QFile::exists(open.path() + QStringLiteral("/sombrix.socket")));

    const QString link = dir.path() + QStringLiteral("/link");
    ASSERT_TRUE(QFile::link(dir.path(), link));
    EXPECT_FALSE(SingleInstance::isPrivateDirectory(link));
    EXPECT_FALSE(SingleInstance::isPrivateDirectory(QString()));
}

TEST_F(SingleInstanceTest, OfSimultaneousLaunchesExactlyOneRuns) {
    constexpr int kLaunches = 6;
    for (int round = 0; round < 10; ++round) {
        std::vector<std::unique_ptr<QProcess>> launches;
        for (int i = 0; i < kLaunches; ++i) {
            launches.push_back(launch());
        }
        QProcess* primary = nullptr;
        QString primaryOutput;
        for (auto& process : launches) {
            ASSERT_TRUE(process->waitForStarted(20000));
        }
        // Every launch but one ends after handing over; the one left runs.
        ASSERT_TRUE(spinUntil([&] {
            int finished = 0;
            for (auto& process : launches) {
                finished += process->state() == QProcess::NotRunning;
            }
            return finished == kLaunches - 1;
        }));
        for (auto& process : launches) {
            if (process->state() == QProcess::NotRunning) {
                EXPECT_EQ(process->exitCode(), 0);
                EXPECT_EQ(output(*process), QStringLiteral("secondary\n"));
            } else {
                primary = process.get();
            }
        }
        ASSERT_NE(primary, nullptr);
        ASSERT_TRUE(spinUntil([&] {
            primaryOutput += output(*primary);
            return primaryOutput.count(QStringLiteral("reopen")) == kLaunches - 1;
        })) << primaryOutput.toStdString();
        EXPECT_TRUE(primaryOutput.startsWith(QStringLiteral("primary\n")));
        primary->terminate();
        ASSERT_TRUE(primary->waitForFinished(20000));
    }
}

}  // namespace
}  // namespace sombrix

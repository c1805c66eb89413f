// The single-instance handshake between real processes on a private X server: a later launch
// reaches the first whatever its runtime folder, sockets the instance did not make are left
// alone, nothing owned by another user is trusted, and of several launches at the same moment
// exactly one runs.
#include "app/single_instance.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdlib>
#include <memory>
#include <vector>
#include "spin_until.h"
#include "xsession.h"

namespace sombrix {
namespace {

constexpr uid_t kNobody = 65534;

// The first instance answers later launches only while its event loop runs.
using test::spinUntil;

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
    if (listening && ::listen(fd, 8) == 0)
        return fd;
    ::close(fd);
    return -1;
}

class SingleInstanceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        session = new test::XSession({.windowManager = {.command = {}}});
    }
    static void TearDownTestSuite() { delete session; }

    void SetUp() override {
        if (session->unavailable())
            GTEST_SKIP() << session->error();
        ASSERT_TRUE(session->ok()) << session->error();
        ::setenv("DISPLAY", session->display().c_str(), 1);
        ASSERT_TRUE(dir.isValid());
    }

    static QString display() { return QString::fromStdString(session->display()); }

    // A launch with `folder` as its socket folder, asking for `request` when it is not the first,
    // on the session's display under the name `displayName` when one is given.
    std::unique_ptr<QProcess> launch(const QString& folder, const QString& request = {},
                                     const QString& displayName = {}) {
        auto process = std::make_unique<QProcess>();
        if (!displayName.isEmpty()) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("DISPLAY"), displayName);
            process->setProcessEnvironment(environment);
        }
        process->start(QStringLiteral(SOMBRIX_PROBE), {folder, request});
        return process;
    }

    static QString finish(QProcess& process) {
        EXPECT_TRUE(spinUntil([&] { return process.state() == QProcess::NotRunning; }));
        return QString::fromLocal8Bit(process.readAllStandardOutput());
    }

    QString socketPath() const {
        return dir.path() + QStringLiteral("/sombrix-") +
               SingleInstance::sessionKeyForDisplay(display()) + QStringLiteral(".socket");
    }

    static inline test::XSession* session = nullptr;
    QTemporaryDir dir;  // made with mode 0700
};

TEST_F(SingleInstanceTest, LaterLaunchesReachTheFirstWhateverTheirRuntimeFolder) {
    SingleInstance first(display(), dir.path());
    ASSERT_EQ(first.start(), SingleInstance::Role::Primary);
    ASSERT_TRUE(first.isListening());
    std::vector<InstanceRequest> requests;
    first.setHandler([&](InstanceRequest request) {
        requests.push_back(request);
        return QStringLiteral("done");
    });

    // The same folder (under another name of the same display), another private one, and one
    // that cannot be used at all.
    QTemporaryDir otherRuntime;
    for (const QString& folder :
         {dir.path(), otherRuntime.path(), QStringLiteral("/nonexistent")}) {
        auto later = launch(folder, {},
                            folder == dir.path() ? QStringLiteral("unix") + display() : QString());
        EXPECT_EQ(finish(*later), QStringLiteral("secondary done\n")) << folder.toStdString();
        EXPECT_EQ(later->exitCode(), 0);
    }
    auto quitting = launch(otherRuntime.path(), QStringLiteral("quit"));
    EXPECT_EQ(finish(*quitting), QStringLiteral("secondary done\n"));
    EXPECT_EQ(requests, (std::vector{InstanceRequest::OpenSettings, InstanceRequest::OpenSettings,
                                     InstanceRequest::OpenSettings, InstanceRequest::Quit}));

    // Once the first gives the display up, the next launch runs in its place.
    first.release();
    EXPECT_FALSE(QFile::exists(socketPath()));
    auto next = launch(otherRuntime.path());
    ASSERT_TRUE(next->waitForReadyRead(20000));
    EXPECT_EQ(QString::fromLocal8Bit(next->readAllStandardOutput()), QStringLiteral("primary\n"));
    next->terminate();
    ASSERT_TRUE(next->waitForFinished(20000));
    EXPECT_EQ(next->exitCode(), 0);
    EXPECT_EQ(QDir(otherRuntime.path()).entryList(QDir::System), QStringList())
        << "a clean exit removes its socket";

    // Two screens of one display share an instance; a display name never escapes the folder.
    EXPECT_EQ(SingleInstance::sessionKeyForDisplay(QStringLiteral(":7.1")), "7");
    EXPECT_EQ(SingleInstance::sessionKeyForDisplay(QStringLiteral("../../x:1.0")), "______x_1");
}

TEST_F(SingleInstanceTest, SocketFilesItDidNotMakeAreLeftAlone) {
    // A socket left by an instance that crashed is taken over.
    bindSocket(socketPath(), false);
    {
        SingleInstance first(display(), dir.path());
        ASSERT_EQ(first.start(), SingleInstance::Role::Primary);
        EXPECT_TRUE(first.isListening());
        EXPECT_EQ(first.socketPath(), socketPath());

        // Replaced while running: a later launch says so and ends instead of running beside it,
        // and the first leaves the new file alone when it ends.
        ASSERT_EQ(::unlink(socketPath().toLocal8Bit().constData()), 0);
        bindSocket(socketPath(), false);
        auto later = launch(dir.path());
        EXPECT_TRUE(finish(*later).contains(QStringLiteral("does not answer")));
        EXPECT_EQ(later->exitCode(), 1);
        first.release();
        EXPECT_TRUE(QFile::exists(socketPath()));
    }

    // A folder in the socket's place: the instance listens under a name of its own.
    ASSERT_EQ(::unlink(socketPath().toLocal8Bit().constData()), 0);
    ASSERT_TRUE(QDir(dir.path()).mkdir(QFileInfo(socketPath()).fileName()));
    SingleInstance first(display(), dir.path());
    ASSERT_EQ(first.start(), SingleInstance::Role::Primary);
    EXPECT_TRUE(first.isListening());
    EXPECT_NE(first.socketPath(), socketPath());
    auto later = launch(dir.path());
    EXPECT_EQ(finish(*later), QStringLiteral("secondary \n"));
    EXPECT_EQ(later->exitCode(), 0);
}

TEST_F(SingleInstanceTest, NothingOwnedByAnotherUserIsTrusted) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "making files of another user needs root";
    // A live socket of another user at our socket's place is never contacted...
    const int foreign = bindSocket(socketPath(), true);
    ASSERT_GE(foreign, 0);
    ASSERT_EQ(::chown(socketPath().toLocal8Bit().constData(), kNobody, kNobody), 0);
    {
        SingleInstance instance(display(), dir.path());
        EXPECT_EQ(instance.start(), SingleInstance::Role::Primary);
        EXPECT_TRUE(instance.isListening());
        EXPECT_LT(::accept(foreign, nullptr, nullptr), 0) << "the foreign socket was contacted";
    }
    ::close(foreign);

    // ...and a folder of another user, or one others may enter, is not used at all: the instance
    // runs unreachable, and a later launch says so instead of running beside it.
    QTemporaryDir other;
    ASSERT_EQ(::chown(other.path().toLocal8Bit().constData(), kNobody, kNobody), 0);
    QTemporaryDir open;
    ::chmod(open.path().toLocal8Bit().constData(), 0755);
    const QString link = dir.path() + QStringLiteral("/link");
    ASSERT_TRUE(QFile::link(dir.path(), link));
    for (const QString& folder : {other.path(), open.path(), link})
        EXPECT_FALSE(SingleInstance::isPrivateDirectory(folder)) << folder.toStdString();
    SingleInstance unguarded(display(), open.path());
    EXPECT_EQ(unguarded.start(), SingleInstance::Role::Primary);
    EXPECT_FALSE(unguarded.isListening());
    EXPECT_TRUE(QDir(open.path()).isEmpty());
    auto later = launch(dir.path());
    EXPECT_TRUE(finish(*later).contains(QStringLiteral("no socket")));
    EXPECT_EQ(later->exitCode(), 1);
}

TEST_F(SingleInstanceTest, OfSimultaneousLaunchesExactlyOneRuns) {
    constexpr int kLaunches = 6;
    for (int round = 0; round < 10; ++round) {
        std::vector<std::unique_ptr<QProcess>> launches;
        for (int i = 0; i < kLaunches; ++i)
            launches.push_back(launch(dir.path()));
        QProcess* primary = nullptr;
        QString primaryOutput;
        for (auto& process : launches)
            ASSERT_TRUE(process->waitForStarted(20000));
        // Every launch but one ends after handing over; the one left runs.
        ASSERT_TRUE(spinUntil([&] {
            return std::count_if(launches.begin(), launches.end(), [](const auto& process) {
                       return process->state() == QProcess::NotRunning;
                   }) == kLaunches - 1;
        }));
        for (auto& process : launches) {
            if (process->state() == QProcess::NotRunning) {
                EXPECT_EQ(process->exitCode(), 0);
                EXPECT_EQ(QString::fromLocal8Bit(process->readAllStandardOutput()),
                          QStringLiteral("secondary done\n"));
            } else {
                primary = process.get();
            }
        }
        ASSERT_NE(primary, nullptr);
        ASSERT_TRUE(spinUntil([&] {
            primaryOutput += QString::fromLocal8Bit(primary->readAllStandardOutput());
            return primaryOutput.count(QStringLiteral("request")) == kLaunches - 1;
        })) << primaryOutput.toStdString();
        EXPECT_TRUE(primaryOutput.startsWith(QStringLiteral("primary\n")));
        primary->terminate();
        ASSERT_TRUE(primary->waitForFinished(20000));
    }
}

}  // namespace
}  // namespace sombrix

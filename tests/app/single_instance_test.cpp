// The single-instance handshake between real processes on a private X server: a
// later launch reaches the first whatever its runtime folder, sockets the
// instance did not make are left alone, nothing owned by another user is
// trusted, and of several launches at the same moment exactly one runs.
#include "app/single_instance.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <memory>
#include <vector>
#include "spin_until.h"
#include "xsession.h"

namespace sombrix {
namespace {

// The first instance answers later launches only while its event loop runs.
using test::spinUntil;

// A unix socket bound at `path`: listening (its descriptor returned), or closed
// at once, as a crashed process leaves it.
int bindSocket(const QString& path, bool listening) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    path.toStdString().copy(address.sun_path, sizeof address.sun_path - 1);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listening &&
        ::listen(fd, 8) == 0)
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

    // A launch with `folder` as its socket folder, on the session's display or under the name
    // `displayName` when one is given.
    static std::unique_ptr<QProcess> launch(const QString& folder,
                                            const QString& displayName = {}) {
        auto process = std::make_unique<QProcess>();
        process->start(QStringLiteral(SOMBRIX_PROBE), {folder, displayName});
        return process;
    }

    // What a launch said, once it has ended with `exitCode`.
    static std::string finish(QProcess& process, int exitCode = 0) {
        EXPECT_TRUE(spinUntil([&] { return process.state() == QProcess::NotRunning; }));
        EXPECT_EQ(process.exitCode(), exitCode);
        return process.readAllStandardOutput().toStdString();
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
    int requests = 0;
    first.setHandler([&](InstanceRequest request) {
        requests += request == InstanceRequest::OpenSettings;
        return QStringLiteral("done");
    });

    // The same folder (under another name of the same display), another private
    // one, and one that cannot be used at all.
    QTemporaryDir otherRuntime;
    for (const QString& folder :
         {dir.path(), otherRuntime.path(), QStringLiteral("/nonexistent")}) {
        auto later = launch(folder, folder == dir.path() ? "unix" + display() : QString());
        EXPECT_EQ(finish(*later), "secondary done\n") << folder.toStdString();
    }
    EXPECT_EQ(requests, 3);

    // Giving the display up removes the socket and lets the next launch run; two screens of one
    // display share an instance; a display name never escapes the folder.
    first.release();
    EXPECT_FALSE(QFile::exists(socketPath()));
    EXPECT_EQ(SingleInstance(display(), otherRuntime.path()).start(),
              SingleInstance::Role::Primary);
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

        // Replaced while running: a later launch says so and ends instead of
        // running beside it, and the first leaves the new file alone when it ends.
        ASSERT_EQ(QFile::remove(socketPath()), true);
        bindSocket(socketPath(), false);
        EXPECT_NE(finish(*launch(dir.path()), 1).find("does not answer"), std::string::npos);
        first.release();
        EXPECT_TRUE(QFile::exists(socketPath()));
    }

    // A folder in the socket's place: the instance listens under a name of its
    // own.
    ASSERT_TRUE(QFile::remove(socketPath()));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QFileInfo(socketPath()).fileName()));
    SingleInstance first(display(), dir.path());
    ASSERT_EQ(first.start(), SingleInstance::Role::Primary);
    EXPECT_TRUE(first.isListening());
    EXPECT_NE(first.socketPath(), socketPath());
    EXPECT_EQ(finish(*launch(dir.path())), "secondary \n");
}

TEST_F(SingleInstanceTest, NothingOwnedByAnotherUserIsTrusted) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "making files of another user needs root";
    constexpr uid_t kNobody = 65534;
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

    // ...and a folder of another user, or one others may enter, is not used at
    // all: the instance runs unreachable, and a later launch says so instead of
    // running beside it.
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
    EXPECT_NE(finish(*launch(dir.path()), 1).find("no socket"), std::string::npos);
}

TEST_F(SingleInstanceTest, OfSimultaneousLaunchesExactlyOneRuns) {
    constexpr int kLaunches = 6;
    for (int round = 0; round < 10; ++round) {
        std::vector<std::unique_ptr<QProcess>> launches;
        for (int i = 0; i < kLaunches; ++i)
            launches.push_back(launch(dir.path()));
        // Every launch but one hands over and ends; the one left runs and heard all
        // the others.
        const auto done = [](const auto& process) {
            return process->state() == QProcess::NotRunning;
        };
        ASSERT_TRUE(spinUntil([&] {
            return std::count_if(launches.begin(), launches.end(), done) == kLaunches - 1;
        }));
        for (auto& process : launches) {
            if (done(process)) {
                EXPECT_EQ(finish(*process), "secondary done\n");
            }
        }
        QProcess& primary = **std::find_if_not(launches.begin(), launches.end(), done);
        std::string heard;
        ASSERT_TRUE(spinUntil([&] {
            heard += primary.readAllStandardOutput().toStdString();
            return std::count(heard.begin(), heard.end(), '\n') == kLaunches;
        })) << heard;
        EXPECT_EQ(heard.substr(0, 8), "primary\n");
        primary.terminate();
        EXPECT_EQ(finish(primary), "");
    }
}

}  // namespace
}  // namespace sombrix

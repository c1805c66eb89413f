// The built sombrix when its surroundings fail: the window manager replaced, killed and started
// again, the X server gone, a settings file that is garbage, a settings directory that cannot
// exist. Each case ends with the arrangement right again, or with a clean, explained exit.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <random>

#include "arrangement_invariants.h"
#include "sombrix_process.h"
#include "test_client.h"
#include "xsession.h"

namespace sombrix {
namespace {

using namespace test;
using Clock = std::chrono::steady_clock;

constexpr auto kDeadline = std::chrono::seconds(15);
const std::string kSettings = "[General]\ndimStrength=0.7\n";

// A direct child of this test process running `command` (the session spawns straight from here).
pid_t childNamed(const std::string& command) {
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return -1;
    pid_t found = -1;
    while (dirent* entry = ::readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::strtol(entry->d_name, nullptr, 10));
        if (pid <= 0)
            continue;
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        std::getline(stat, line);
        const auto open = line.find('(');
        const auto close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos)
            continue;
        const std::string comm = line.substr(open + 1, close - open - 1);
        char state = 0;
        int ppid = 0;
        if (std::sscanf(line.c_str() + close + 1, " %c %d", &state, &ppid) != 2)
            continue;
        if (comm == command && ppid == ::getpid() && state != 'Z')
            found = pid;
    }
    ::closedir(proc);
    return found;
}

long elapsedMs(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& l : lines)
        text += "  " + l + "\n";
    return text;
}

class Recovery : public ::testing::Test {
protected:
    void SetUp() override {
        XSessionOptions options;
        options.twoMonitors = true;
        options.compositor = true;
        session_ = std::make_unique<XSession>(options);
        if (session_->unavailable())
            GTEST_SKIP() << session_->error();
        ASSERT_TRUE(session_->ok()) << session_->error();
        client_ = std::make_unique<TestClient>(session_->display());
        ASSERT_TRUE(client_->ok());
        home_ = makeTempDir("sombrix-recovery");
        ASSERT_FALSE(home_.empty());
        settingsFile_ = home_ + "/Sombrix/Sombrix.conf";
    }

    void TearDown() override {
        sombrix_.reset();
        client_.reset();
        session_.reset();
        removeTree(home_);
    }

    xcb_window_t window(const std::string& title, int x, int y) {
        TestWindowSpec spec;
        spec.title = title;
        spec.x = x;
        spec.y = y;
        spec.width = 300;
        spec.height = 250;
        return client_->createWindow(spec);
    }

    // Three windows over two monitors, the first one focused.
    void someWork() {
        a_ = window("recovery-a", 60, 100);
        b_ = window("recovery-b", 300, 300);
        c_ = window("recovery-c", 1000, 200);
        ASSERT_TRUE(a_ && b_ && c_);
        client_->activate(a_);
        client_->flush();
        ASSERT_TRUE(waitUntil([&] { return client_->activeWindow() == a_; }, kDeadline));
    }

    void startSombrix(const std::string& configHome) {
        sombrix_ = std::make_unique<SombrixProcess>(*session_, SOMBRIX_BINARY, configHome,
                                                    home_ + "/stderr.txt");
        ASSERT_TRUE(sombrix_->start());
        ASSERT_TRUE(
            waitUntil([&] { return mappedOverlays(client_->connection()).size() == 2; }, kDeadline))
            << "no overlay per monitor; stderr: " << sombrix_->stderrText();
    }

    void expectArrangementRight(const std::string& when) {
        ArrangementState state;
        const auto faults = settledViolations(client_->connection(), {}, &state);
        EXPECT_TRUE(faults.empty()) << when << ":\n" << joined(faults) << state.describe();
    }

    // The window manager's check window, when a running manager names it.
    std::optional<xcb_window_t> managerWindow() {
        const auto named = client_->windowListProperty(client_->root(), "_NET_SUPPORTING_WM_CHECK");
        if (named.size() != 1)
            return std::nullopt;
        const auto self = client_->windowListProperty(named[0], "_NET_SUPPORTING_WM_CHECK");
        if (self.size() != 1 || self[0] != named[0])
            return std::nullopt;
        return named[0];
    }

    // The first overlay's opacity as the compositor reads it, 0..1.
    std::optional<double> overlayOpacity() {
        const auto overlays = mappedOverlays(client_->connection());
        if (overlays.empty())
            return std::nullopt;
        xcb_connection_t* c = client_->connection();
        auto* reply = xcb_get_property_reply(
            c,
            xcb_get_property(c, 0, overlays.front(), client_->atom("_NET_WM_WINDOW_OPACITY"),
                             XCB_ATOM_CARDINAL, 0, 1),
            nullptr);
        std::optional<double> opacity;
        if (reply && reply->format == 32 && xcb_get_property_value_length(reply) == 4)
            opacity = *static_cast<std::uint32_t*>(xcb_get_property_value(reply)) / 4294967295.0;
        std::free(reply);
        return opacity;
    }

    std::unique_ptr<XSession> session_;
    std::unique_ptr<TestClient> client_;
    std::unique_ptr<SombrixProcess> sombrix_;
    std::string home_;
    std::string settingsFile_;
    xcb_window_t a_ = 0, b_ = 0, c_ = 0;
};

// The checker must see a real fault, or a quiet soak proves nothing: with the engine frozen, a
// newly focused window's monitor is left wrong; once it runs again, the fault is gone.
TEST_F(Recovery, TheInvariantCheckerSeesAFrozenEngineFallBehind) {
    someWork();
    ASSERT_TRUE(writeFile(settingsFile_, kSettings));
    startSombrix(home_);
    expectArrangementRight("after start");

    ASSERT_EQ(::kill(sombrix_->pid(), SIGSTOP), 0);
    client_->activate(b_);
    client_->flush();
    ASSERT_TRUE(waitUntil([&] { return client_->activeWindow() == b_; }, kDeadline));
    SettleOptions quick;
    quick.persist = std::chrono::milliseconds(500);
    const auto faults = settledViolations(client_->connection(), quick);
    ::kill(sombrix_->pid(), SIGCONT);
    ASSERT_FALSE(faults.empty()) << "the checker found nothing wrong with a frozen engine";
    EXPECT_NE(faults.front().find("recovery-b"), std::string::npos) << joined(faults);

    expectArrangementRight("after the engine ran again");
}

TEST_F(Recovery, ReplacingTheWindowManagerWhileDimming) {
    someWork();
    ASSERT_TRUE(writeFile(settingsFile_, kSettings));
    startSombrix(home_);
    expectArrangementRight("before the replacement");

    const auto oldManager = managerWindow();
    ASSERT_TRUE(oldManager);
    const auto start = Clock::now();
    ASSERT_GT(session_->spawn({"openbox", "--sm-disable", "--replace"}), 0);
    // Right again: the new manager has taken over (it names its own check window) and the
    // overlays are where the rules want them.
    std::optional<long> takeOverMs;
    const bool recovered = waitUntil(
        [&] {
            const auto manager = managerWindow();
            if (!manager || manager == oldManager)
                return false;
            if (!takeOverMs)
                takeOverMs = elapsedMs(start);
            const auto state = readArrangement(client_->connection());
            return state && violations(*state).empty();
        },
        kDeadline);
    const long ms = elapsedMs(start);
    // While the old manager goes, focus cannot be trusted and the engine stops; the new
    // manager's check window starts it again at once (the 2-s poll is only the fallback).
    std::printf("recovery openbox_replace_ms=%ld (new manager in place after %ld ms)\n", ms,
                takeOverMs.value_or(-1));
    EXPECT_TRUE(recovered);
    expectArrangementRight("after openbox --replace");
    EXPECT_TRUE(sombrix_->running()) << sombrix_->howItEnded() << " " << sombrix_->stderrText();
}

TEST_F(Recovery, WithoutAWindowManagerTheEngineStopsAndStartsAgainWithIt) {
    someWork();
    ASSERT_TRUE(writeFile(settingsFile_, kSettings));
    startSombrix(home_);
    expectArrangementRight("before the manager died");

    const pid_t manager = childNamed("openbox");
    ASSERT_GT(manager, 0);
    auto start = Clock::now();
    ASSERT_EQ(::kill(manager, SIGKILL), 0);
    // Focus can no longer be known: no overlay may stay over the user's work.
    EXPECT_TRUE(
        waitUntil([&] { return mappedOverlays(client_->connection()).empty(); }, kDeadline));
    std::printf("recovery wm_killed_overlays_gone_ms=%ld\n", elapsedMs(start));
    ASSERT_TRUE(sombrix_->running()) << sombrix_->howItEnded() << " " << sombrix_->stderrText();

    ASSERT_TRUE(session_->startWindowManager()) << session_->error();
    start = Clock::now();
    EXPECT_TRUE(
        waitUntil([&] { return mappedOverlays(client_->connection()).size() == 2; }, kDeadline));
    std::printf("recovery wm_back_overlays_shown_ms=%ld\n", elapsedMs(start));
    expectArrangementRight("after the manager came back");
    EXPECT_TRUE(sombrix_->running()) << sombrix_->howItEnded();
}

TEST_F(Recovery, LosingTheXServerEndsSombrixWithAMessageAndLeavesSettingsAlone) {
    someWork();
    ASSERT_TRUE(writeFile(settingsFile_, kSettings));
    startSombrix(home_);
    expectArrangementRight("before the server died");

    const pid_t server = childNamed("Xvfb");
    ASSERT_GT(server, 0);
    ASSERT_EQ(::kill(server, SIGKILL), 0);
    const auto start = Clock::now();
    ASSERT_TRUE(sombrix_->waitForExit(10000)) << "sombrix outlived its X server";
    std::printf("recovery server_lost_exit_ms=%ld\n", elapsedMs(start));
    const int status = *sombrix_->waitStatus();
    EXPECT_TRUE(WIFEXITED(status)) << "a crash, not an exit: " << sombrix_->howItEnded();
    if (WIFEXITED(status)) {
        EXPECT_NE(WEXITSTATUS(status), 0);
    }
    // Either our own words or Qt's, whichever notices first; both name the server.
    const std::string err = sombrix_->stderrText();
    EXPECT_TRUE(err.find("X server") != std::string::npos ||
                err.find("X11 server") != std::string::npos)
        << "stderr: " << err;
    EXPECT_EQ(readFile(settingsFile_), kSettings);
}

// A settings file that is garbage or was cut short must neither stop sombrix nor be replaced by
// sombrix: the user may still want what is in it.
TEST_F(Recovery, AGarbledSettingsFileGivesDefaultsAndIsNotClobbered) {
    someWork();
    std::mt19937 random(1234);
    std::string garbage(4096, '\0');
    for (char& ch : garbage)
        ch = static_cast<char>(random() & 0xff);
    using namespace std::string_literals;
    struct Case {
        std::string what;
        std::string contents;
        double strength;  // what the overlays must show: the default where nothing is readable
    };
    const std::vector<Case> cases{
        {"binary garbage", garbage, 0.5},
        {"cut mid-key", "[General]\ndimStren", 0.5},
        // A malformed section header makes the whole file unreadable, the good line included.
        {"cut in a section header", "[General]\ndimStrength=0.2\n[Gen", 0.5},
        {"nul bytes in a key", "[General]\n\xff\xfe\x00\x01dimStrength\x00=0.9\n"s, 0.5}};
    for (const auto& [what, contents, strength] : cases) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(writeFile(settingsFile_, contents));
        startSombrix(home_);
        EXPECT_TRUE(waitUntil(
            [&, strength = strength] {
                const auto o = overlayOpacity();
                return o && std::abs(*o - strength) < 0.01;
            },
            kDeadline))
            << "opacity " << overlayOpacity().value_or(-1);
        expectArrangementRight("with a garbled settings file");
        EXPECT_TRUE(sombrix_->terminate());
        EXPECT_EQ(sombrix_->howItEnded(), "exit status 0") << sombrix_->stderrText();
        EXPECT_TRUE(readFile(settingsFile_) == contents) << "the settings file was rewritten";
        sombrix_.reset();
    }
}

TEST_F(Recovery, ASettingsDirectoryThatCannotExistStillLetsItRun) {
    someWork();
    // Tests run as root in CI, so permissions prove nothing: a regular file where a directory
    // should be stops everyone.
    ASSERT_TRUE(writeFile(home_ + "/not-a-directory", "x"));
    startSombrix(home_ + "/not-a-directory/config");
    expectArrangementRight("with no place for settings");
    EXPECT_TRUE(sombrix_->terminate());
    EXPECT_EQ(sombrix_->howItEnded(), "exit status 0") << sombrix_->stderrText();
}

}  // namespace
}  // namespace sombrix

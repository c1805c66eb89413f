// Starting, watching and ending the built sombrix in its private session.
#include "sombrix_fixture.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

namespace sombrix::test {

namespace {
constexpr auto kDeadline = std::chrono::seconds(20);
}

SombrixProcess::SombrixProcess(XSession& session, std::string stderrFile,
                               std::vector<std::string> env)
    : stderrFile_(std::move(stderrFile)) {
    pid_ = session.spawn({SOMBRIX_BINARY}, env, stderrFile_);
}

bool SombrixProcess::running() {
    if (pid_ <= 0 || status_)
        return false;
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_)
        status_ = status;
    return r == 0;
}

bool SombrixProcess::terminate(int signal, int timeoutMs) {
    if (running())
        ::kill(pid_, signal);
    return waitForExit(timeoutMs);
}

std::string SombrixProcess::howItEnded() const {
    if (!status_)
        return "still running";
    const int s = *status_;
    if (WIFEXITED(s))
        return "exit status " + std::to_string(WEXITSTATUS(s));
    return "killed by signal " + std::to_string(WTERMSIG(s)) + " (" + ::strsignal(WTERMSIG(s)) +
           ")";
}

void SombrixTest::SetUp() {
    session_ = std::make_unique<XSession>(options);
    if (session_->unavailable())
        GTEST_SKIP() << session_->error();
    ASSERT_TRUE(session_->ok()) << session_->error();
    client_ = std::make_unique<TestClient>(session_->display());
    ASSERT_TRUE(client_->ok());
    char pattern[] = "/tmp/sombrix-test-XXXXXX";
    ASSERT_TRUE(::mkdtemp(pattern));
    home = pattern;
    std::filesystem::create_directories(home + "/runtime");
    ::chmod((home + "/runtime").c_str(), 0700);
    // Nothing of the user's: settings, runtime folder; the tray goes through XEmbed unless the
    // session has a bus of its own.
    auto& env = session_->environment;
    env.insert(env.begin(),
               {"XDG_CONFIG_HOME=" + home + "/config", "XDG_RUNTIME_DIR=" + home + "/runtime",
                "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"});
}

void SombrixTest::TearDown() {
    launched.clear();
    client_.reset();
    session_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);  // an empty name removes nothing
}

bool SombrixTest::settingsSay(const std::string& text) {
    return waitUntil([&] { return settingsText().find(text) != std::string::npos; }, kDeadline);
}

xcb_window_t SombrixTest::otherProcessWindow(const std::string& title, int x, int y) {
    const std::string geometry = "300x250+" + std::to_string(x) + "+" + std::to_string(y);
    session_->spawn(
        {"xlogo", "-bg", "white", "-fg", "white", "-geometry", geometry, "-title", title});
    xcb_window_t found = 0;
    waitUntil(
        [&] {
            std::string out;
            if (session_->run({"xdotool", "search", "--onlyvisible", "--name", "^" + title + "$"},
                              &out) != 0)
                return false;
            found = static_cast<xcb_window_t>(std::strtoul(out.c_str(), nullptr, 10));
            return found != 0 && client_->isManaged(found);
        },
        kDeadline);
    return found;
}

void SombrixTest::activate(xcb_window_t w) {
    client_->activate(w);
    ASSERT_TRUE(waitUntil([&] { return client_->activeWindow() == w; }, kDeadline));
}

SombrixProcess& SombrixTest::launch(const std::vector<std::string>& extra, bool waitForOverlays) {
    const std::string err = home + "/stderr-" + std::to_string(launched.size()) + ".txt";
    auto& process = *launched.emplace_back(std::make_unique<SombrixProcess>(*session_, err, extra));
    EXPECT_GT(process.pid(), 0);
    if (waitForOverlays) {
        EXPECT_TRUE(overlaysShown(std::max<std::size_t>(1, options.monitors.size())))
            << "no overlay on every monitor; " << process.howItEnded() << "; stderr "
            << process.stderrText();
    }
    return process;
}

bool SombrixTest::overlaysShown(std::size_t n) {
    return waitUntil([&] { return mappedOverlays(connection()).size() == n; }, kDeadline);
}

bool SombrixTest::settingsWindowVisible() {
    std::string out;
    return session_->run({"xdotool", "search", "--onlyvisible", "--name", "^Sombrix Settings$"},
                         &out) == 0 &&
           !out.empty();
}

std::optional<xcb_window_t> SombrixTest::overlayAt(int x) {
    for (xcb_window_t w : overlayWindows(connection())) {
        const auto g = client_->rootGeometry(w);
        if (g && (*g)[0] == x)
            return w;
    }
    return std::nullopt;
}

bool SombrixTest::expectArranged(const std::string& when) {
    ArrangementState state;
    std::string faults;
    for (const auto& fault : settledViolations(connection(), &state))
        faults += "  " + fault + "\n";
    EXPECT_TRUE(faults.empty()) << when << ":\n" << faults << state.describe();
    return faults.empty();
}

}  // namespace sombrix::test

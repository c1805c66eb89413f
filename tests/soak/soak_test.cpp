// A seeded storm of real windows, monitors and settings changes against the running sombrix:
// after every burst, once the server has settled, the overlays must lie where the arrangement
// rules put them; sombrix must not exit and its memory must not grow.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <sstream>

#include "arrangement_invariants.h"
#include "sombrix_process.h"
#include "test_client.h"
#include "xsession.h"

namespace sombrix {
namespace {

using namespace test;
using Clock = std::chrono::steady_clock;

constexpr long kMaxGrowthKb = 2048;
constexpr std::size_t kMaxWindows = 10;
constexpr std::size_t kMaxOtherClients = 3;

long envNumber(const char* name, long fallback) {
    const char* v = std::getenv(name);
    if (!v || !*v)
        return fallback;
    return std::strtol(v, nullptr, 10);
}

// Drives the storm and keeps track of what it made.
class Storm {
public:
    Storm(XSession& session, TestClient& client, std::string settingsFile, unsigned seed)
        : session_(session),
          client_(client),
          settingsFile_(std::move(settingsFile)),
          random_(seed) {}

    ~Storm() {
        for (pid_t p : otherPids_)
            session_.kill(p);
    }

    enum Action {
        Create,
        Destroy,
        Activate,
        Move,
        Minimise,
        Restore,
        FullScreen,
        OtherDesktop,
        BackFromDesktop,
        OtherClient,
        EndOtherClient,
        Monitors,
        Settings,
        ActionCount
    };

    static const char* name(int action) {
        static const char* names[] = {"create",   "destroy",      "activate",   "move",
                                      "minimise", "restore",      "fullscreen", "desktop1",
                                      "desktop0", "other-client", "end-other",  "monitors",
                                      "settings"};
        return names[action];
    }

    void run(int action) {
        switch (action) {
            case Create:
                create();
                break;
            case Destroy:
                destroy();
                break;
            case Activate:
                activate();
                break;
            case Move:
                move();
                break;
            case Minimise:
                minimise();
                break;
            case Restore:
                restore();
                break;
            case FullScreen:
                fullScreen();
                break;
            case OtherDesktop:
                toDesktop(1);
                break;
            case BackFromDesktop:
                toDesktop(0);
                break;
            case OtherClient:
                otherClient();
                break;
            case EndOtherClient:
                endOtherClient();
                break;
            case Monitors:
                monitors();
                break;
            case Settings:
                settings();
                break;
        }
        client_.flush();
    }

    int randomAction() {
        // Weighted: window churn often, monitors and settings now and then.
        static const int weights[ActionCount] = {6, 4, 8, 5, 3, 3, 3, 2, 2, 1, 1, 1, 2};
        std::discrete_distribution<int> pick(std::begin(weights), std::end(weights));
        return pick(random_);
    }

    void create() {
        if (windows_.size() >= kMaxWindows)
            return destroy();
        TestWindowSpec spec;
        spec.title = "soak-" + std::to_string(++made_);
        const bool small = between(0, 9) == 0;
        spec.width = static_cast<std::uint16_t>(small ? between(20, 40) : between(60, 700));
        spec.height = static_cast<std::uint16_t>(small ? between(20, 40) : between(60, 600));
        spec.x = between(0, 1500);
        spec.y = between(0, 800);
        spec.waitUntilManaged = true;
        if (xcb_window_t w = client_.createWindow(spec))
            windows_.push_back(w);
    }

    void destroy() {
        if (windows_.empty())
            return;
        const std::size_t i = index(windows_.size());
        client_.destroy(windows_[i]);
        windows_.erase(windows_.begin() + static_cast<std::ptrdiff_t>(i));
    }

    void activate() {
        auto all = windows_;
        all.insert(all.end(), others_.begin(), others_.end());
        if (!all.empty())
            client_.activate(all[index(all.size())]);
    }

    void move() {
        if (windows_.empty())
            return;
        const xcb_window_t w = windows_[index(windows_.size())];
        client_.moveResize(w, between(0, 1500), between(0, 800),
                           static_cast<std::uint16_t>(between(60, 800)),
                           static_cast<std::uint16_t>(between(60, 880)));
    }

    void minimise() {
        if (!windows_.empty())
            client_.minimize(windows_[index(windows_.size())]);
    }

    void restore() {
        for (xcb_window_t w : windows_) {
            if (client_.hasState(w, "_NET_WM_STATE_HIDDEN")) {
                client_.activate(w);
                return;
            }
        }
    }

    void fullScreen() {
        if (windows_.empty())
            return;
        const xcb_window_t w = windows_[index(windows_.size())];
        client_.changeState(w, "_NET_WM_STATE_FULLSCREEN",
                            !client_.hasState(w, "_NET_WM_STATE_FULLSCREEN"));
    }

    void toDesktop(std::uint32_t desktop) {
        if (windows_.empty())
            return;
        const xcb_window_t w = windows_[index(windows_.size())];
        // What a pager sends to move a window to another desktop.
        xcb_client_message_event_t e{};
        e.response_type = XCB_CLIENT_MESSAGE;
        e.format = 32;
        e.window = w;
        e.type = client_.atom("_NET_WM_DESKTOP");
        e.data.data32[0] = desktop;
        e.data.data32[1] = 2;
        xcb_send_event(client_.connection(), 0, client_.root(),
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&e));
    }

    // A window of another process: the rules treat windows of other processes above the bright
    // window differently from one's own.
    void otherClient() {
        if (otherPids_.size() >= kMaxOtherClients)
            return endOtherClient();
        const auto before = client_.clientList();
        const std::string geometry =
            std::to_string(between(100, 500)) + "x" + std::to_string(between(100, 400)) + "+" +
            std::to_string(between(0, 1400)) + "+" + std::to_string(between(0, 700));
        const pid_t pid = session_.spawn({"xlogo", "-geometry", geometry});
        if (pid <= 0)
            return;
        otherPids_.push_back(pid);
        xcb_window_t found = 0;
        waitUntil(
            [&] {
                for (xcb_window_t w : client_.clientList()) {
                    if (std::find(before.begin(), before.end(), w) == before.end() &&
                        std::find(windows_.begin(), windows_.end(), w) == windows_.end()) {
                        found = w;
                        return true;
                    }
                }
                return false;
            },
            std::chrono::seconds(10));
        others_.push_back(found);
    }

    void endOtherClient() {
        if (otherPids_.empty())
            return;
        const std::size_t i = index(otherPids_.size());
        session_.kill(otherPids_[i]);
        otherPids_.erase(otherPids_.begin() + static_cast<std::ptrdiff_t>(i));
        others_.erase(others_.begin() + static_cast<std::ptrdiff_t>(i));
    }

    void monitors() {
        if (rightPresent_) {
            session_.removeRightMonitor();
        } else {
            session_.run({"xrandr", "--setmonitor", "RIGHT", "800/211x900/238+800+0", "none"});
        }
        rightPresent_ = !rightPresent_;
    }

    void settings() {
        std::ostringstream file;
        file << "[General]\ndimStyle=" << (between(0, 2) == 0 ? "wallpaper" : "black")
             << "\ndimStrength=" << between(5, 100) / 100.0 << "\n";
        writeFile(settingsFile_, file.str());
    }

    bool rightPresent() const { return rightPresent_; }

    // Like for like at both memory readings: each overlay shown holds a screen-sized buffer, so
    // the readings need the same overlays shown, the same look and a freshly built set (no
    // wallpaper pictures held): no windows but one focused on the left monitor, the black look.
    void sameStateForMeasuring() {
        while (!windows_.empty())
            destroy();
        while (!otherPids_.empty())
            endOtherClient();
        writeFile(settingsFile_, "[General]\ndimStyle=black\ndimStrength=0.5\n");
        if (rightPresent_)
            monitors();
        monitors();
        TestWindowSpec spec;
        spec.title = "soak-measure";
        if (xcb_window_t w = client_.createWindow(spec)) {
            windows_.push_back(w);
            client_.activate(w);
        }
        client_.flush();
    }

private:
    int between(int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random_);
    }
    std::size_t index(std::size_t size) {
        return std::uniform_int_distribution<std::size_t>(0, size - 1)(random_);
    }

    XSession& session_;
    TestClient& client_;
    std::string settingsFile_;
    std::mt19937 random_;
    std::vector<xcb_window_t> windows_;
    std::vector<xcb_window_t> others_;
    std::vector<pid_t> otherPids_;
    bool rightPresent_ = true;
    int made_ = 0;
};

TEST(Soak, ChurnKeepsEveryMonitorRightWithoutCrashOrGrowth) {
    XSessionOptions options;
    options.twoMonitors = true;
    options.compositor = true;
    SOMBRIX_XSESSION_OR_SKIP(session, options);
    TestClient client(session.display());
    ASSERT_TRUE(client.ok());
    ASSERT_EQ(session.run({"hsetroot", "-solid", "#306090"}), 0);

    const std::string home = makeTempDir("sombrix-soak");
    ASSERT_FALSE(home.empty());
    const std::string settingsFile = home + "/Sombrix/Sombrix.conf";
    ASSERT_TRUE(writeFile(settingsFile, "[General]\ndimStrength=0.6\n"));

    const long seconds = envNumber("SOMBRIX_SOAK_SECONDS", 120);
    const auto seed = static_cast<unsigned>(
        envNumber("SOMBRIX_SOAK_SEED", static_cast<long>(std::random_device{}() & 0x7fffffff)));
    std::printf("soak seed=%u seconds=%ld (SOMBRIX_SOAK_SEED, SOMBRIX_SOAK_SECONDS)\n", seed,
                seconds);
    std::fflush(stdout);

    SombrixProcess sombrix(session, SOMBRIX_BINARY, home, home + "/stderr.txt");
    // Screen-sized buffers always from mmap, so that a freed one leaves the resident size at
    // once instead of lingering in the heap: the readings then show live memory, not how the
    // allocator happened to keep what was freed.
    ::setenv("MALLOC_MMAP_THRESHOLD_", "131072", 1);
    ASSERT_TRUE(sombrix.start());
    ::unsetenv("MALLOC_MMAP_THRESHOLD_");
    ASSERT_TRUE(waitUntil([&] { return mappedOverlays(client.connection()).size() == 2; },
                          std::chrono::seconds(20)))
        << "sombrix showed no overlay per monitor; stderr: " << sombrix.stderrText();

    Storm storm(session, client, settingsFile, seed);
    long events = 0;
    long violationCount = 0;
    int crashes = 0;
    int reported = 0;
    std::map<std::string, int> actionCounts;

    auto quietPoint = [&](const std::string& after) {
        ArrangementState state;
        const auto faults = settledViolations(client.connection(), {}, &state);
        violationCount += static_cast<long>(faults.size());
        if (!faults.empty() && reported < 5) {
            ++reported;
            std::string text;
            for (const auto& f : faults)
                text += "  " + f + "\n";
            ADD_FAILURE() << "after " << after << ":\n" << text << state.describe();
        }
    };
    auto alive = [&] {
        if (crashes > 0)
            return false;
        if (sombrix.running())
            return true;
        ++crashes;
        ADD_FAILURE() << "sombrix ended during the storm: " << sombrix.howItEnded()
                      << "; stderr: " << sombrix.stderrText();
        return false;
    };

    // Warm-up: every kind of action once, so that first-use allocations (a rebuilt overlay
    // set, the wallpaper look, other clients) are made before memory is measured.
    for (int action = 0; action < Storm::ActionCount && alive(); ++action) {
        storm.run(action);
        ++events;
        ++actionCounts[Storm::name(action)];
        quietPoint(Storm::name(action));
    }
    if (!storm.rightPresent()) {
        storm.run(Storm::Monitors);
        ++events;
    }
    quietPoint("warm-up");
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    const auto warmedUp = start + std::chrono::seconds(std::min<long>(seconds / 5, 30));
    std::optional<long> baselineKb;
    auto lastSample = Clock::now();

    while (Clock::now() < end && alive()) {
        std::string burst;
        const int actions = 1 + static_cast<int>(events % 3);
        for (int i = 0; i < actions; ++i) {
            const int action = storm.randomAction();
            storm.run(action);
            ++events;
            ++actionCounts[Storm::name(action)];
            burst += std::string(burst.empty() ? "" : ", ") + Storm::name(action);
        }
        quietPoint(burst);
        if (!baselineKb && Clock::now() >= warmedUp) {
            storm.sameStateForMeasuring();
            events += 2;
            quietPoint("settling for the first memory reading");
            baselineKb = sombrix.residentKb();
            lastSample = Clock::now();
        }
        // The trend tells a leak (steady climb) from an allocator settling (a plateau).
        if (baselineKb && Clock::now() - lastSample >= std::chrono::seconds(60)) {
            lastSample = Clock::now();
            std::printf(
                "rss at %llds: %ld kB\n",
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::seconds>(lastSample - start).count()),
                sombrix.residentKb().value_or(-1));
            std::fflush(stdout);
        }
    }

    long growthKb = 0;
    if (alive()) {
        storm.sameStateForMeasuring();
        events += 2;
        quietPoint("settling for the last memory reading");
        const auto endKb = sombrix.residentKb();
        if (baselineKb && endKb)
            growthKb = *endKb - *baselineKb;
        std::printf("rss baseline_kb=%ld end_kb=%ld\n", baselineKb.value_or(-1),
                    endKb.value_or(-1));
    }
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count();
    std::ostringstream counts;
    for (const auto& [action, count] : actionCounts)
        counts << " " << action << "=" << count;
    std::printf("actions:%s\n", counts.str().c_str());
    std::printf("soak seconds=%lld events=%ld violations=%ld rss_growth_kb=%ld crashes=%d\n",
                static_cast<long long>(elapsed), events, violationCount, growthKb, crashes);
    std::fflush(stdout);

    EXPECT_EQ(violationCount, 0);
    EXPECT_EQ(crashes, 0);
    EXPECT_LE(growthKb, kMaxGrowthKb);
    if (crashes == 0) {
        EXPECT_TRUE(sombrix.terminate()) << "sombrix did not end on SIGTERM";
    }
    removeTree(home);
}

}  // namespace
}  // namespace sombrix

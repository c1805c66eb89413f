// A seeded storm of real windows, monitors and settings changes against the running sombrix:
// after every burst, once the server has settled, the overlays must lie where the arrangement
// rules put them; sombrix must not exit and its memory must not grow.
#include <cstdio>
#include <random>
#include <sstream>

#include "sombrix_fixture.h"

namespace sombrix::test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr long kMaxGrowthKb = 2048;
constexpr std::size_t kMaxWindows = 10;
constexpr std::size_t kMaxOtherClients = 3;

long envNumber(const char* name, long fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::strtol(v, nullptr, 10) : fallback;
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

    // Runs one action of the table below, or one picked by weight; its name.
    const char* run(std::size_t action);
    const char* runRandom();

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
        if (const xcb_window_t w = client_.createWindow({.title = "soak-measure"})) {
            windows_.push_back(w);
            client_.activate(w);
        }
        client_.flush();
    }

    int between(int low, int high) { return std::uniform_int_distribution(low, high)(random_); }
    template <typename F>
    void withWindow(F f) {
        if (!windows_.empty())
            f(windows_[between(0, static_cast<int>(windows_.size()) - 1)]);
    }

    void create() {
        if (windows_.size() >= kMaxWindows)
            return destroy();
        const bool small = between(0, 9) == 0;
        const xcb_window_t w = client_.createWindow(
            {.title = "soak-" + std::to_string(++made_),
             .x = between(0, 1500),
             .y = between(0, 800),
             .width = static_cast<std::uint16_t>(small ? between(20, 40) : between(60, 700)),
             .height = static_cast<std::uint16_t>(small ? between(20, 40) : between(60, 600))});
        if (w)
            windows_.push_back(w);
    }
    void destroy() {
        withWindow([&](xcb_window_t w) {
            client_.destroy(w);
            std::erase(windows_, w);
        });
    }
    void activate() {
        auto all = windows_;
        all.insert(all.end(), others_.begin(), others_.end());
        if (!all.empty())
            client_.activate(all[between(0, static_cast<int>(all.size()) - 1)]);
    }
    void move() {
        withWindow([&](xcb_window_t w) {
            client_.moveResize(w, between(0, 1500), between(0, 800),
                               static_cast<std::uint16_t>(between(60, 800)),
                               static_cast<std::uint16_t>(between(60, 880)));
        });
    }
    void restore() {
        for (xcb_window_t w : windows_) {
            if (client_.hasState(w, "_NET_WM_STATE_HIDDEN"))
                return client_.activate(w);
        }
    }
    void fullScreen() {
        withWindow([&](xcb_window_t w) {
            client_.changeState(w, "_NET_WM_STATE_FULLSCREEN",
                                !client_.hasState(w, "_NET_WM_STATE_FULLSCREEN"));
        });
    }
    void toDesktop(std::uint32_t desktop) {
        // What a pager sends to move a window to another desktop.
        withWindow([&](xcb_window_t w) {
            client_.rootMessage(w, "_NET_WM_DESKTOP", {desktop, 2});
        });
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
        waitUntil([&] {
            for (xcb_window_t w : client_.clientList()) {
                if (std::find(before.begin(), before.end(), w) == before.end() &&
                    std::find(windows_.begin(), windows_.end(), w) == windows_.end())
                    return (found = w) != 0;
            }
            return false;
        });
        others_.push_back(found);
    }
    void endOtherClient() {
        if (otherPids_.empty())
            return;
        const auto i = between(0, static_cast<int>(otherPids_.size()) - 1);
        session_.kill(otherPids_[i]);
        otherPids_.erase(otherPids_.begin() + i);
        others_.erase(others_.begin() + i);
    }
    void monitors() {
        if (rightPresent_)
            session_.removeMonitor("RIGHT");
        else
            session_.setMonitor(twoMonitors()[1]);
        rightPresent_ = !rightPresent_;
    }
    void settings() {
        std::ostringstream file;
        file << "[General]\ndimStyle=" << (between(0, 2) == 0 ? "wallpaper" : "black")
             << "\ndimStrength=" << between(5, 100) / 100.0 << "\n";
        writeFile(settingsFile_, file.str());
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

struct Action {
    const char* name;
    int weight;  // window churn often, monitors and settings now and then
    void (*run)(Storm&);
};
constexpr Action kActions[] = {
    {"create", 6, [](Storm& s) { s.create(); }},
    {"destroy", 4, [](Storm& s) { s.destroy(); }},
    {"activate", 8, [](Storm& s) { s.activate(); }},
    {"move", 5, [](Storm& s) { s.move(); }},
    {"minimise", 3, [](Storm& s) { s.withWindow([&](auto w) { s.client_.minimize(w); }); }},
    {"restore", 3, [](Storm& s) { s.restore(); }},
    {"fullscreen", 3, [](Storm& s) { s.fullScreen(); }},
    {"desktop1", 2, [](Storm& s) { s.toDesktop(1); }},
    {"desktop0", 2, [](Storm& s) { s.toDesktop(0); }},
    {"other-client", 1, [](Storm& s) { s.otherClient(); }},
    {"end-other", 1, [](Storm& s) { s.endOtherClient(); }},
    {"monitors", 1, [](Storm& s) { s.monitors(); }},
    {"settings", 2, [](Storm& s) { s.settings(); }},
};

const char* Storm::run(std::size_t action) {
    kActions[action].run(*this);
    client_.flush();
    return kActions[action].name;
}

const char* Storm::runRandom() {
    std::vector<int> weights;
    for (const auto& a : kActions)
        weights.push_back(a.weight);
    return run(std::discrete_distribution<std::size_t>(weights.begin(), weights.end())(random_));
}

using Soak = OnTwoMonitors;

TEST_F(Soak, ChurnKeepsEveryMonitorRightWithoutCrashOrGrowth) {
    ASSERT_EQ(session().run({"hsetroot", "-solid", "#306090"}), 0);
    writeSettings("dimStrength=0.6\n");
    const long seconds = envNumber("SOMBRIX_SOAK_SECONDS", 120);
    const auto seed = static_cast<unsigned>(
        envNumber("SOMBRIX_SOAK_SEED", static_cast<long>(std::random_device{}() & 0x7fffffff)));
    std::printf("soak seed=%u seconds=%ld (SOMBRIX_SOAK_SEED, SOMBRIX_SOAK_SECONDS)\n", seed,
                seconds);
    std::fflush(stdout);
    // A busy desktop beneath the storm: SOMBRIX_SOAK_WINDOWS small windows that stay.
    for (long i = 0; i < envNumber("SOMBRIX_SOAK_WINDOWS", 0); ++i)
        window("background", int(i * 61 % 1500), int(40 + i % 13 * 60), 56, 48);

    // Memory is judged by the heap in use, read inside the process: the resident size also
    // holds what freed worker-thread arenas and fragments keep mapped, and says nothing of a leak.
    const std::string heapAnswer = home + "/heap-kb";
    auto& sombrix =
        launch({"LD_PRELOAD=" SOMBRIX_HEAP_PROBE_LIBRARY, "SOMBRIX_HEAP_PROBE=" + heapAnswer});
    const auto liveKb = [&]() -> std::optional<long> {
        std::remove(heapAnswer.c_str());
        if (!writeFile(heapAnswer + ".ask", "") ||
            !waitUntil([&] { return !readFile(heapAnswer).empty(); }))
            return std::nullopt;
        return std::stol(readFile(heapAnswer));
    };
    Storm storm(session(), client(), settingsFile(), seed);
    int events = 0;
    int faulty = 0;
    // The first five quiet points with faults are told in full.
    const auto quietPoint = [&](const std::string& after) {
        faulty += faulty < 5 ? !expectArranged("after " + after)
                             : !settledViolations(connection()).empty();
    };

    // Warm-up: every kind of action once, so that first-use allocations (a rebuilt overlay
    // set, the wallpaper look, other clients) are made before memory is measured.
    for (std::size_t action = 0; action < std::size(kActions) && sombrix.running();
         ++action, ++events)
        quietPoint(storm.run(action));
    if (!storm.rightPresent_)
        storm.monitors();
    quietPoint("warm-up");
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    const auto warmedUp = start + std::chrono::seconds(std::min<long>(seconds / 5, 30));
    std::optional<long> baselineKb;
    while (Clock::now() < end && sombrix.running()) {
        std::string burst;
        for (int i = 0, n = 1 + events % 3; i < n; ++i, ++events)
            burst += (burst.empty() ? "" : ", ") + std::string(storm.runRandom());
        quietPoint(burst);
        if (!baselineKb && Clock::now() >= warmedUp) {
            storm.sameStateForMeasuring();
            quietPoint("settling for the first memory reading");
            baselineKb = liveKb();
        }
    }
    ASSERT_TRUE(sombrix.running()) << "sombrix ended during the storm: " << sombrix.howItEnded()
                                   << "; stderr: " << sombrix.stderrText();

    storm.sameStateForMeasuring();
    quietPoint("settling for the last memory reading");
    const auto endKb = liveKb();
    ASSERT_TRUE(baselineKb && endKb) << "the heap probe did not answer";
    std::printf("soak events=%d heap in use %ld kB, then %ld kB\n", events, *baselineKb, *endKb);
    EXPECT_LE(*endKb - *baselineKb, kMaxGrowthKb);
    EXPECT_TRUE(sombrix.terminate()) << "sombrix did not end on SIGTERM";
}

}  // namespace
}  // namespace sombrix::test

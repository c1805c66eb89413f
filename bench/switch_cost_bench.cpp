// What one focus change costs: the engine as the application composes it, on a private Xvfb with
// openbox, while another process activates one of its windows ten times a second for 20 seconds
// through _NET_ACTIVE_WINDOW. Per switch: the CPU of this process (the engine, the backend and
// Qt), of the X server and, with "picom", of the compositor; the refresh cycles and the round
// trips the backend waited for. Usage: bench_switch_cost [WINDOWS] [picom]
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <thread>

#include "app_bench_support.h"
#include "engine_host.h"

// Under callgrind (--collect-atstart=no) only the switches are counted: instruction counts per
// switch are repeatable where CPU time on a loaded machine is not.
#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#define SOMBRIX_TOGGLE_COUNTING() CALLGRIND_TOGGLE_COLLECT
#else
#define SOMBRIX_TOGGLE_COUNTING()
#endif

namespace {

// Voluntary context switches so far of this process's main thread and of Qt's X event reader
// thread: each is a wakeup, and on this kind of machine a wakeup costs more than the work.
std::pair<long, long> wakeups() {
    auto count = [](const std::string& task) {
        std::ifstream status(task + "/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
                return std::atol(line.c_str() + 24);
        return 0L;
    };
    const std::string self = "/proc/self/task/";
    long reader = 0;
    if (DIR* dir = ::opendir(self.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            std::ifstream comm(self + entry->d_name + "/comm");
            std::string name;
            if (entry->d_name[0] != '.' && std::getline(comm, name) && name == "QXcbEventQueue")
                reader += count(self + entry->d_name);
        }
        ::closedir(dir);
    }
    return {count(self + std::to_string(::getpid())), reader};
}

}  // namespace

int main(int argc, char** argv) {
    using namespace sombrix;
    const int count = argc > 1 ? std::max(2, std::atoi(argv[1])) : 20;
    const bool picom = argc > 2 && std::string(argv[2]) == "picom";
    const int seconds = std::getenv("SOMBRIX_SWITCH_SECONDS")
                            ? std::atoi(std::getenv("SOMBRIX_SWITCH_SECONDS"))
                            : 20;
    constexpr int kPerSecond = 10;
    test::XSessionOptions options;
    options.width = 1600;
    options.height = 900;
    options.composite = picom;
    options.compositor = picom;
    test::XSession session(options);
    if (!session.ok())
        return bench::sessionFailed(session, "bench_switch_cost");
    const std::string config = bench::freshConfigHome();

    // The windows and the activations come from another process, as a user's would.
    int go[2];
    if (::pipe(go) != 0)
        return 1;
    const pid_t owner = bench::startHelperProcess([&](int ready) {
        ::close(go[1]);
        test::TestClient client(session.display());
        const auto windows = bench::busyDesktop(client, count, 1600, 900);
        if (::write(ready, windows.size() >= 2 ? "r" : "x", 1) != 1 || windows.size() < 2)
            return false;
        char c = 0;
        if (::read(go[0], &c, 1) != 1)
            return false;
        std::mt19937 random(7);
        const std::size_t large = std::min<std::size_t>(windows.size(), 12);
        auto next = std::chrono::steady_clock::now();
        xcb_window_t current = 0;
        for (int i = 0; i < seconds * kPerSecond; ++i) {
            xcb_window_t target = current;
            while (target == current)
                target = windows[random() % large];
            client.activate(target);
            client.flush();
            current = target;
            next += std::chrono::milliseconds(1000 / kPerSecond);
            std::this_thread::sleep_until(next);
        }
        char buf;
        while (::read(go[0], &buf, 1) > 0) {
        }
        return true;
    });
    ::close(go[0]);
    if (owner < 0) {
        std::fprintf(stderr, "bench_switch_cost: the window owner did not start\n");
        return 1;
    }

    bench::EngineHost host(session.display());
    if (!host.ok()) {
        std::fprintf(stderr, "bench_switch_cost: the engine did not start\n");
        return 1;
    }
    host.run(std::chrono::milliseconds(1500));  // overlays mapped, first passes done
    auto& stats = host.platform().context().stats();
    const double cpu0 = bench::selfCpuUs();
    const double server0 = bench::processRunUs(session.serverPid());
    const double compositor0 = picom ? bench::processRunUs(session.compositorPid()) : 0;
    const long refreshes0 = host.refreshes();
    const auto trips0 = stats.roundTrips;
    const auto ours0 = stats.requests;
    auto sequence = [&] {
        auto cookie = xcb_get_input_focus(host.connection());
        std::free(xcb_get_input_focus_reply(host.connection(), cookie, nullptr));
        return cookie.sequence;
    };
    const auto sequence0 = sequence();
    const auto wakeups0 = wakeups();
    host.watchStalls();
    if (::write(go[1], "g", 1) != 1)
        return 1;
    SOMBRIX_TOGGLE_COUNTING();
    host.run(std::chrono::milliseconds(seconds * 1000 + 300));
    SOMBRIX_TOGGLE_COUNTING();
    const double switches = seconds * kPerSecond;
    // The reconcile timer's own cycles (four a second) are not the switches' doing.
    const double ticks = 4.0 * (seconds + 0.3);
    const double cpu = (bench::selfCpuUs() - cpu0) / switches;
    const double server = (bench::processRunUs(session.serverPid()) - server0) / switches;
    const double requests = (sequence() - sequence0 - 1) / switches;
    const double backendRequests = (stats.requests - ours0) / switches;
    const auto wakeups1 = wakeups();
    std::printf(
        "switch_cost windows=%d compositor=%s cpu_us_per_switch=%.0f xserver_us_per_switch=%.0f "
        "refreshes_per_switch=%.2f round_trips_per_switch=%.2f longest_stall_ms=%.2f "
        "requests_per_switch=%.1f backend_requests_per_switch=%.1f "
        "main_wakeups_per_switch=%.2f reader_wakeups_per_switch=%.2f overlays_shown=%d/%d",
        count, picom ? "picom" : "none", cpu, server,
        (host.refreshes() - refreshes0 - ticks) / switches, (stats.roundTrips - trips0) / switches,
        host.longestStallMs(), requests, backendRequests,
        (wakeups1.first - wakeups0.first) / switches,
        (wakeups1.second - wakeups0.second) / switches, host.visibleOverlays(),
        host.overlayCount());
    if (picom)
        std::printf(" compositor_us_per_switch=%.0f",
                    (bench::processRunUs(session.compositorPid()) - compositor0) / switches);
    std::printf("\n");
    ::close(go[1]);
    return 0;
}

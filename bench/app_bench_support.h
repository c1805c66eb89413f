// What the benchmarks on a private X session share: giving up when the session did not start, a
// fresh settings folder, and windows spread over the screen.
#pragma once

#include <dirent.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "test_client.h"
#include "xsession.h"

namespace sombrix::bench {

// CPU time a process has used so far (all threads), in microseconds; -1 when it is gone.
inline double processCpuUs(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return -1;
    const auto close = line.rfind(')');
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14 || i == 15)
            ticks += std::stod(field);
        if (i == 15)
            break;
    }
    return ticks * 1e6 / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// The p-quantile (0..1) of the samples, -1 when there are none.
inline double percentile(std::vector<double> samples, double p) {
    if (samples.empty())
        return -1.0;
    std::sort(samples.begin(), samples.end());
    return samples[std::min(samples.size() - 1, static_cast<std::size_t>(p * samples.size()))];
}

// The same from the scheduler's nanosecond accounting, summed over the process's threads: fine
// enough for the tiny shares an idle process uses.
inline double processRunUs(pid_t pid) {
    const std::string dir = "/proc/" + std::to_string(pid) + "/task";
    double total = 0;
    bool any = false;
    if (auto* d = ::opendir(dir.c_str())) {
        while (auto* entry = ::readdir(d)) {
            if (entry->d_name[0] == '.')
                continue;
            std::ifstream s(dir + "/" + entry->d_name + "/schedstat");
            double ns = 0;
            if (s >> ns) {
                total += ns / 1000.0;
                any = true;
            }
        }
        ::closedir(d);
    }
    return any ? total : -1;
}

// Says why the session did not start; the exit status: 0 when a program it needs is missing
// (nothing to measure on this machine), 1 when it failed.
inline int sessionFailed(const test::XSession& session, const char* bench) {
    std::fprintf(stderr, "%s: %s\n", bench, session.error().c_str());
    return session.unavailable() ? 0 : 1;
}

// A fresh config home so the user's settings play no part.
inline std::string freshConfigHome() {
    char dir[] = "/tmp/sombrix-bench-XXXXXX";
    if (!::mkdtemp(dir))
        return {};
    ::setenv("XDG_CONFIG_HOME", dir, 1);
    return dir;
}

inline std::vector<xcb_window_t> spreadWindows(test::TestClient& client, int count, int width,
                                               int height) {
    std::vector<xcb_window_t> windows;
    for (int i = 0; i < count; ++i) {
        const xcb_window_t w = client.createWindow({.title = "bench-" + std::to_string(i),
                                                    .x = (i * 137) % (width - 320),
                                                    .y = (i * 89) % (height - 240),
                                                    .width = 320,
                                                    .height = 240});
        if (w)
            windows.push_back(w);
    }
    return windows;
}

// A desktop of `count` managed windows: up to 12 large ones spread over the screen (the ones a
// user switches between) and the rest small ones tiled beneath them, as a busy desktop has.
// Returns the large ones first.
inline std::vector<xcb_window_t> busyDesktop(test::TestClient& client, int count, int width,
                                             int height) {
    const int large = std::min(count, 12);
    std::vector<xcb_window_t> windows = spreadWindows(client, large, width, height);
    for (int i = large; i < count; ++i) {
        const int cell = i - large;
        const xcb_window_t w =
            client.createWindow({.title = "small-" + std::to_string(i),
                                 .x = (cell * 61) % (width - 60),
                                 .y = 40 + (cell * 61 / (width - 60)) * 7 % (height - 100),
                                 .width = 56,
                                 .height = 48,
                                 .waitUntilManaged = false});
        if (w)
            windows.push_back(w);
    }
    client.flush();
    test::waitUntil([&] { return client.clientList().size() >= windows.size(); },
                    std::chrono::seconds(60));
    // A manager given hundreds of windows goes on focusing the new ones for seconds after it
    // lists them: measuring then would count its activations as the benchmark's.
    auto active = client.activeWindow();
    test::waitUntil(
        [&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            const auto now = client.activeWindow();
            return std::exchange(active, now) == now;
        },
        std::chrono::seconds(120));
    // The large ones on top, where the user works.
    for (int i = 0; i < large; ++i)
        client.activate(windows[i]);
    client.flush();
    return windows;
}

}  // namespace sombrix::bench

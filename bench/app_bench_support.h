// What the benchmarks on a private X session share: giving up when the session did not start, a
// fresh settings folder, and windows spread over the screen.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "test_client.h"
#include "xsession.h"

namespace sombrix::bench {

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
    // The large ones on top, where the user works.
    for (int i = 0; i < large; ++i)
        client.activate(windows[i]);
    client.flush();
    return windows;
}

}  // namespace sombrix::bench

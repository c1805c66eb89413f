// What the application benchmarks share: a session with sombrix running over some windows, and
// how to find its overlays from another client.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "test_client.h"
#include "xsession.h"

namespace sombrix::bench {

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

}  // namespace sombrix::bench

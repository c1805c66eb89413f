// What the benchmarks on a private X session share: giving up when the session did not start, a
// fresh settings folder, and windows spread over the screen.
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

}  // namespace sombrix::bench

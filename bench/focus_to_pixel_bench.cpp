// Time from sending an activation request until the screen shows the new arrangement: the root's
// pixels (GetImage of the root shows a compositor's output too) at the centre of the newly active
// window are its own white, and at the centre of the previous one are dimmed. Twelve white,
// non-overlapping windows of another process; sombrix at its default 50 % black; with no
// compositor (the veil is opaque) or with plain picom. Usage: bench_focus_to_pixel [picom]
#include <algorithm>
#include <cstring>
#include <random>
#include <thread>

#include "app_bench_support.h"

namespace {

using Clock = std::chrono::steady_clock;

// The root's pixel at (x, y), as 0xRRGGBB; absent when it could not be read.
std::optional<std::uint32_t> pixelAt(xcb_connection_t* c, xcb_window_t root, int x, int y) {
    auto reply = sombrix::test::own(xcb_get_image_reply(
        c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, root, x, y, 1, 1, ~0u), nullptr));
    if (!reply || xcb_get_image_data_length(reply.get()) < 4)
        return std::nullopt;
    std::uint32_t value = 0;
    std::memcpy(&value, xcb_get_image_data(reply.get()), 4);
    return value & 0xffffff;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace sombrix;
    const bool picom = argc > 1 && std::string(argv[1]) == "picom";
    test::XSessionOptions options;
    options.width = 1600;
    options.height = 900;
    options.composite = picom;
    options.compositor = picom;
    test::XSession session(options);
    if (!session.ok())
        return bench::sessionFailed(session, "bench_focus_to_pixel");
    const std::string config = bench::freshConfigHome();
    test::TestClient client(session.display());
    struct Placed {
        xcb_window_t window;
        int cx, cy;
    };
    std::vector<Placed> windows;
    for (int i = 0; i < 12; ++i) {
        const int x = 20 + (i % 4) * 395;
        const int y = 40 + (i / 4) * 285;
        const xcb_window_t w = client.createWindow(
            {.title = "pixel-" + std::to_string(i), .x = x, .y = y, .width = 340, .height = 220});
        if (w)
            windows.push_back({w, x + 170, y + 120});
    }
    if (windows.size() < 2)
        return 1;
    client.activate(windows.front().window);
    if (session.spawn({SOMBRIX_BINARY}) < 0 ||
        !test::waitUntil([&] { return !test::overlayWindows(client.connection()).empty(); })) {
        std::fprintf(stderr, "bench_focus_to_pixel: sombrix made no overlay\n");
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    xcb_connection_t* c = client.connection();
    constexpr std::uint32_t kWhite = 0xffffff;
    auto settled = [&](const Placed& bright, const Placed& dim) {
        return pixelAt(c, client.root(), bright.cx, bright.cy) == kWhite &&
               pixelAt(c, client.root(), dim.cx, dim.cy).value_or(kWhite) != kWhite;
    };

    std::mt19937 random(11);
    std::vector<double> latencies;
    std::size_t current = 0;
    int failures = 0;
    while (latencies.size() < 150 && failures < 10) {
        std::size_t target = current;
        while (target == current)
            target = random() % windows.size();
        // From a quiet screen: the previous switch has fully landed.
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        const auto start = Clock::now();
        client.activate(windows[target].window);
        client.flush();
        const auto deadline = start + std::chrono::seconds(3);
        bool done = false;
        while (!(done = settled(windows[target], windows[current])) && Clock::now() < deadline) {
        }
        if (!done) {
            ++failures;
            std::fprintf(stderr, "bench_focus_to_pixel: switch %zu not seen\n", latencies.size());
        } else {
            latencies.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
        current = target;
    }
    if (latencies.empty())
        return 1;
    std::sort(latencies.begin(), latencies.end());
    auto percentile = [&](double p) {
        return latencies[std::min(latencies.size() - 1,
                                  static_cast<std::size_t>(p * latencies.size()))];
    };
    std::printf("focus_to_pixel compositor=%s n=%zu p50_ms=%.2f p99_ms=%.2f\n",
                picom ? "picom" : "none", latencies.size(), percentile(0.50), percentile(0.99));
    return failures < 10 ? 0 : 1;
}

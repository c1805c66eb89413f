// Time from sending an activation request until the screen shows the new arrangement: the root's
// pixels (GetImage of the root shows a compositor's output too) at the centre of the newly active
// window are its own white, and at the centre of the previous one are dimmed. Twelve white,
// non-overlapping windows of another process; sombrix at its default 50 % black; with no
// compositor (the veil is opaque) or with plain picom (xrender, its default settings).
//
// The probe must not make what it measures slower: both points come in one round trip (two 1×1
// GetImage requests, then both replies), and between probes it sleeps until an event arrives or
// SOMBRIX_PIXEL_POLL_US (default 250 µs; 0 spins) passes. The overlay's ConfigureNotify wakes it
// at once, so without a compositor the figure is exact; with one, it is late by at most one
// interval. It also prints when the window manager announced the new active window and when the
// overlay's restack reached the server, the probes per switch and the CPU per switch of itself,
// the X server and picom, so that a reader can see where the time goes and that the probe's share
// is small. Usage: bench_focus_to_pixel [picom]
#include <poll.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <thread>

#include "app_bench_support.h"

namespace {

using Clock = std::chrono::steady_clock;
using sombrix::test::own;

// The root's pixels at two points, as 0xRRGGBB, in one round trip; absent where unreadable.
std::array<std::optional<std::uint32_t>, 2> pixelsAt(xcb_connection_t* c, xcb_window_t root,
                                                     std::array<std::array<int, 2>, 2> at) {
    std::array<xcb_get_image_cookie_t, 2> cookies;
    for (int i = 0; i < 2; ++i)
        cookies[i] = xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, root, std::int16_t(at[i][0]),
                                   std::int16_t(at[i][1]), 1, 1, ~0u);
    std::array<std::optional<std::uint32_t>, 2> values;
    for (int i = 0; i < 2; ++i) {
        auto reply = own(xcb_get_image_reply(c, cookies[i], nullptr));
        if (!reply || xcb_get_image_data_length(reply.get()) < 4)
            continue;
        std::uint32_t value = 0;
        std::memcpy(&value, xcb_get_image_data(reply.get()), 4);
        values[i] = value & 0xffffff;
    }
    return values;
}

double selfCpuUs() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto us = [](const timeval& t) { return t.tv_sec * 1e6 + t.tv_usec; };
    return us(usage.ru_utime) + us(usage.ru_stime);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace sombrix;
    const bool picom = argc > 1 && std::string(argv[1]) == "picom";
    const char* pollEnv = std::getenv("SOMBRIX_PIXEL_POLL_US");
    const long pollUs = pollEnv ? std::max(0L, std::atol(pollEnv)) : 250;
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
    // The probe's own connection, which also hears the overlay's restacks.
    xcb_connection_t* c = xcb_connect(session.display().c_str(), nullptr);
    if (xcb_connection_has_error(c))
        return 1;
    const xcb_window_t root = test::rootOf(c);
    const std::vector<xcb_window_t> overlays = test::overlayWindows(c);
    const xcb_atom_t active = test::atom(c, "_NET_ACTIVE_WINDOW");
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    // Stamps the first announcement and the first overlay restack of a switch; true when an
    // overlay was restacked since the last call.
    std::optional<Clock::time_point> announced, restacked;
    auto overlayMoved = [&] {
        bool moved = false;
        while (auto* event = xcb_poll_for_event(c)) {
            const int type = event->response_type & 0x7f;
            if (type == XCB_CONFIGURE_NOTIFY) {
                const auto* configure = reinterpret_cast<xcb_configure_notify_event_t*>(event);
                moved |= std::find(overlays.begin(), overlays.end(), configure->window) !=
                         overlays.end();
            } else if (type == XCB_PROPERTY_NOTIFY && !announced &&
                       reinterpret_cast<xcb_property_notify_event_t*>(event)->atom == active) {
                announced = Clock::now();
            }
            std::free(event);
        }
        if (moved && !restacked)
            restacked = Clock::now();
        return moved;
    };
    constexpr std::uint32_t kWhite = 0xffffff;

    std::mt19937 random(11);
    std::vector<double> latencies, announcements, restacks, following;
    std::size_t current = 0;
    int failures = 0;
    long probes = 0;
    const double cpu0 = selfCpuUs();
    const double server0 = bench::processRunUs(session.serverPid());
    const double compositor0 = picom ? bench::processRunUs(session.compositorPid()) : 0;
    while (latencies.size() < 150 && failures < 10) {
        std::size_t target = current;
        while (target == current)
            target = random() % windows.size();
        // From a quiet screen: the previous switch has fully landed.
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        overlayMoved();
        announced.reset();
        restacked.reset();
        const auto start = Clock::now();
        client.activate(windows[target].window);
        client.flush();
        const auto deadline = start + std::chrono::seconds(3);
        bool done = false;
        for (;;) {
            overlayMoved();
            const auto [bright, dim] = pixelsAt(c, root,
                                                {{{windows[target].cx, windows[target].cy},
                                                  {windows[current].cx, windows[current].cy}}});
            ++probes;
            if ((done = bright == kWhite && dim.value_or(kWhite) != kWhite) ||
                Clock::now() >= deadline)
                break;
            if (pollUs > 0 && !overlayMoved()) {
                pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
                const timespec wait{0, pollUs * 1000};
                ::ppoll(&fd, 1, &wait, nullptr);
            }
        }
        if (!done) {
            ++failures;
            std::fprintf(stderr, "bench_focus_to_pixel: switch %zu not seen\n", latencies.size());
        } else {
            const auto ms = [&](Clock::time_point t) {
                return std::chrono::duration<double, std::milli>(t - start).count();
            };
            latencies.push_back(ms(Clock::now()));
            overlayMoved();
            if (announced)
                announcements.push_back(ms(*announced));
            if (restacked)
                restacks.push_back(ms(*restacked));
            if (announced && restacked)
                following.push_back(ms(*restacked) - ms(*announced));
        }
        current = target;
    }
    if (latencies.empty())
        return 1;
    const double switches = double(latencies.size() + failures);
    const double cpu = (selfCpuUs() - cpu0) / switches;
    const double server = (bench::processRunUs(session.serverPid()) - server0) / switches;
    using bench::percentile;
    std::printf(
        "focus_to_pixel compositor=%s n=%zu p50_ms=%.2f p99_ms=%.2f announced_p50_ms=%.2f "
        "announced_p99_ms=%.2f restack_p50_ms=%.2f restack_p99_ms=%.2f "
        "announce_to_restack_p99_ms=%.2f poll_us=%ld probes_per_switch=%.1f "
        "probe_cpu_us_per_switch=%.0f "
        "xserver_us_per_switch=%.0f",
        picom ? "picom" : "none", latencies.size(), percentile(latencies, 0.50),
        percentile(latencies, 0.99), percentile(announcements, 0.50),
        percentile(announcements, 0.99), percentile(restacks, 0.50), percentile(restacks, 0.99),
        percentile(following, 0.99), pollUs, probes / switches, cpu, server);
    if (picom)
        std::printf(" compositor_us_per_switch=%.0f",
                    (bench::processRunUs(session.compositorPid()) - compositor0) / switches);
    std::printf("\n");
    xcb_disconnect(c);
    return failures < 10 ? 0 : 1;
}

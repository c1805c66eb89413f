// Time from the window manager's announcement of a new active window to sombrix's overlay lying
// directly beneath it, seen by a separate X client, over 300 activations of random windows among
// the large ones of a desktop of WINDOWS windows. Usage: bench_focus_latency [WINDOWS] (12).
#include <algorithm>
#include <random>

#include "app_bench_support.h"

namespace {

using Clock = std::chrono::steady_clock;

// The next event, or null once `deadline` has passed.
xcb_generic_event_t* nextEvent(xcb_connection_t* c, Clock::time_point deadline) {
    for (;;) {
        if (auto* event = xcb_poll_for_event(c))
            return event;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return nullptr;
        pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
        ::poll(&fd, 1, static_cast<int>(left.count()));
    }
}

}  // namespace

int main(int argc, char** argv) {
    using namespace sombrix;
    test::XSessionOptions options;
    options.width = 1600;
    options.height = 900;
    test::XSession session(options);
    if (!session.ok())
        return bench::sessionFailed(session, "bench_focus_latency");
    const std::string config = bench::freshConfigHome();
    test::TestClient client(session.display());
    const int count = argc > 1 ? std::max(2, std::atoi(argv[1])) : 12;
    auto windows = bench::busyDesktop(client, count, 1600, 900);
    if (windows.size() < 2)
        return 1;
    windows.resize(std::min<std::size_t>(windows.size(), 12));  // the ones a user switches to
    client.activate(windows.back());
    if (session.spawn({SOMBRIX_BINARY}) < 0)
        return 1;
    if (!test::waitUntil([&] { return !test::overlayWindows(client.connection()).empty(); })) {
        std::fprintf(stderr, "bench_focus_latency: sombrix made no overlay\n");
        return 1;
    }
    const xcb_window_t overlay = test::overlayWindows(client.connection()).front();

    xcb_connection_t* c = client.connection();
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, client.root(), XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);
    const xcb_atom_t active = client.atom("_NET_ACTIVE_WINDOW");

    std::mt19937 random(42);
    std::vector<double> latencies;
    xcb_window_t current = windows.back();
    int failures = 0;
    while (latencies.size() < 300 && failures < 20) {
        xcb_window_t target = current;
        while (target == current)
            target = windows[random() % windows.size()];
        while (auto* stale = xcb_poll_for_event(c))
            std::free(stale);
        client.activate(target);
        client.flush();
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        std::optional<Clock::time_point> announced;
        bool placed = false;
        while (!placed) {
            xcb_generic_event_t* event = nextEvent(c, deadline);
            if (!event)
                break;
            const auto type = event->response_type & 0x7f;
            if (!announced && type == XCB_PROPERTY_NOTIFY) {
                const auto* p = reinterpret_cast<xcb_property_notify_event_t*>(event);
                if (p->atom == active && client.activeWindow() == target)
                    announced = Clock::now();
            }
            if (announced && (type == XCB_PROPERTY_NOTIFY || type == XCB_CONFIGURE_NOTIFY ||
                              type == XCB_MAP_NOTIFY))
                placed = client.isDirectlyBeneath(overlay, target);
            std::free(event);
        }
        if (!announced || !placed) {
            ++failures;
            std::fprintf(stderr, "bench_focus_latency: activation %zu not followed\n",
                         latencies.size());
            current = client.activeWindow().value_or(current);
            continue;
        }
        latencies.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - *announced).count());
        current = target;
    }
    if (latencies.empty())
        return 1;
    std::sort(latencies.begin(), latencies.end());
    auto percentile = [&](double p) {
        return latencies[std::min(latencies.size() - 1,
                                  static_cast<std::size_t>(p * latencies.size()))];
    };
    std::printf("focus_latency windows=%d n=%zu p50_ms=%.2f p99_ms=%.2f\n", count, latencies.size(),
                percentile(0.50), percentile(0.99));
    return failures < 20 ? 0 : 1;
}

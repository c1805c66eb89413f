// Time from the window manager's announcement of a new active window to sombrix's overlay lying
// directly beneath it, seen by a separate X client, over 300 activations of random windows among
// the large ones of a desktop of WINDOWS windows. Each time is taken when the deciding event is
// read: the bench keeps the root's stacking from the root's structure events, so that judging a
// placement costs it no request, and confirms each one it counts with the server afterwards (a
// placement the server does not show is not one). Also prints the window manager's own share:
// from the activation request to its raise of the window's frame and to its announcement.
// Usage: bench_focus_latency [WINDOWS] (12).
#include <algorithm>
#include <random>
#include <unordered_map>

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
    std::unordered_map<xcb_window_t, xcb_window_t> frames;
    for (xcb_window_t w : windows)
        frames[w] = client.topLevelOf(w).value_or(w);
    // Selected first, read after: every change since shows in the events.
    std::vector<xcb_window_t> stack = client.rootChildren();
    auto erase = [&](xcb_window_t w) { std::erase(stack, w); };
    auto placeAbove = [&](xcb_window_t w, xcb_window_t sibling) {
        erase(w);
        auto at = std::find(stack.begin(), stack.end(), sibling);
        stack.insert(sibling == XCB_NONE ? stack.begin() : at == stack.end() ? at : at + 1, w);
    };
    // Keeps the order from one event; returns the window it restacked or moved, if any.
    auto follow = [&](const xcb_generic_event_t* event) -> xcb_window_t {
        switch (event->response_type & 0x7f) {
            case XCB_CONFIGURE_NOTIFY: {
                auto* e = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
                if (e->event != client.root())
                    return XCB_NONE;
                placeAbove(e->window, e->above_sibling);
                return e->window;
            }
            case XCB_CREATE_NOTIFY: {
                auto* e = reinterpret_cast<const xcb_create_notify_event_t*>(event);
                if (e->parent == client.root())
                    stack.push_back(e->window);
                return XCB_NONE;
            }
            case XCB_DESTROY_NOTIFY:
                erase(reinterpret_cast<const xcb_destroy_notify_event_t*>(event)->window);
                return XCB_NONE;
            case XCB_REPARENT_NOTIFY: {
                auto* e = reinterpret_cast<const xcb_reparent_notify_event_t*>(event);
                if (e->event != client.root())
                    return XCB_NONE;
                erase(e->window);
                if (e->parent == client.root())
                    stack.push_back(e->window);
                return XCB_NONE;
            }
            case XCB_CIRCULATE_NOTIFY: {
                auto* e = reinterpret_cast<const xcb_circulate_notify_event_t*>(event);
                erase(e->window);
                stack.insert(e->place == XCB_PLACE_ON_TOP ? stack.end() : stack.begin(), e->window);
                return e->window;
            }
            default:
                return XCB_NONE;
        }
    };
    auto beneath = [&](xcb_window_t frame) {
        auto at = std::find(stack.begin(), stack.end(), overlay);
        return at != stack.end() && at + 1 != stack.end() && *(at + 1) == frame;
    };
    using Ms = std::chrono::duration<double, std::milli>;

    std::mt19937 random(42);
    std::vector<double> latencies;
    std::vector<double> raises;
    std::vector<double> announcements;
    xcb_window_t current = windows.back();
    int failures = 0;
    int misjudged = 0;
    while (latencies.size() < 300 && failures < 20) {
        xcb_window_t target = current;
        while (target == current)
            target = windows[random() % windows.size()];
        const xcb_window_t frame = frames[target];
        while (auto* stale = xcb_poll_for_event(c)) {
            follow(stale);
            std::free(stale);
        }
        const auto sent = Clock::now();
        client.activate(target);
        client.flush();
        const auto deadline = sent + std::chrono::seconds(5);
        std::optional<Clock::time_point> announced, raised, placed;
        while (!placed) {
            xcb_generic_event_t* event = nextEvent(c, deadline);
            if (!event)
                break;
            const auto read = Clock::now();
            const auto type = event->response_type & 0x7f;
            const xcb_window_t moved = follow(event);
            if (moved == frame && !raised)
                raised = read;
            // The first announcement after the request starts the clock; that it named the
            // target is checked once the placement is seen, so that no round trip of the bench
            // delays the reading of the events that follow.
            if (!announced && type == XCB_PROPERTY_NOTIFY &&
                reinterpret_cast<xcb_property_notify_event_t*>(event)->atom == active)
                announced = read;
            // Only a restack of the overlay or of the frame can complete the placement.
            if (announced && (moved == overlay || moved == frame) && beneath(frame)) {
                if (client.isDirectlyBeneath(overlay, target)) {
                    placed = read;
                } else {
                    ++misjudged;  // the kept order went wrong: read it again
                    stack = client.rootChildren();
                }
            }
            std::free(event);
        }
        if (!announced || !placed || client.activeWindow() != target) {
            ++failures;
            std::fprintf(stderr, "bench_focus_latency: activation %zu not followed\n",
                         latencies.size());
            current = client.activeWindow().value_or(current);
            stack = client.rootChildren();
            continue;
        }
        latencies.push_back(Ms(*placed - *announced).count());
        announcements.push_back(Ms(*announced - sent).count());
        if (raised)
            raises.push_back(Ms(*raised - sent).count());
        current = target;
    }
    if (latencies.empty())
        return 1;
    using bench::percentile;
    std::printf(
        "focus_latency windows=%d n=%zu p50_ms=%.2f p99_ms=%.2f wm_raise_p50_ms=%.2f "
        "wm_raise_p99_ms=%.2f wm_announce_p50_ms=%.2f wm_announce_p99_ms=%.2f misjudged=%d\n",
        count, latencies.size(), percentile(latencies, 0.50), percentile(latencies, 0.99),
        percentile(raises, 0.50), percentile(raises, 0.99), percentile(announcements, 0.50),
        percentile(announcements, 0.99), misjudged);
    return failures < 20 ? 0 : 1;
}

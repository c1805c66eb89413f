// The floors the X11 figures are compared with, measured on a private Xvfb with openbox and 50
// managed windows: one round trip (GetInputFocus and its reply), one bare restack
// (ConfigureWindow with a sibling) followed by a sync, and the window list the backend reads
// (root tree, client list, then per window its parent, attributes, frame geometry, state, type,
// frame extents and pid) asked one reply at a time and, for comparison, pipelined; and one
// GetImage of a 1920x1080 pixmap (what a desktop's wallpaper is), the least a picture costs; and
// what an idle Qt Widgets program with one 0.25-s timer costs on the same server over the same
// stretch as bench_idle (SOMBRIX_IDLE_SECONDS, 60 by default): the least a program that must look
// four times a second can idle at, with its wake-ups per second (voluntary context switches).
// Summary line (medians):
//   floors round_trip_us=A configure_sync_us=B list_serial_ms=C list_pipelined_ms=D
//          windows=50 requests=R get_image_ms=G qt_tick_cpu_percent=Q qt_tick_wakeups_per_s=W
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app_bench_support.h"
#include "test_client.h"
#include "xsession.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWindows = 50;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

template <typename Fn>
double microseconds(Fn&& fn) {
    const auto start = Clock::now();
    fn();
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

void sync(xcb_connection_t* c) {
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

struct Atoms {
    xcb_atom_t clientList, state, type, extents, pid;
};

xcb_get_property_cookie_t property(xcb_connection_t* c, xcb_window_t w, xcb_atom_t name,
                                   xcb_atom_t type, std::uint32_t length) {
    return xcb_get_property(c, 0, w, name, type, 0, length);
}

std::vector<xcb_window_t> clientsOf(xcb_get_property_reply_t* reply) {
    std::vector<xcb_window_t> out;
    if (reply && reply->format == 32) {
        const auto* ids = static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
        out.assign(ids, ids + xcb_get_property_value_length(reply) / 4);
    }
    return out;
}

// Every request waits for its reply before the next is sent.
int listSerial(xcb_connection_t* c, xcb_window_t root, const Atoms& a) {
    int requests = 2;
    std::free(xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr));
    auto* list =
        xcb_get_property_reply(c, property(c, root, a.clientList, XCB_ATOM_WINDOW, 65536), nullptr);
    const auto clients = clientsOf(list);
    std::free(list);
    for (const xcb_window_t w : clients) {
        auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr);
        const xcb_window_t frame = tree && tree->parent != root ? tree->parent : w;
        std::free(tree);
        std::free(xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr));
        std::free(xcb_get_geometry_reply(c, xcb_get_geometry(c, frame), nullptr));
        for (const auto& [name, type, length] :
             {std::tuple{a.state, XCB_ATOM_ATOM, 64u}, std::tuple{a.type, XCB_ATOM_ATOM, 64u},
              std::tuple{a.extents, XCB_ATOM_CARDINAL, 4u},
              std::tuple{a.pid, XCB_ATOM_CARDINAL, 1u}}) {
            std::free(xcb_get_property_reply(c, property(c, w, name, type, length), nullptr));
        }
        requests += 7;
    }
    return requests;
}

// The same requests, sent in three batches whose replies are collected after each batch.
void listPipelined(xcb_connection_t* c, xcb_window_t root, const Atoms& a) {
    const auto treeCookie = xcb_query_tree(c, root);
    const auto listCookie = property(c, root, a.clientList, XCB_ATOM_WINDOW, 65536);
    std::free(xcb_query_tree_reply(c, treeCookie, nullptr));
    auto* list = xcb_get_property_reply(c, listCookie, nullptr);
    const auto clients = clientsOf(list);
    std::free(list);

    struct Pending {
        xcb_query_tree_cookie_t tree;
        xcb_get_window_attributes_cookie_t attrs;
        xcb_get_property_cookie_t props[4];
        xcb_window_t frame;
    };
    std::vector<Pending> pending(clients.size());
    for (std::size_t i = 0; i < clients.size(); ++i) {
        const xcb_window_t w = clients[i];
        pending[i].tree = xcb_query_tree(c, w);
        pending[i].attrs = xcb_get_window_attributes(c, w);
        pending[i].props[0] = property(c, w, a.state, XCB_ATOM_ATOM, 64);
        pending[i].props[1] = property(c, w, a.type, XCB_ATOM_ATOM, 64);
        pending[i].props[2] = property(c, w, a.extents, XCB_ATOM_CARDINAL, 4);
        pending[i].props[3] = property(c, w, a.pid, XCB_ATOM_CARDINAL, 1);
    }
    for (std::size_t i = 0; i < clients.size(); ++i) {
        auto* tree = xcb_query_tree_reply(c, pending[i].tree, nullptr);
        pending[i].frame = tree && tree->parent != root ? tree->parent : clients[i];
        std::free(tree);
        std::free(xcb_get_window_attributes_reply(c, pending[i].attrs, nullptr));
        for (auto cookie : pending[i].props)
            std::free(xcb_get_property_reply(c, cookie, nullptr));
    }
    std::vector<xcb_get_geometry_cookie_t> geometry;
    for (const auto& p : pending)
        geometry.push_back(xcb_get_geometry(c, p.frame));
    for (auto cookie : geometry)
        std::free(xcb_get_geometry_reply(c, cookie, nullptr));
}

// Voluntary context switches of all threads of a process so far.
double wakeups(pid_t pid) {
    double total = 0;
    const std::string dir = "/proc/" + std::to_string(pid) + "/task";
    if (auto* d = ::opendir(dir.c_str())) {
        while (auto* entry = ::readdir(d)) {
            std::ifstream status(dir + "/" + entry->d_name + "/status");
            for (std::string line; entry->d_name[0] != '.' && std::getline(status, line);) {
                if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
                    total += std::stod(line.substr(24));
            }
        }
        ::closedir(d);
    }
    return total;
}

}  // namespace

int main() {
    using namespace sombrix;
    test::XSessionOptions options;
    options.width = 1920;
    options.height = 1080;
    test::XSession session(options);
    if (!session.ok())
        return bench::sessionFailed(session, "bench_floors");
    test::TestClient client(session.display());
    const auto windows = bench::spreadWindows(client, kWindows, 1600, 900);
    if (windows.size() != kWindows) {
        std::fprintf(stderr, "bench_floors: only %zu windows were managed\n", windows.size());
        return 1;
    }
    xcb_connection_t* c = client.connection();
    const xcb_window_t root = client.root();
    const Atoms atoms{client.atom("_NET_CLIENT_LIST"), client.atom("_NET_WM_STATE"),
                      client.atom("_NET_WM_WINDOW_TYPE"), client.atom("_NET_FRAME_EXTENTS"),
                      client.atom("_NET_WM_PID")};

    std::vector<double> roundTrips;
    for (int i = 0; i < 2000; ++i)
        roundTrips.push_back(microseconds([&] { sync(c); }));

    // An unmanaged window, as the overlay is, restacked beneath one of two frames in turn so that
    // every request really moves it.
    test::TestWindowSpec veil;
    veil.title = "floor-veil";
    veil.overrideRedirect = true;
    veil.waitUntilManaged = false;
    const xcb_window_t overlay = client.createWindow(veil);
    const auto frameA = client.topLevelOf(windows.front());
    const auto frameB = client.topLevelOf(windows.back());
    if (!overlay || !frameA || !frameB) {
        std::fprintf(stderr, "bench_floors: no window to restack\n");
        return 1;
    }
    sync(c);
    std::vector<double> restacks;
    for (int i = 0; i < 1000; ++i) {
        const std::uint32_t values[] = {i % 2 ? *frameA : *frameB, XCB_STACK_MODE_BELOW};
        restacks.push_back(microseconds([&] {
            xcb_configure_window(c, overlay,
                                 XCB_CONFIG_WINDOW_SIBLING | XCB_CONFIG_WINDOW_STACK_MODE, values);
            sync(c);
        }));
    }

    int requests = 0;
    std::vector<double> serial;
    std::vector<double> pipelined;
    for (int i = 0; i < 30; ++i) {
        serial.push_back(microseconds([&] { requests = listSerial(c, root, atoms); }));
        pipelined.push_back(microseconds([&] { listPipelined(c, root, atoms); }));
    }

    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_pixmap_t wallpaper = xcb_generate_id(c);
    xcb_create_pixmap(c, screen->root_depth, wallpaper, root, 1920, 1080);
    std::vector<double> images;
    for (int i = 0; i < 20; ++i) {
        images.push_back(microseconds([&] {
            std::free(xcb_get_image_reply(
                c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, wallpaper, 0, 0, 1920, 1080, ~0u),
                nullptr));
        }));
    }
    xcb_free_pixmap(c, wallpaper);

    // The idle Qt program, left to settle as bench_idle leaves sombrix.
    const int seconds =
        std::getenv("SOMBRIX_IDLE_SECONDS") ? std::atoi(std::getenv("SOMBRIX_IDLE_SECONDS")) : 60;
    const pid_t tick = session.spawn({QT_TICK_BINARY});
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const double tickBefore = bench::processRunUs(tick);
    const double tickWakeupsBefore = wakeups(tick);
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double tickAfter = bench::processRunUs(tick);
    const double tickWakeups = wakeups(tick) - tickWakeupsBefore;
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    if (tick < 0 || tickBefore < 0 || tickAfter < 0) {
        std::fprintf(stderr, "bench_floors: the idle Qt program did not run\n");
        return 1;
    }

    std::printf(
        "floors round_trip_us=%.1f configure_sync_us=%.1f list_serial_ms=%.2f "
        "list_pipelined_ms=%.2f windows=%d requests=%d get_image_ms=%.2f "
        "qt_tick_cpu_percent=%.4f qt_tick_wakeups_per_s=%.2f\n",
        median(roundTrips), median(restacks), median(serial) / 1000, median(pipelined) / 1000,
        kWindows, requests, median(images) / 1000, 100.0 * (tickAfter - tickBefore) / 1e6 / elapsed,
        tickWakeups / elapsed);
    return 0;
}

// Real client windows for tests, created over the test's own X connection: titles, geometry,
// window types, struts, _NET_WM_PID (right, missing or garbage), and the requests a user's
// actions produce (activate, minimise, restore, close).
#pragma once

#include <xcb/xcb.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "xquery.h"

namespace sombrix::test {

struct TestWindowSpec {
    std::string title = "test window";
    int x = 100;
    int y = 100;
    std::uint16_t width = 300;
    std::uint16_t height = 200;
    // Absent: no _NET_WM_WINDOW_TYPE property; otherwise the type atom names, first first.
    std::vector<std::string> types{"_NET_WM_WINDOW_TYPE_NORMAL"};
    enum class Pid { Real, None, Garbage } pid = Pid::Real;
    std::string wmClass = "sombrix-test";
    // _NET_WM_STRUT_PARTIAL (and _NET_WM_STRUT from its first four values) when given.
    std::optional<std::array<std::uint32_t, 12>> strutPartial{};
    bool overrideRedirect = false;
    std::optional<std::uint32_t> desktop{};  // _NET_WM_DESKTOP before mapping
    bool map = true;
    // Wait until the window manager manages it (framed, in _NET_CLIENT_LIST) and it is viewable.
    bool waitUntilManaged = true;
};

// A dock (panel) window at the given place; with `reservesTop` it also publishes a strut that keeps
// its height free along the top edge across its width.
TestWindowSpec dockSpec(int x, int y, std::uint16_t width, std::uint16_t height,
                        bool reservesTop = false);

class TestClient {
public:
    explicit TestClient(const std::string& display);
    ~TestClient();
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    bool ok() const;
    xcb_connection_t* connection() const { return c_; }
    xcb_window_t root() const { return root_; }
    xcb_atom_t atom(const std::string& name) { return test::atom(c_, name); }

    // Creates (and by default maps and waits for) a window; 0 when that failed.
    xcb_window_t createWindow(const TestWindowSpec& spec = {});
    void destroy(xcb_window_t w);
    // Iconify as a user's minimise button does (ICCCM WM_CHANGE_STATE); the manager then sets
    // _NET_WM_STATE_HIDDEN and unmaps the frame.
    void minimize(xcb_window_t w);
    // _NET_ACTIVE_WINDOW from a pager (source 2): raises, focuses and restores it.
    void activate(xcb_window_t w);
    // _NET_WM_STATE client message (action 0 remove, 1 add) for one state.
    void changeState(xcb_window_t w, const std::string& state, bool add,
                     const std::string& second = {});
    // _NET_CURRENT_DESKTOP request to the window manager.
    void switchDesktop(std::uint32_t desktop);
    void moveResize(xcb_window_t w, int x, int y, std::uint16_t width, std::uint16_t height);
    // A client message about `w` to the root, as a pager sends it.
    void rootMessage(xcb_window_t w, const std::string& type, std::array<std::uint32_t, 5> data);
    // Writes a property as is: the tool for hostile values.
    void setProperty(xcb_window_t w, const std::string& name, xcb_atom_t type, std::uint8_t format,
                     const void* data, std::uint32_t elements);
    void flush();

    // What the server and the window manager say right now; the stacking list bottom to top.
    std::vector<xcb_window_t> clientList() { return list32(c_, root_, atom("_NET_CLIENT_LIST")); }
    std::vector<xcb_window_t> stackingList() {
        return list32(c_, root_, atom("_NET_CLIENT_LIST_STACKING"));
    }
    std::optional<xcb_window_t> activeWindow();
    bool hasState(xcb_window_t w, const std::string& state);
    bool isViewable(xcb_window_t w) { return test::isViewable(c_, w); }
    bool isOverrideRedirect(xcb_window_t w);
    bool isManaged(xcb_window_t w);
    std::optional<xcb_window_t> topLevelOf(xcb_window_t w) { return test::topLevelOf(c_, w); }
    std::vector<xcb_window_t> rootChildren() { return test::rootChildren(c_); }
    // Whether `below` is the root child directly beneath the frame of `client`.
    bool isDirectlyBeneath(xcb_window_t below, xcb_window_t client);
    // Root-relative outer rectangle of a window (x, y, width, height).
    std::optional<std::array<int, 4>> rootGeometry(xcb_window_t w);

private:
    xcb_connection_t* c_ = nullptr;
    xcb_window_t root_ = 0;
};

}  // namespace sombrix::test

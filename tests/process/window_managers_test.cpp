// The built sombrix under every window manager users run, and at the scales HiDPI desktops set:
// one run each that walks through a user's day (an empty monitor, focus on each monitor, a click
// on a dimmed window, focus without raise, a window too small to stay bright, full screen, a
// window filling its monitor, closing the focused window), judging every monitor after each step
// from the X server's stacking alone.
#include "sombrix_fixture.h"

namespace sombrix::test {
namespace {

struct Desktop {
    std::string name;
    WindowManager manager;
    bool compositor = false;           // picom beside a manager that does not composite
    std::optional<int> dpi{};          // Xft.dpi
    std::vector<std::string> qtEnv{};  // for sombrix alone
    bool tiling = false;               // i3: it sizes every window and knows no maximise
};

// As a session starts each: a private D-Bus session where the manager keeps its settings there.
// mutter moves override-redirect windows back to the top after a restack: the overlay stays on
// top with holes there, and mutter draws the shape itself (it composites).
const Desktop kDesktops[] = {
    {.name = "openbox", .manager = {}, .compositor = true},
    {.name = "xfwm4", .manager = {.command = {"xfwm4", "--compositor=off"}, .privateBus = true}},
    {.name = "xfwm4_composited",
     .manager = {.command = {"xfwm4", "--compositor=on"}, .privateBus = true}},
    {.name = "icewm", .manager = {.command = {"icewm"}}},
    {.name = "fluxbox", .manager = {.command = {"fluxbox"}}},
    {.name = "marco",
     .manager = {.command = {"marco", "--no-composite"},
                 .environment = {"XDG_CURRENT_DESKTOP=MATE"},
                 .privateBus = true}},
    {.name = "metacity",
     .manager = {.command = {"metacity", "--no-composite"}, .privateBus = true}},
    {.name = "i3", .manager = {.command = {"i3"}}, .compositor = true, .tiling = true},
    {.name = "kwin_x11",
     .manager = {.command = {"kwin_x11"},
                 .environment = {"XDG_CURRENT_DESKTOP=KDE", "KDE_SESSION_VERSION=5"},
                 .privateBus = true}},
    {.name = "mutter",
     .manager = {.command = {"mutter", "--x11", "--replace"}, .privateBus = true}},
    {.name = "openbox_144dpi", .manager = {}, .compositor = true, .dpi = 144},
    {.name = "openbox_192dpi", .manager = {}, .compositor = true, .dpi = 192},
    {.name = "openbox_screen_factors",
     .manager = {},
     .compositor = true,
     .qtEnv = {"QT_SCREEN_SCALE_FACTORS=LEFT=1.5;RIGHT=2"}},
};

void PrintTo(const Desktop& desktop, std::ostream* out) {
    *out << desktop.name;
}

class WindowManagers : public SombrixTest, public ::testing::WithParamInterface<Desktop> {
protected:
    WindowManagers() {
        options.monitors = twoMonitors();
        options.windowManager = GetParam().manager;
        options.compositor = GetParam().compositor;
        options.dpi = GetParam().dpi;
    }

    // Some managers place a new window where they like: move it where the step needs it, at
    // least onto the monitor that holds the wanted centre.
    void place(xcb_window_t w, int x, int y, std::uint16_t width, std::uint16_t height) {
        const bool left = x + width / 2 < 800;
        if (GetParam().tiling)
            session().run({"i3-msg", "[id=" + std::to_string(w) + "] move container to output " +
                                         (left ? "LEFT" : "RIGHT")});
        else
            client().moveResize(w, x, y, width, height);
        EXPECT_TRUE(waitUntil([&] {
            const auto g = client().rootGeometry(client().topLevelOf(w).value_or(w));
            return g && ((*g)[0] + (*g)[2] / 2 < 800) == left;
        })) << "the manager kept window "
            << w << " on the other monitor";
    }

    // One request, as a maximise button sends it.
    void setState(xcb_window_t w, const std::string& state, bool on,
                  const std::string& second = {}) {
        client().changeState(w, state, on, second);
        EXPECT_TRUE(waitUntil([&] { return client().hasState(w, state) == on; }))
            << state << (on ? " not set" : " not cleared");
    }
};

TEST_P(WindowManagers, EveryMonitorStaysArrangedThroughADaysWork) {
    const xcb_window_t a = window("wm-a", 60, 100);
    const xcb_window_t b = otherProcessWindow("wm-b", 220, 260);
    ASSERT_TRUE(a && b);
    place(a, 60, 100, 300, 250);
    place(b, 220, 260, 300, 250);
    activate(a);
    SombrixProcess& sombrix = launch(GetParam().qtEnv);
    expectArranged("nothing on the right monitor");

    const xcb_window_t c = window("wm-c", 950, 150);
    ASSERT_TRUE(c);
    place(c, 950, 150, 300, 250);
    activate(c);
    expectArranged("focus on the right monitor");
    activate(a);
    expectArranged("focus on the left monitor");

    // The window manager focuses and raises what the user clicks, through the overlay: near the
    // bottom-right corner of b, which a (placed above-left of it) does not cover.
    const auto g = client().rootGeometry(client().topLevelOf(b).value_or(b));
    ASSERT_TRUE(g);
    session().run({"xdotool", "mousemove", std::to_string((*g)[0] + (*g)[2] - 15),
                   std::to_string((*g)[1] + (*g)[3] - 15), "click", "1"});
    EXPECT_TRUE(waitUntil([&] { return client().activeWindow() == b; })) << "the click missed";
    expectArranged("a click on a dimmed window");
    session().run({"xdotool", "windowfocus", std::to_string(a)});
    expectArranged("focus without raise");

    const xcb_window_t tiny = window("wm-tiny", 600, 700, 20, 20);
    ASSERT_TRUE(tiny);
    activate(tiny);
    expectArranged("a window too small to stay bright focused");

    activate(c);
    setState(c, "_NET_WM_STATE_FULLSCREEN", true);
    expectArranged("full screen");
    EXPECT_EQ(client().activeWindow(), c) << "the full-screen window lost its focus";
    setState(c, "_NET_WM_STATE_FULLSCREEN", false);

    // i3 knows no maximise; there the lone tile on the right monitor has filled it all along.
    if (!GetParam().tiling) {
        activate(a);
        setState(a, "_NET_WM_STATE_MAXIMIZED_VERT", true, "_NET_WM_STATE_MAXIMIZED_HORZ");
        expectArranged("a window filling its monitor");
        setState(a, "_NET_WM_STATE_MAXIMIZED_VERT", false, "_NET_WM_STATE_MAXIMIZED_HORZ");
    }

    activate(c);
    client().destroy(c);
    EXPECT_TRUE(waitUntil([&] {
        const auto active = client().activeWindow();
        return active && *active != c;
    })) << "nobody has focus after the focused window closed";
    expectArranged("the focused window closed");
    EXPECT_TRUE(sombrix.running()) << sombrix.howItEnded() << "\n" << sombrix.stderrText();
}

INSTANTIATE_TEST_SUITE_P(, WindowManagers, ::testing::ValuesIn(kDesktops),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace sombrix::test

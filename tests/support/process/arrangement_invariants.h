// Judges, from the X server's real stacking alone, whether Sombrix's overlays lie where they
// should on every monitor: beneath the window that stays bright there, hidden when that window
// fills the monitor, in front of everything when nothing stays bright. Any X11 or end-to-end test
// can call it once events have settled.
#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace sombrix::test {

struct InvariantRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const InvariantRect&) const = default;
};

// One root child the arrangement cares about: an overlay, or the frame of a managed client.
struct StackedWindow {
    xcb_window_t client = 0;  // the overlay itself, or the client its frame (a root child) holds
    bool overlay = false;
    bool mapped = false;
    // On screen, of the normal layer (normal, dialog, utility, splash or untyped; neither above
    // nor below; not minimised): what the engine sees in its window list. Overlays: mapped.
    bool normalOnScreen = false;
    bool fullScreen = false;
    InvariantRect bounds{};  // the frame in root coordinates
    std::string title{};
    // Overlays cut to a shape: the parts they cover, in root coordinates (empty: unshaped).
    std::vector<InvariantRect> shape{};
    bool operator==(const StackedWindow&) const = default;
};

struct ArrangementState {
    std::vector<StackedWindow> stack;  // front to back
    std::optional<xcb_window_t> active;
    std::vector<InvariantRect> monitors;  // their frames
    bool operator==(const ArrangementState&) const = default;
    // A short listing for failure messages.
    std::string describe() const;
};

// Reads the state once; absent when the connection is broken.
std::optional<ArrangementState> readArrangement(xcb_connection_t* c);

// What is wrong with `state`, one readable message per fault; empty when every monitor is right.
std::vector<std::string> violations(const ArrangementState& state);

// Waits until the server has settled, judges, and reports only faults that last: empty when the
// arrangement is right or became right. `settledState` receives the last state judged.
std::vector<std::string> settledViolations(xcb_connection_t* c,
                                           ArrangementState* settledState = nullptr);

}  // namespace sombrix::test

// Window lists as another program could make them appear: every field of every entry may be
// missing, of the wrong type, fractional, out of range or not finite, and numbers repeat. Among
// them lies one ordinary focused window. Through the checked conversion and whole refresh cycles
// of the engine over the in-memory platform, the overlay of its display must never lie above it,
// and a cycle that finds nothing changed must not move anything. The scene then changes (a window
// raised, a display removed, the focused window closed) and the engine runs on.
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "engine/dim_controller.h"
#include "fakes/fake_platform.h"
#include "fuzz_input.h"
#include "fuzz_targets.h"

namespace sombrix::fuzz::window_entries {

namespace {

using fakes::FakeAccessibility;

constexpr std::int32_t kOwnPID = 500;
constexpr std::int32_t kApp = 1001;
constexpr std::int32_t kOther = 1002;
constexpr Rect kLeft{0, 0, 1600, 900};
constexpr Rect kRight{1600, 0, 1600, 900};
constexpr std::size_t kMaxEntries = 48;
constexpr std::uint32_t kFocused = 1;
constexpr Rect kFocusedBounds{300, 200, 600, 400};

enum class Front { AppWithFocus, AppWithoutFocus, Nobody, Own };

double special(FuzzInput& in) {
    static const double values[] = {
        std::numeric_limits<double>::quiet_NaN(),
        std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity(),
        -0.0,
        0.5,
        40,
        41,
        1599.5,
        1600,
        4294967295.0,
        4294967296.0,
        2147483647.0,
        -2147483649.0,
        9007199254740993.0,
        std::numeric_limits<double>::max(),
        std::numeric_limits<double>::denorm_min(),
    };
    return values[in.byte() % std::size(values)];
}

// Any value of any type the list may carry.
RawValue anyValue(FuzzInput& in) {
    switch (in.byte() % 8) {
        case 0:
            return std::monostate{};
        case 1:
            return in.flag();
        case 2:
            return static_cast<std::int64_t>(in.raw<std::int8_t>());
        case 3:
            return in.raw<std::int64_t>();
        case 4:
            return special(in);
        case 5:
            return in.raw<double>();
        case 6:
            return in.bytes(in.byte() % 8);
        default: {
            RawBounds b;
            auto member = [&in]() -> std::optional<double> {
                if (in.byte() % 4 == 0)
                    return std::nullopt;
                return in.flag() ? special(in) : static_cast<double>(in.raw<std::int16_t>());
            };
            b.x = member();
            b.y = member();
            b.width = member();
            b.height = member();
            return b;
        }
    }
}

// Mostly what a real window list holds, so that the interesting cases (many ordinary windows
// with a few broken ones) come up often.
RawWindowEntry entry(FuzzInput& in) {
    const std::uint8_t kinds = in.byte();
    RawWindowEntry e;
    e.number = kinds & 0x01 ? anyValue(in) : RawValue{static_cast<std::int64_t>(in.byte() % 32)};
    if (kinds & 0x02) {
        e.ownerPID = anyValue(in);
    } else {
        static const std::int64_t pids[] = {kApp, kOther, kOwnPID, kApp, kOther};
        e.ownerPID = pids[in.byte() % std::size(pids)];
    }
    e.layer = kinds & 0x04 ? anyValue(in) : RawValue{std::int64_t{in.byte() % 8 == 0 ? 1 : 0}};
    if (kinds & 0x08) {
        e.bounds = anyValue(in);
    } else {
        e.bounds =
            RawBounds{in.byte() * 16.0 - 256, in.byte() * 4.0, in.byte() * 8.0, in.byte() * 4.0};
    }
    return e;
}

struct Scene : fakes::FakePlatform {
    explicit Scene(std::size_t displayCount) {
        displays.displays = {fakes::makeDisplay("left", kLeft)};
        if (displayCount > 1)
            displays.displays.push_back(fakes::makeDisplay("right", kRight));
    }

    DimController controller{services()};
};

// Checks that no shown overlay of the focused window's display covers it: an overlay may lie
// above it only with a hole over it (dimming another program's tiles above it).
void checkUncovered(const Scene& s, bool judged) {
    const Point centre = kFocusedBounds.centre();
    for (const auto* overlay : s.factory.live()) {
        const bool holed = std::any_of(overlay->holes.begin(), overlay->holes.end(),
                                       [&](const Rect& h) { return h.containsHalfOpen(centre); });
        if (judged && overlay->isVisible() && overlay->display().frame.containsHalfOpen(centre))
            check(holed || !s.server.isAbove(overlay->windowNumber(), kFocused),
                  "an overlay lies above the focused window on its display");
    }
}

// Entries that carry an overlay's number make the fake's bookkeeping ambiguous (a real
// server never reuses a live window's number): such scenes are only run, not judged.
bool collidesWithOverlays(const Scene& s, const std::vector<RawWindowEntry>& entries) {
    for (const auto& e : entries) {
        const auto n = rawToUInt32(e.number);
        if (!n)
            continue;
        for (const auto* overlay : s.factory.live()) {
            if (overlay->windowNumber() == *n)
                return true;
        }
    }
    return false;
}

}  // namespace

int fuzzOne(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    const std::uint8_t header = in.byte();
    const std::uint8_t focusAt = in.byte();
    const std::uint8_t raisePick = in.byte();
    const auto front = static_cast<Front>((header >> 1) % 4);

    std::vector<RawWindowEntry> entries;
    while (!in.empty() && entries.size() < kMaxEntries)
        entries.push_back(entry(in));

    // The conversion alone: whatever it accepts is within the types' ranges and finite.
    for (const auto& e : entries) {
        if (const auto info = DimController::WindowInfo::from(e)) {
            check(std::isfinite(info->bounds.x) && std::isfinite(info->bounds.y) &&
                      std::isfinite(info->bounds.width) && std::isfinite(info->bounds.height),
                  "a converted window has bounds that are not finite");
        }
    }

    // The focused window among them; above it no entry carries its number (a real list names a
    // window once), beneath it copies may.
    Scene s(1 + (header & 1));
    const std::size_t at = focusAt % (entries.size() + 1);
    for (std::size_t i = 0; i <= entries.size(); ++i) {
        if (i == at)
            s.server.addBack(fakes::FakeWindow{kFocused, kApp, 0, kFocusedBounds, true});
        if (i == entries.size())
            break;
        if (i < at && rawToUInt32(entries[i].number) == kFocused)
            entries[i].number = std::int64_t{2};
        s.server.addRawBack(entries[i]);
    }

    bool judged = false;
    switch (front) {
        case Front::AppWithFocus: {
            // Now and then the focus names some entry instead, or a window without a number
            // whose frame matches an entry: only run, since the rules may pick another window.
            const bool elsewhere = (header & 0x40) && !entries.empty();
            const auto number =
                elsewhere ? rawToUInt32(entries[raisePick % entries.size()].number) : kFocused;
            s.ax.setFocusedWindow(kApp, number.value_or(raisePick));
            const auto element = FakeAccessibility::window(kApp, number.value_or(raisePick));
            if (header & 0x10)
                s.ax.setAttribute(element, ax::kFullScreen, true);
            judged = !elsewhere;
            if ((header & 0x80) && !entries.empty()) {
                s.ax.setWindowNumber(element, std::nullopt);
                const auto& source = entries[raisePick % entries.size()];
                s.ax.setFrame(element, rawToRect(source.bounds).value_or(kFocusedBounds));
                judged = false;
            }
            s.workspace.frontmost = RunningApplication{kApp, std::nullopt};
            break;
        }
        case Front::AppWithoutFocus:
            s.workspace.frontmost = RunningApplication{kApp, std::nullopt};
            break;
        case Front::Nobody:
            break;
        case Front::Own:
            s.own.key = KeyWindow{kFocused, (header & 0x20) != 0, (header & 0x40) != 0};
            s.workspace.frontmost = RunningApplication{kOwnPID, std::nullopt};
            judged = s.own.key->isVisible && !s.own.key->isOverlay;
            break;
    }
    if (s.workspace.frontmost)
        s.workspace.addRunning(*s.workspace.frontmost);
    s.workspace.addRunning(RunningApplication{kOther, std::nullopt});

    s.controller.startIfPossible();
    judged = judged && !collidesWithOverlays(s, entries);
    checkUncovered(s, judged);
    s.controller.refresh();
    checkUncovered(s, judged);
    const auto settled = s.server.onScreenOrder();
    s.controller.refresh();
    checkUncovered(s, judged);
    // Copies of the focused window elsewhere make the fake's stacking by number ambiguous.
    const bool copies =
        std::any_of(entries.begin() + static_cast<std::ptrdiff_t>(at), entries.end(),
                    [](const RawWindowEntry& e) { return rawToUInt32(e.number) == kFocused; });
    if (!copies && !collidesWithOverlays(s, entries)) {
        check(s.server.onScreenOrder() == settled,
              "a cycle that found nothing changed moved a window");
    }

    // Another window comes to the front, then a display goes away.
    if (!entries.empty()) {
        if (const auto id = rawToUInt32(entries[raisePick % entries.size()].number)) {
            s.server.raise(*id);
            s.controller.refresh();
            checkUncovered(s, judged && *id != kFocused);
        }
    }
    if (s.displays.displays.size() > 1) {
        s.displays.change({fakes::makeDisplay("left", kLeft)});
        checkUncovered(s, judged && !collidesWithOverlays(s, entries));
    }
    // The focused window closes: the reconcile timer's cycles hand focus over within the grace
    // period and settle after it.
    if (!collidesWithOverlays(s, entries)) {
        s.server.remove(kFocused);
        s.scheduler.advance(0.3);
        s.scheduler.advance(2.5);
    }
    s.controller.stop();
    return 0;
}

}  // namespace sombrix::fuzz::window_entries

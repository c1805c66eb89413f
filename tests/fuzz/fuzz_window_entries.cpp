// Window lists as another program could make them appear: every field of every entry may be
// missing, of the wrong type, fractional, out of range or not finite. Among them lies one
// ordinary focused window, now and then with its owner, layer and bounds as whole doubles.
// What the checked conversion accepts must be exactly what the entry says. Through whole
// refresh cycles of the engine over the in-memory platform, the overlay of the focused window's
// display must never cover it without a hole over it, a cycle that finds nothing changed must
// not move anything, and a window server that answers nothing leaves every display dimmed. The
// scene then changes (a window raised, a display removed, the focused window closed) and the
// engine runs on.
#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <vector>

#include "engine/dim_controller.h"
#include "fakes/fake_platform.h"
#include "fuzz_input.h"
#include "fuzz_targets.h"

namespace sombrix::fuzz::window_entries {

namespace {

using fakes::FakeAccessibility;

constexpr std::int32_t kOwnPID = fakes::FakePlatform::kOwnPID;
constexpr std::int32_t kApp = 1001;
constexpr std::int32_t kOther = 1002;
constexpr Rect kLeft{0, 0, 1600, 900};
constexpr Rect kRight{1600, 0, 1600, 900};
constexpr std::size_t kMaxEntries = 48;
constexpr std::uint32_t kFocused = 1;
constexpr Rect kFocusedBounds{300, 200, 600, 400};
constexpr std::uint32_t kFirstOverlay = 0x7000000;  // the fake overlay factory's first number

enum class Front { AppWithFocus, AppWithoutFocus, Nobody, Own };

double special(FuzzInput& in) {
    using Limits = std::numeric_limits<double>;
    constexpr double nan = Limits::quiet_NaN(), inf = Limits::infinity(), max = Limits::max(),
                     tiny = Limits::denorm_min();
    // Around the integer types' limits and the displays' edges.
    static const double values[] = {nan,         inf,        -inf, -0.0,       0.5,    40,
                                    41,          1599.5,     1600, 0x1p32 - 1, 0x1p32, 0x1p31 - 1,
                                    -0x1p31 - 1, 0x1p53 + 1, max,  tiny};
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
            auto member = [&in]() -> std::optional<double> {
                if (in.byte() % 4 == 0)
                    return std::nullopt;
                return in.flag() ? special(in) : static_cast<double>(in.raw<std::int16_t>());
            };
            // Braces evaluate left to right: x, y, width, height.
            return RawBounds{member(), member(), member(), member()};
        }
    }
}

// Mostly what a real window list holds, so that the interesting cases (many ordinary windows
// with a few broken ones) come up often.
RawWindowEntry entry(FuzzInput& in) {
    const std::uint8_t kinds = in.byte();
    RawWindowEntry e;
    e.number = kinds & 0x01 ? anyValue(in) : RawValue{static_cast<std::int64_t>(in.byte() % 32)};
    static const std::int64_t pids[] = {kApp, kOther, kOwnPID, kApp, kOther};
    e.ownerPID = kinds & 0x02 ? anyValue(in) : RawValue{pids[in.byte() % std::size(pids)]};
    e.layer = kinds & 0x04 ? anyValue(in) : RawValue{std::int64_t{in.byte() % 8 == 0 ? 1 : 0}};
    // Braces evaluate left to right: x, y, width, height.
    e.bounds = kinds & 0x08 ? anyValue(in)
                            : RawBounds{in.byte() * 16.0 - 256, in.byte() * 4.0, in.byte() * 8.0,
                                        in.byte() * 4.0};
    return e;
}

// Checks that no shown overlay of the focused window's display covers it: an overlay may lie
// above it only with a hole over it (dimming another program's tiles above it).
void checkUncovered(const fakes::FakePlatform& s, bool judged) {
    const Point centre = kFocusedBounds.centre();
    for (const auto* overlay : s.factory.live()) {
        const bool holed = std::any_of(overlay->holes.begin(), overlay->holes.end(),
                                       [&](const Rect& h) { return h.containsHalfOpen(centre); });
        if (judged && overlay->isVisible() && overlay->display().frame.containsHalfOpen(centre))
            check(holed || !s.server.isAbove(overlay->windowNumber(), kFocused),
                  "an overlay lies above the focused window on its display");
    }
}

// A real list names each window once and never by an overlay's number. The fake finds windows
// by number, so a repeated one would send a restack to another window than the engine meant.
void renumberRepeats(std::vector<RawWindowEntry>& entries) {
    std::set<std::uint32_t> used{kFocused};
    std::uint32_t fresh = 100;
    for (auto& e : entries) {
        const auto n = rawToUInt32(e.number);
        if (!n || (*n - kFirstOverlay >= 64 && used.insert(*n).second))
            continue;
        while (!used.insert(fresh).second)
            ++fresh;
        e.number = std::int64_t{fresh};
    }
}

bool says(const RawValue& raw, std::int64_t value) {
    if (const auto* i = std::get_if<std::int64_t>(&raw))
        return *i == value;
    const auto* d = std::get_if<double>(&raw);
    return d && *d == static_cast<double>(value);
}

// Whatever the conversion accepts is exactly what the entry says, and finite.
void checkConversion(const RawWindowEntry& e) {
    const auto info = DimController::WindowInfo::from(e);
    if (!info)
        return;
    const auto* b = std::get_if<RawBounds>(&e.bounds);
    const Rect& r = info->bounds;
    check(says(e.number, info->id) && says(e.ownerPID, info->pid) && b && b->x == r.x &&
              b->y == r.y && b->width == r.width && b->height == r.height && std::isfinite(r.x) &&
              std::isfinite(r.y) && std::isfinite(r.width) && std::isfinite(r.height),
          "a converted window differs from its entry or is not finite");
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

    for (const auto& e : entries)
        checkConversion(e);
    renumberRepeats(entries);

    // The focused window among them.
    fakes::FakePlatform s;
    DimController controller{s.services()};
    s.displays.displays = {fakes::makeDisplay("left", kLeft)};
    if (header & 1)
        s.displays.displays.push_back(fakes::makeDisplay("right", kRight));
    const std::size_t at = focusAt % (entries.size() + 1);
    for (std::size_t i = 0; i <= entries.size(); ++i) {
        if (i == at && (header & 0x08)) {
            const Rect& b = kFocusedBounds;
            s.server.addRawBack({std::int64_t{kFocused}, double{kApp}, 0.0,
                                 RawBounds{b.x, b.y, b.width, b.height}});
        } else if (i == at) {
            s.server.addBack(fakes::FakeWindow{kFocused, kApp, 0, kFocusedBounds, true});
        }
        if (i < entries.size())
            s.server.addRawBack(entries[i]);
    }

    bool judged = false;
    bool keepsArrangement = false;  // our own menu in front
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
            [[fallthrough]];
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
            keepsArrangement = !judged;
            break;
    }
    if (s.workspace.frontmost)
        s.workspace.addRunning(*s.workspace.frontmost);
    s.workspace.addRunning(RunningApplication{kOther, std::nullopt});

    controller.startIfPossible();
    checkUncovered(s, judged);
    controller.refresh();
    checkUncovered(s, judged);
    const auto settled = s.server.onScreenOrder();
    controller.refresh();
    checkUncovered(s, judged);
    check(s.server.onScreenOrder() == settled, "a cycle that found nothing changed moved a window");

    // Nothing can be kept bright when the window server answers nothing.
    s.server.absent = true;
    controller.refresh();
    s.server.absent = false;
    for (const auto* overlay : s.factory.live())
        check(keepsArrangement || (overlay->isVisible() && overlay->holes.empty() &&
                                   !s.server.isAbove(kFocused, overlay->windowNumber())),
              "a display left bright while the window list was absent");
    controller.refresh();

    // Another window comes to the front, then a display goes away.
    if (const auto id = entries.empty() ? std::nullopt
                                        : rawToUInt32(entries[raisePick % entries.size()].number)) {
        s.server.raise(*id);
        controller.refresh();
        checkUncovered(s, judged);
    }
    if (s.displays.displays.size() > 1) {
        s.displays.change({fakes::makeDisplay("left", kLeft)});
        checkUncovered(s, judged);
    }
    // The focused window closes: the reconcile timer's cycles hand focus over within the grace
    // period and settle after it.
    s.server.remove(kFocused);
    s.scheduler.advance(0.3);
    s.scheduler.advance(2.5);
    controller.stop();
    return 0;
}

}  // namespace sombrix::fuzz::window_entries

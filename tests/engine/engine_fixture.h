// A controller wired to the in-memory fakes, and helpers that set a desktop scene through the
// fakes' control side.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "engine/dim_controller.h"
#include "engine/region.h"
#include "fakes/fake_platform.h"

namespace sombrix {

// Reaches the controller's private state where a rule is about that state itself.
struct DimControllerTestPeer {
    static std::optional<AXElement> observedWindow(const DimController& c) {
        return c.observedWindow_;
    }
    static std::optional<std::uint32_t> lastFocusedWindow(const DimController& c) {
        return c.lastFocusedWindow_;
    }
    static std::optional<TimePoint> noFocusSince(const DimController& c) { return c.noFocusSince_; }
    static TimePoint lastWallpaperCapture(const DimController& c) {
        return c.lastWallpaperCapture_;
    }
};

namespace fakes {

class EngineTest : public ::testing::Test, protected FakePlatform {
protected:
    static constexpr std::int32_t kAppA = 1001;
    static constexpr std::int32_t kAppB = 1002;
    static constexpr Rect kLeft{0, 0, 1600, 900};
    static constexpr Rect kRight{1600, 0, 1600, 900};

    using Peer = DimControllerTestPeer;

    EngineTest() { displays.displays = {makeDisplay("left", kLeft)}; }

    DimController& make() {
        controller = std::make_unique<DimController>(services());
        return *controller;
    }

    // Starts the engine (running its first refresh).
    DimController& start() {
        if (!controller)
            make();
        controller->startIfPossible();
        return *controller;
    }

    void twoDisplays() {
        displays.displays = {makeDisplay("left", kLeft), makeDisplay("right", kRight)};
    }

    void noFocusedWindow(std::int32_t pid) {
        ax.removeAttribute(FakeAccessibility::application(pid), ax::kFocusedWindow);
    }

    FakeOverlay& overlay(std::size_t i) { return *factory.live().at(i); }
    std::uint32_t overlayID(std::size_t i) { return overlay(i).windowNumber(); }

    // The window directly beneath `id` among the on-screen windows, 0 when none.
    std::uint32_t beneath(std::uint32_t id) {
        const auto order = server.onScreenOrder();
        const auto it = std::find(order.begin(), order.end(), id);
        return it == order.end() || it + 1 == order.end() ? 0 : *(it + 1);
    }

    std::uint32_t topmost() {
        const auto order = server.onScreenOrder();
        return order.empty() ? 0 : order.front();
    }

    // The part of window `id` that the user sees (no window in front of it) on overlay i's
    // display and that lies under that overlay's veil; empty when the window shows bright.
    region::Region veiled(std::uint32_t id, std::size_t i = 0) {
        const auto list = server.copyWindowInfo().value_or(std::vector<RawWindowEntry>{});
        region::Region visible = {overlay(i).cgFrame()};
        bool aboveOverlay = true;
        for (const auto& entry : list) {
            const auto number = rawToUInt32(entry.number);
            const auto bounds = rawToRect(entry.bounds);
            if (number == overlayID(i))
                aboveOverlay = false;
            if (!bounds || !number || factory.isOverlay(*number))
                continue;
            if (*number == id) {
                visible = region::intersect(visible, {*bounds});
                return aboveOverlay ? region::Region{}
                                    : region::subtract(visible, overlay(i).holes);
            }
            visible = region::subtract(visible, {*bounds});
        }
        return {};
    }

    // Ordering calls made by one more refresh.
    int callsOfOneRefresh() {
        const int before = factory.orderingCalls;
        controller->refresh();
        return factory.orderingCalls - before;
    }

    std::unique_ptr<DimController> controller;
};

}  // namespace fakes
}  // namespace sombrix

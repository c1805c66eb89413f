// An in-memory window server: one front-to-back stacking order that the fake overlays really
// reorder, so a second refresh sees what the first one did.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/overlay.h"
#include "platform/window_list.h"

namespace sombrix::fakes {

struct FakeWindow {
    std::uint32_t id = 0;
    std::int32_t pid = 0;
    std::int64_t layer = 0;
    Rect bounds;
    bool onScreen = true;
    std::string wmClass{};  // instance and class alike
};

class FakeWindowServer : public WindowList {
public:
    // Each entry is the same object until it changes, as in the real backend.
    SharedWindowEntries windowEntries() override;
    std::optional<std::uint64_t> changeCount() override { return changes; }
    bool changeUnderWay() override { return underWay; }

    // Control side. Windows are named by number; raw entries are found by their number when it
    // converts.
    void addFront(const FakeWindow& window) { insert(true, entryFor(window), window.onScreen); }
    void addBack(const FakeWindow& window) { insert(false, entryFor(window), window.onScreen); }
    // An entry exactly as given, however malformed.
    void addRawFront(const RawWindowEntry& entry) { insert(true, entry, true); }
    void addRawBack(const RawWindowEntry& entry) { insert(false, entry, true); }
    void remove(std::uint32_t id) { take(id); }
    void raise(std::uint32_t id);
    void setBounds(std::uint32_t id, const Rect& bounds);
    void setOnScreen(std::uint32_t id, bool onScreen);
    // Removes every window and raw entry; the overlays stay, they belong to the engine.
    void clearWindows();

    bool isOnScreen(std::uint32_t id) const;
    // Numbers of the on-screen entries, front to back (entries without a usable number skipped).
    std::vector<std::uint32_t> onScreenOrder() const;
    // True when both are on screen and `upper` is in front of `lower`.
    bool isAbove(std::uint32_t upper, std::uint32_t lower) const;
    // Lists handed out so far.
    int copyCount = 0;
    // While set, the window server answers nothing at all.
    bool absent = false;
    // What changeCount() answers: unknown unless a test says which changes it made.
    std::optional<std::uint64_t> changes;
    bool underWay = false;  // what changeUnderWay() answers
    // False: a window manager that puts every overlay back on top after any restack.
    bool restacksStick = true;

private:
    friend class FakeOverlay;
    struct Slot {
        std::shared_ptr<RawWindowEntry> entry;  // handed out as it is, replaced when it changes
        bool onScreen = true;
        bool overlay = false;
    };
    static RawWindowEntry entryFor(const FakeWindow& window);
    std::optional<std::size_t> indexOf(std::uint32_t id) const;
    void insert(bool front, RawWindowEntry entry, bool onScreen, bool overlay = false);
    // Takes the slot numbered `id` out of the stack.
    std::optional<Slot> take(std::uint32_t id);
    // Shows `id` `offset` places after `target`, or without a target in front of every
    // normal-layer window (behind panels and other upper layers).
    void put(std::uint32_t id, std::optional<std::uint32_t> target, std::size_t offset = 0);

    std::vector<Slot> stack_;  // front to back, hidden windows included
};

class FakeOverlay;

class FakeOverlayFactory : public OverlayFactory {
public:
    // Overlays belong to `ownPID` and get numbers from `firstNumber` on.
    FakeOverlayFactory(FakeWindowServer& server, std::int32_t ownPID,
                       std::uint32_t firstNumber = 0x7000000)
        : server_(server), ownPID_(ownPID), nextNumber_(firstNumber) {}

    std::unique_ptr<Overlay> makeOverlay(const Display& display) override;

    // Control side. Counts include overlays already released.
    const std::vector<FakeOverlay*>& live() const { return live_; }
    bool isOverlay(std::uint32_t number) const;
    // Ends every running fade-out: the overlays hide, then their callbacks run.
    void finishFades();
    int created = 0;
    int orderingCalls = 0;
    int captureCalls = 0;

private:
    friend class FakeOverlay;
    FakeWindowServer& server_;
    std::int32_t ownPID_;
    std::uint32_t nextNumber_;
    std::vector<FakeOverlay*> live_;
};

class FakeOverlay : public Overlay {
public:
    struct Applied {
        Style style;
        double strength;
    };

    FakeOverlay(FakeOverlayFactory& factory, std::uint32_t number, const Display& display);
    ~FakeOverlay() override;

    std::uint32_t windowNumber() const override { return number_; }
    Rect cgFrame() const override { return display_.frame; }
    bool isVisible() const override { return factory_.server_.isOnScreen(number_); }
    void orderBelow(std::uint32_t sibling) override { ordered().put(number_, sibling, 1); }
    void orderFrontRegardless() override { ordered().put(number_, std::nullopt); }
    void orderAbove(std::uint32_t sibling) override { ordered().put(number_, sibling); }
    void orderOut() override { ordered().setOnScreen(number_, false); }
    void setHoles(std::vector<Rect> newHoles) override {
        // Counted like the X11 overlay's requests: only a change costs one.
        holeChanges += newHoles != holes;
        holes = std::move(newHoles);
    }
    void apply(Style style, double strength) override { applied.push_back({style, strength}); }
    void captureWallpaper() override { ++factory_.captureCalls; }
    void fadeIn(double seconds) override { fadeIns.push_back(seconds); }
    // Stays visible until the factory's finishFades().
    void fadeOut(double, std::function<void()> done) override { fadeOutDone = std::move(done); }

    // Control side.
    const Display& display() const { return display_; }
    std::vector<double> fadeIns;
    std::function<void()> fadeOutDone;
    std::vector<Applied> applied;
    std::vector<Rect> holes;
    int holeChanges = 0;

private:
    FakeWindowServer& ordered() {
        ++factory_.orderingCalls;
        return factory_.server_;
    }
    FakeOverlayFactory& factory_;
    std::uint32_t number_;
    Display display_;
};

}  // namespace sombrix::fakes

// Every in-memory fake of the platform boundary in one bundle, wired together the way the engine
// expects them, plus the scene-setting steps that tests, fuzz targets and benchmarks share.
#pragma once

#include <optional>
#include <string>

#include "engine/dim_controller.h"
#include "fakes/fake_accessibility.h"
#include "fakes/fake_window_server.h"
#include "fakes/fake_workspace.h"
#include "fakes/manual_time.h"
#include "fakes/memory_defaults_store.h"

namespace sombrix::fakes {

struct FakePlatform {
    static constexpr std::int32_t kOwnPID = 500;

    // The services a DimController runs on; `store` replaces the in-memory defaults when given.
    EngineServices services() { return services(defaults); }
    EngineServices services(DefaultsStore& store) {
        return EngineServices{server,  ax,        workspace, own,       displays,
                              factory, wallpaper, clock,     scheduler, store};
    }

    // Windows are added top-down: each new one goes beneath those already there.
    void window(std::uint32_t id, std::int32_t pid, Rect bounds) {
        server.addBack(FakeWindow{id, pid, 0, bounds, true});
    }

    // `pid` becomes the frontmost application with `id` as its focused window.
    void focusOn(std::int32_t pid, std::uint32_t id, std::optional<std::string> bundle = {}) {
        const RunningApplication app{pid, std::move(bundle)};
        workspace.frontmost = app;
        workspace.addRunning(app);
        ax.setFocusedWindow(pid, id);
    }

    FakeWindowServer server;
    FakeAccessibility ax;
    FakeWorkspace workspace;
    FakeOwnApplication own{kOwnPID};
    FakeDisplays displays;
    FakeOverlayFactory factory{server, kOwnPID};
    FakeWallpaperService wallpaper;
    ManualClock clock;
    ManualScheduler scheduler{clock};
    MemoryDefaultsStore defaults;
};

}  // namespace sombrix::fakes

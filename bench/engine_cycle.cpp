// The cost of one refresh cycle when nothing changed since the last one, the cycle the reconcile
// timer runs four times a second. The fakes stand in for the window server and the accessibility
// service, so this measures the engine's own work plus one copy of the window list per query.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "engine/dim_controller.h"
#include "fakes/fake_platform.h"

namespace {

using namespace sombrix;
using namespace sombrix::fakes;

// A desktop of `windowCount` windows of twenty applications spread over `displayCount` displays
// side by side, the topmost window focused.
struct Desktop : FakePlatform {
    Desktop(int windowCount, int displayCount) {
        for (int d = 0; d < displayCount; ++d) {
            displays.displays.push_back(
                makeDisplay("display" + std::to_string(d), Rect{d * 1920.0, 0, 1920, 1080}));
        }
        std::uint32_t seed = 12345;
        auto next = [&seed](int n) {
            seed = seed * 1664525u + 1013904223u;
            return static_cast<int>((seed >> 8) % static_cast<std::uint32_t>(n));
        };
        for (int i = 0; i < windowCount; ++i) {
            const int display = i % displayCount;
            const Rect bounds{display * 1920.0 + next(1000), 30.0 + next(400), 200.0 + next(700),
                              150.0 + next(500)};
            window(static_cast<std::uint32_t>(1 + i), 1000 + i % 20, bounds);
        }
        focusOn(1000, 1);
        controller = std::make_unique<DimController>(services());
        controller->startIfPossible();
        controller->refresh();
    }

    std::unique_ptr<DimController> controller;
};

// The measured cycles alone, by name, for counting instructions under callgrind
// (--toggle-collect='*measuredCycle*'); the desktop's first cycles are left out.
[[gnu::noinline]] void measuredCycle(DimController& controller) {
    controller.refresh();
}

void engineCycle(benchmark::State& state) {
    Desktop desktop(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const int before = desktop.factory.orderingCalls;
    for (auto _ : state)
        measuredCycle(*desktop.controller);
    // A steady cycle must not restack anything; a benchmark that did would measure the fake.
    if (desktop.factory.orderingCalls != before)
        state.SkipWithError("steady cycle reordered");
}

BENCHMARK(engineCycle)
    ->ArgNames({"windows", "displays"})
    ->ArgsProduct({{10, 100, 1000}, {1, 2, 4}})
    ->Unit(benchmark::kMicrosecond);

// A cycle after a focus change, as a click makes it: another window of the first display is
// raised and focused, so the list differs from the last one in one window's place and the
// overlay moves beneath it. The fake's own restack (a move within its stacking) is timed too.
void switchCycle(benchmark::State& state) {
    const int displays = static_cast<int>(state.range(1));
    Desktop desktop(static_cast<int>(state.range(0)), displays);
    std::uint32_t next = 1;
    for (auto _ : state) {
        state.PauseTiming();
        // Every seventh window of the first display in turn.
        next += static_cast<std::uint32_t>(displays * 7);
        if (next > static_cast<std::uint32_t>(state.range(0)))
            next = 1;
        desktop.server.raise(next);
        desktop.focusOn(1000, next);
        desktop.server.windowEntries();  // the fake's list built outside the timing
        state.ResumeTiming();
        measuredCycle(*desktop.controller);
    }
}

BENCHMARK(switchCycle)
    ->ArgNames({"windows", "displays"})
    ->ArgsProduct({{10, 100, 1000}, {1, 4}})
    ->Unit(benchmark::kMicrosecond);

// For reading the figures above: what a plain copy of the fake's list costs, as a reader that
// keeps its own copy pays it. A cycle takes the shared list instead, which costs nothing while
// it is unchanged.
void windowListCopy(benchmark::State& state) {
    Desktop desktop(static_cast<int>(state.range(0)), 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(desktop.server.copyWindowInfo());
}

BENCHMARK(windowListCopy)->ArgName("windows")->Arg(1000)->Unit(benchmark::kMicrosecond);

// Keeps each run's figures for the summary lines printed after the table.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    // Colour only on a terminal, so that a log file keeps the summary lines clean.
    SummaryReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Color : OO_None) {}

    struct Figure {
        bool switched;  // switchCycle rather than the steady engineCycle
        std::int64_t windows;
        std::int64_t displays;
        double microseconds;
    };

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred)
                continue;
            const auto name = run.run_name.args;  // "windows:N/displays:M"
            long long windows = 0;
            long long displays = 0;
            if (std::sscanf(name.c_str(), "windows:%lld/displays:%lld", &windows, &displays) != 2) {
                continue;
            }
            // Adjusted times are in the run's unit, microseconds here.
            figures.push_back({run.run_name.function_name == "switchCycle", windows, displays,
                               run.GetAdjustedRealTime()});
        }
    }

    std::vector<Figure> figures;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    for (const auto& f : reporter.figures) {
        std::printf("%s windows=%lld displays=%lld us_per_cycle=%.2f\n",
                    f.switched ? "engine_switch_cycle" : "engine_cycle",
                    static_cast<long long>(f.windows), static_cast<long long>(f.displays),
                    f.microseconds);
    }
    return 0;
}

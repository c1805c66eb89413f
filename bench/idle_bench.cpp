// What sombrix and the X server cost while nothing happens: their CPU shares (from the
// scheduler's nanosecond accounting) and sombrix's resident memory over 60 idle seconds.
// Usage: bench_idle [WINDOWS] (20 by default).
#include <fstream>
#include <sstream>
#include <thread>

#include "app_bench_support.h"

namespace {

double rssMegabytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            double kb = 0;
            status >> kb;
            return kb / 1024.0;
        }
        status.ignore(4096, '\n');
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace sombrix;
    const int seconds =
        std::getenv("SOMBRIX_IDLE_SECONDS") ? std::atoi(std::getenv("SOMBRIX_IDLE_SECONDS")) : 60;
    test::XSessionOptions options;
    options.width = 1600;
    options.height = 900;
    test::XSession session(options);
    if (!session.ok())
        return bench::sessionFailed(session, "bench_idle");
    const std::string config = bench::freshConfigHome();
    test::TestClient client(session.display());
    const int count = argc > 1 ? std::max(2, std::atoi(argv[1])) : 20;
    const auto windows = bench::busyDesktop(client, count, 1600, 900);
    client.activate(windows.front());
    // SOMBRIX_IDLE_CALLGRIND=FILE runs sombrix under callgrind and counts only the measured
    // stretch into FILE: instructions per idle second, repeatable on a loaded machine.
    const char* callgrind = std::getenv("SOMBRIX_IDLE_CALLGRIND");
    const pid_t sombrix =
        callgrind
            ? session.spawn({"valgrind", "--tool=callgrind", "--collect-systime=no",
                             std::string("--callgrind-out-file=") + callgrind, SOMBRIX_BINARY})
            : session.spawn({SOMBRIX_BINARY});
    auto control = [&](const char* option) {
        if (callgrind)
            session.run({"callgrind_control", option, std::to_string(sombrix)});
    };
    if (sombrix < 0 ||
        !test::waitUntil([&] { return !test::overlayWindows(client.connection()).empty(); },
                         std::chrono::seconds(callgrind ? 120 : 10))) {
        std::fprintf(stderr, "bench_idle: sombrix did not start\n");
        return 1;
    }
    // Let start-up work finish before measuring.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const double before = bench::processRunUs(sombrix);
    const double serverBefore = bench::processRunUs(session.serverPid());
    control("--zero");
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    control("--dump");
    const double after = bench::processRunUs(sombrix);
    const double serverAfter = bench::processRunUs(session.serverPid());
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (before < 0 || after < 0) {
        std::fprintf(stderr, "bench_idle: sombrix exited\n");
        return 1;
    }
    auto percent = [&](double us) { return 100.0 * us / 1e6 / elapsed; };
    std::printf("idle windows=%d cpu_percent=%.4f xserver_cpu_percent=%.4f rss_mb=%.1f\n", count,
                percent(after - before), percent(serverAfter - serverBefore),
                rssMegabytes(sombrix));
    return 0;
}

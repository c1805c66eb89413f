// What sombrix costs while nothing happens: CPU share and resident memory over 60 idle seconds
// with 20 windows on screen, read from /proc.
#include <fstream>
#include <sstream>
#include <thread>

#include "app_bench_support.h"

namespace {

// utime + stime of the process, in clock ticks.
long cpuTicks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    long utime = 0;
    long stime = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14)
            utime = std::stol(field);
        if (i == 15) {
            stime = std::stol(field);
            break;
        }
    }
    return utime + stime;
}

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

int main() {
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
    const auto windows = bench::spreadWindows(client, 20, 1600, 900);
    client.activate(windows.back());
    const pid_t sombrix = session.spawn({SOMBRIX_BINARY});
    if (sombrix < 0 || !test::waitUntil([&] { return !client.sombrixOverlays().empty(); })) {
        std::fprintf(stderr, "bench_idle: sombrix did not start\n");
        return 1;
    }
    // Let start-up work finish before measuring.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const long before = cpuTicks(sombrix);
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const long after = cpuTicks(sombrix);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (before < 0 || after < 0) {
        std::fprintf(stderr, "bench_idle: sombrix exited\n");
        return 1;
    }
    const double cpu =
        100.0 * (after - before) / static_cast<double>(::sysconf(_SC_CLK_TCK)) / elapsed;
    std::printf("idle cpu_percent=%.3f rss_mb=%.1f\n", cpu, rssMegabytes(sombrix));
    return 0;
}

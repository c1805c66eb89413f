// What sombrix and the X server cost while nothing happens: their CPU shares (from the
// scheduler's nanosecond accounting), sombrix's resident memory, and how often each of its
// threads and the server woke up (voluntary context switches, which cost more here than the
// work done once awake) over 60 idle seconds.
// Usage: bench_idle [WINDOWS] (20 by default); SOMBRIX_IDLE_BINARY runs another build of sombrix
// (an A/B on the same load).
#include <fstream>
#include <map>
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

// Voluntary context switches of each thread of a process so far, by thread id, with its name.
struct ThreadWakeups {
    std::string name;
    double count = 0;
};
std::map<std::string, ThreadWakeups> wakeups(pid_t pid) {
    std::map<std::string, ThreadWakeups> out;
    const std::string dir = "/proc/" + std::to_string(pid) + "/task";
    if (auto* d = ::opendir(dir.c_str())) {
        while (auto* entry = ::readdir(d)) {
            if (entry->d_name[0] == '.')
                continue;
            std::ifstream status(dir + "/" + entry->d_name + "/status");
            ThreadWakeups& t = out[entry->d_name];
            std::string line;
            while (std::getline(status, line)) {
                if (line.rfind("Name:", 0) == 0) {
                    std::istringstream words(line.substr(5));
                    for (std::string word; words >> word;)
                        t.name += (t.name.empty() ? "" : "_") + word;
                } else if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
                    t.count = std::stod(line.substr(24));
                }
            }
        }
        ::closedir(d);
    }
    return out;
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
    const std::string binary =
        std::getenv("SOMBRIX_IDLE_BINARY") ? std::getenv("SOMBRIX_IDLE_BINARY") : SOMBRIX_BINARY;
    const pid_t sombrix =
        callgrind ? session.spawn({"valgrind", "--tool=callgrind", "--collect-systime=no",
                                   std::string("--callgrind-out-file=") + callgrind, binary})
                  : session.spawn({binary});
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
    const auto threadsBefore = wakeups(sombrix);
    const auto serverWakeupsBefore = wakeups(session.serverPid());
    control("--zero");
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    control("--dump");
    const double after = bench::processRunUs(sombrix);
    const double serverAfter = bench::processRunUs(session.serverPid());
    const auto threadsAfter = wakeups(sombrix);
    const auto serverWakeupsAfter = wakeups(session.serverPid());
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
    // Per second, the main thread first (its id is the process id), then the others by id.
    auto perSecond = [&](const auto& after, const auto& before, const std::string& tid) {
        const auto then = before.find(tid);
        return (after.at(tid).count - (then == before.end() ? 0 : then->second.count)) / elapsed;
    };
    double serverTotal = 0;
    for (const auto& [tid, t] : serverWakeupsAfter)
        serverTotal += perSecond(serverWakeupsAfter, serverWakeupsBefore, tid);
    std::printf("idle_wakeups windows=%d xserver_per_s=%.2f", count, serverTotal);
    const std::string mainTid = std::to_string(sombrix);
    if (threadsAfter.count(mainTid) != 0)
        std::printf(" main_per_s=%.2f", perSecond(threadsAfter, threadsBefore, mainTid));
    for (const auto& [tid, t] : threadsAfter) {
        if (tid != mainTid)
            std::printf(" %s_per_s=%.2f", t.name.c_str(),
                        perSecond(threadsAfter, threadsBefore, tid));
    }
    std::printf("\n");
    return 0;
}

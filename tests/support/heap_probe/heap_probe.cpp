// Preloaded into the program during a soak: tells, from a thread of its own, how much heap is in
// use (mallinfo2: chunks allocated in every arena plus mmapped blocks). The resident size cannot
// tell that: freed arenas of worker threads and freed fragments stay mapped and resident.
// Asked by creating "$SOMBRIX_HEAP_PROBE.ask"; answers in kB in "$SOMBRIX_HEAP_PROBE" (written
// aside and renamed) and removes the question.
#include <malloc.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

[[gnu::constructor]] void startHeapProbe() {
    const char* path = std::getenv("SOMBRIX_HEAP_PROBE");
    if (path == nullptr || *path == '\0')
        return;
    std::thread([answer = std::string(path)] {
        const std::string question = answer + ".ask";
        const std::string aside = answer + ".writing";
        for (;;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (::access(question.c_str(), F_OK) != 0)
                continue;
            const struct mallinfo2 heap = mallinfo2();
            if (FILE* out = std::fopen(aside.c_str(), "w")) {
                std::fprintf(out, "%zu\n", (heap.uordblks + heap.hblkhd) / 1024);
                std::fclose(out);
                std::rename(aside.c_str(), answer.c_str());
            }
            ::unlink(question.c_str());
        }
    }).detach();
}

}  // namespace

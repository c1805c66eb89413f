// Replays, without libFuzzer, the seed corpora and every input that once made a fuzz target
// find a fault (tests/fuzz/regressions/<target>/), through the same functions the fuzzers run.
// A fault shows as a crash or a failed invariant check, which aborts the test.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz_targets.h"

namespace sombrix::fuzz {
namespace {

namespace fs = std::filesystem;

using FuzzOne = int (*)(const std::uint8_t*, std::size_t);

// Feeds every file of corpus/<target> and regressions/<target>; returns how many ran. A target
// aborts on a fault, so each file is named before it runs.
int replay(const std::string& target, FuzzOne fuzzOne) {
    int count = 0;
    for (const char* folder : {"corpus", "regressions"}) {
        const fs::path dir = fs::path(SOMBRIX_FUZZ_DIR) / folder / target;
        if (!fs::is_directory(dir))
            continue;
        for (const auto& file : fs::directory_iterator(dir)) {
            std::fprintf(stderr, "replaying %s\n", file.path().c_str());
            std::ifstream in(file.path(), std::ios::binary);
            const std::string bytes{std::istreambuf_iterator<char>(in), {}};
            fuzzOne(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
            ++count;
        }
    }
    return count;
}

// One test per target, named after it: window lists keep the focused window uncovered, window
// properties decode or read as absent, update feeds parse or are refused, settings files read
// within their domain.
#define SOMBRIX_REPLAY(target)                          \
    TEST(FuzzRegressions, target) {                     \
        EXPECT_GT(replay(#target, target::fuzzOne), 0); \
    }
#ifdef SOMBRIX_FUZZ_HAS_WINDOW_ENTRIES
SOMBRIX_REPLAY(window_entries)
#endif
#ifdef SOMBRIX_FUZZ_HAS_X11_PROPERTIES
SOMBRIX_REPLAY(x11_properties)
#endif
#ifdef SOMBRIX_FUZZ_HAS_APPCAST
SOMBRIX_REPLAY(appcast)
#endif
#ifdef SOMBRIX_FUZZ_HAS_SETTINGS
SOMBRIX_REPLAY(settings)
#endif

}  // namespace
}  // namespace sombrix::fuzz

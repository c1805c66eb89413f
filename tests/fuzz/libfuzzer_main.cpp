// libFuzzer entry point; FUZZ_TARGET names the namespace of the target this binary runs.
#include "fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return sombrix::fuzz::FUZZ_TARGET::fuzzOne(data, size);
}

// The fuzz targets: each takes one input and returns 0, or aborts when it finds a fault. The
// libFuzzer drivers and the regression tests call the same functions.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sombrix::fuzz {

namespace window_entries {
int fuzzOne(const std::uint8_t* data, std::size_t size);
}
namespace x11_properties {
int fuzzOne(const std::uint8_t* data, std::size_t size);
}
namespace appcast {
int fuzzOne(const std::uint8_t* data, std::size_t size);
}
namespace settings {
int fuzzOne(const std::uint8_t* data, std::size_t size);
}

}  // namespace sombrix::fuzz

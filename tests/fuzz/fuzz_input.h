// Turns a fuzzer's bytes into typed values, and a check that stops the run when an invariant of
// the code under test is broken. Shared by the libFuzzer targets and the regression tests.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace sombrix::fuzz {

// Reads values front to back; once the bytes run out every read yields zeros, so a short input
// still decodes to something complete.
class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }
    std::size_t remaining() const { return empty() ? 0 : size_ - pos_; }

    std::uint8_t byte() { return empty() ? 0 : data_[pos_++]; }
    bool flag() { return byte() & 1; }

    template <typename T>
    T raw() {
        unsigned char bytes[sizeof(T)] = {};
        for (auto& b : bytes)
            b = byte();
        T value;
        std::memcpy(&value, bytes, sizeof(T));
        return value;
    }

    std::string bytes(std::size_t n) {
        n = std::min(n, remaining());
        std::string out(reinterpret_cast<const char*>(data_ + pos_), n);
        pos_ += n;
        return out;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// A broken invariant is a finding: say which, then stop the way libFuzzer recognises.
inline void check(bool ok, const char* what) {
    if (!ok)
        std::fprintf(stderr, "fuzz invariant broken: %s\n", what), std::abort();
}

}  // namespace sombrix::fuzz

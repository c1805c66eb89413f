// Ownership of xcb replies: every reply is freed with free(), whatever path the code takes.
#pragma once

#include <cstdlib>
#include <memory>

namespace sombrix::x11 {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

template <typename T>
Reply<T> own(T* reply) {
    return Reply<T>(reply);
}

}  // namespace sombrix::x11

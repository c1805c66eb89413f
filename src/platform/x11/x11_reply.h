// Ownership of what xcb hands over (replies, errors, events, strings): freed with free() on every
// path. The one idiom for them in the product, the tests and the benchmarks.
#pragma once

#include <xcb/xcb.h>

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

// The reply to `cookie`, absent when the server refused the request. The error is taken here, so
// it neither leaks nor reaches the event queue: a window that vanished is simply absent.
template <typename ReplyFn, typename Cookie>
auto awaitReply(xcb_connection_t* c, ReplyFn replyFn, Cookie cookie) {
    xcb_generic_error_t* error = nullptr;
    auto answer = own(replyFn(c, cookie, &error));
    own(error);
    return answer;
}

}  // namespace sombrix::x11

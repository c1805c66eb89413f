// The per-user, per-display X selection that marks the running instance.
#include "app/display_guard.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/x11/x11_reply.h"

namespace sombrix {
namespace {

using x11::own;

xcb_atom_t internAtom(xcb_connection_t* c, const QByteArray& name) {
    const auto reply = own(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, uint16_t(name.size()), name.constData()), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

}  // namespace

DisplayGuard::DisplayGuard(const QString& display) {
    const QByteArray name = display.toLocal8Bit();
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(name.isEmpty() ? nullptr : name.constData(), &screenNumber);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    if (screen == nullptr) {
        xcb_disconnect(c);
        return;
    }
    // A program this one starts (the relaunch) must not inherit the connection, or the claim
    // would outlive this process.
    ::fcntl(xcb_get_file_descriptor(c), F_SETFD, FD_CLOEXEC);
    connection_ = c;
    root_ = screen->root;
    // Named for the user: two users sharing a display (a kiosk, a remote session) each run one.
    selection_ = internAtom(c, "_SOMBRIX_INSTANCE_U" + QByteArray::number(::geteuid()));
    property_ = internAtom(c, "_SOMBRIX_SOCKET");
    utf8_ = internAtom(c, "UTF8_STRING");
}

DisplayGuard::~DisplayGuard() {
    if (connection_ != nullptr) {
        xcb_disconnect(connection_);
    }
}

xcb_window_t DisplayGuard::owner() {
    const auto reply = own(xcb_get_selection_owner_reply(
        connection_, xcb_get_selection_owner(connection_, selection_), nullptr));
    return reply ? reply->owner : xcb_window_t(XCB_WINDOW_NONE);
}

void DisplayGuard::sync() {
    own(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
}

DisplayGuard::Claim DisplayGuard::claim() {
    if (connection_ == nullptr || selection_ == XCB_ATOM_NONE) {
        return Claim::Failed;
    }
    xcb_grab_server(connection_);
    Claim result = Claim::Failed;
    if (const xcb_window_t current = owner(); current != XCB_WINDOW_NONE) {
        holder_ = current;
        result = Claim::Held;
    } else {
        // An unmapped input-only window: nothing to see, it only carries the claim.
        window_ = xcb_generate_id(connection_);
        xcb_create_window(connection_, 0, window_, root_, -1, -1, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_set_selection_owner(connection_, window_, selection_, XCB_CURRENT_TIME);
        result = owner() == window_ ? Claim::Claimed : Claim::Failed;
    }
    xcb_ungrab_server(connection_);
    xcb_flush(connection_);
    return result;
}

void DisplayGuard::publish(const QByteArray& socketPath) {
    if (connection_ == nullptr || window_ == 0) {
        return;
    }
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, property_, utf8_, 8,
                        uint32_t(socketPath.size()), socketPath.constData());
    sync();
}

std::optional<QByteArray> DisplayGuard::publishedSocketPath(bool* holderGone) {
    if (holderGone != nullptr) {
        *holderGone = true;
    }
    if (connection_ == nullptr || holder_ == 0) {
        return std::nullopt;
    }
    const auto reply = own(xcb_get_property_reply(
        connection_,
        xcb_get_property(connection_, 0, holder_, property_, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024),
        nullptr));
    if (!reply) {
        return std::nullopt;  // the window went away: the holder quit meanwhile
    }
    if (holderGone != nullptr) {
        *holderGone = false;
    }
    if (reply->type == XCB_ATOM_NONE) {
        return std::nullopt;  // still starting
    }
    return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                      xcb_get_property_value_length(reply.get()));
}

void DisplayGuard::release() {
    if (connection_ == nullptr || window_ == 0) {
        return;
    }
    // Destroying the owner window ends the ownership; the round trip makes it true on return.
    xcb_destroy_window(connection_, window_);
    window_ = 0;
    sync();
}

bool DisplayGuard::waitUntilFree(int timeoutMs) {
    if (connection_ == nullptr) {
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (owner() != XCB_WINDOW_NONE) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace sombrix

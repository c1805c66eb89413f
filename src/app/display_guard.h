// The claim "Sombrix runs here" for one user on one X display. The running instance owns an X
// selection named for the user and publishes on the owning window where its socket is. Every
// launch on that display sees the selection, whatever its runtime folder, its /tmp or its
// environment; and the X server frees it when the owner's connection closes, so an instance that
// crashed never blocks the next launch.
#pragma once

#include <xcb/xcb.h>

#include <QByteArray>
#include <QString>
#include <optional>

namespace sombrix {

class DisplayGuard {
public:
    // Connects to `display` (the DISPLAY value); see connected().
    explicit DisplayGuard(const QString& display);
    // Closing the connection gives the claim up.
    ~DisplayGuard();
    DisplayGuard(const DisplayGuard&) = delete;
    DisplayGuard& operator=(const DisplayGuard&) = delete;

    bool connected() const { return connection_ != nullptr; }

    enum class Claim {
        // This process now holds the display.
        Claimed,
        // Another process held it already.
        Held,
        // The server did not let the selection be taken.
        Failed,
    };
    // Takes the selection when nobody holds it. The look and the take happen under a server grab,
    // so of two launches at the same moment exactly one claims.
    Claim claim();

    // The holder: publishes where it listens (an empty path: it answers nobody).
    void publish(const QByteArray& socketPath);
    // Anyone else: what the holder published. Absent while it has published nothing yet or when
    // it is gone; `holderGone` tells the two apart.
    std::optional<QByteArray> publishedSocketPath(bool* holderGone = nullptr);

    // Gives the claim up now (the holder), so that a launch that follows becomes the holder.
    void release();
    // Waits until nobody holds the display; false when someone still does after `timeoutMs`.
    bool waitUntilFree(int timeoutMs);

private:
    xcb_window_t owner();
    void sync();

    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = 0;
    xcb_window_t window_ = 0;  // ours, while we hold the claim
    xcb_window_t holder_ = 0;  // someone else's, after claim() answered Held
    xcb_atom_t selection_ = 0;
    xcb_atom_t property_ = 0;
    xcb_atom_t utf8_ = 0;
};

}  // namespace sombrix

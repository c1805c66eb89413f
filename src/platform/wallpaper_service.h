// What the engine needs of the wallpaper: whether pictures can be taken, and a cheap signal that
// the user changed the wallpaper. The picture itself is taken by the overlay.
#pragma once

#include <cstdint>
#include <optional>

namespace sombrix {

// Compared for equality only: a different token means the wallpaper changed.
using WallpaperStoreToken = std::uint64_t;

class WallpaperService {
public:
    virtual ~WallpaperService() = default;
    // Whether a picture of the wallpaper can be had now (the platform lets this process capture
    // it, and there is a wallpaper to capture).
    virtual bool canCapture() = 0;
    // Whether translucent windows are shown translucent: on X11 only while a compositor runs,
    // otherwise the veil is opaque whatever its strength.
    virtual bool isCompositing() { return true; }
    // Asks for capture access where the platform has such a permission; harmless otherwise.
    virtual void requestAccess() = 0;
    // Absent when there is no wallpaper store to watch.
    virtual std::optional<WallpaperStoreToken> storeModificationDate() = 0;
};

}  // namespace sombrix

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
    // Whether the platform lets this process capture the wallpaper now.
    virtual bool canCapture() = 0;
    // Asks for capture access where the platform has such a permission; harmless otherwise.
    virtual void requestAccess() = 0;
    // Absent when there is no wallpaper store to watch.
    virtual std::optional<WallpaperStoreToken> storeModificationDate() = 0;
};

}  // namespace sombrix

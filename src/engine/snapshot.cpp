// The window server's list as the engine reads it: the normal-layer filter and the checked
// per-window record every arrangement rule works from.
#include <algorithm>

#include "engine/dim_controller.h"

namespace sombrix {

std::optional<DimController::WindowInfo> DimController::WindowInfo::from(
    const RawWindowEntry& entry) {
    const auto id = rawToUInt32(entry.number);
    if (!id)
        return std::nullopt;
    const auto pid = rawToInt32(entry.ownerPID);
    if (!pid)
        return std::nullopt;
    const auto bounds = rawToRect(entry.bounds);
    if (!bounds)
        return std::nullopt;
    return WindowInfo{*id, *pid, *bounds};
}

std::vector<RawWindowEntry> DimController::onScreenNormalWindows() const {
    auto list = services_.windowList.copyWindowInfo();
    if (!list)
        return {};
    // Filtered in place: the list is ours, and a copy per cycle would cost as much as the
    // window server's answer itself.
    std::erase_if(*list, [](const RawWindowEntry& entry) {
        const auto layer = rawToInteger(entry.layer);
        return !layer || *layer != 0;
    });
    return std::move(*list);
}

bool DimController::isOnScreenNormalWindow(std::uint32_t id) const {
    // Same answer as searching onScreenNormalWindows(), without filtering the whole list first.
    const auto list = services_.windowList.copyWindowInfo();
    if (!list)
        return false;
    for (const auto& entry : *list) {
        if (rawToUInt32(entry.number) == id && rawToInteger(entry.layer) == 0)
            return true;
    }
    return false;
}

bool DimController::isOnScreenInAnyLayer(std::uint32_t id) const {
    const auto list = services_.windowList.copyWindowInfo();
    return list && std::any_of(list->begin(), list->end(), [id](const RawWindowEntry& entry) {
               return rawToUInt32(entry.number) == id;
           });
}

std::vector<DimController::WindowInfo> DimController::snapshot() const {
    std::vector<WindowInfo> windows;
    const auto entries = onScreenNormalWindows();
    windows.reserve(entries.size());
    for (const auto& entry : entries) {
        if (auto info = WindowInfo::from(entry))
            windows.push_back(*info);
    }
    return windows;
}

std::set<std::uint32_t> DimController::overlayIDs() const {
    std::set<std::uint32_t> ids;
    for (const auto& overlay : overlays_)
        ids.insert(overlay->windowNumber());
    return ids;
}

}  // namespace sombrix

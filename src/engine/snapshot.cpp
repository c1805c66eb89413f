// The window server's list as the engine reads it: the normal-layer filter and the checked
// per-window record every arrangement rule works from.
#include <algorithm>
#include <cctype>

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
    // The list changes only when a cycle reads it again: a second copy of a list of hundreds of
    // windows per cycle would cost as much as the first.
    return std::find(normalLayerIDs_.begin(), normalLayerIDs_.end(), id) != normalLayerIDs_.end();
}

bool DimController::isOnScreenInAnyLayer(std::uint32_t id) const {
    const auto list = services_.windowList.copyWindowInfo();
    return list && std::any_of(list->begin(), list->end(), [id](const RawWindowEntry& entry) {
               return rawToUInt32(entry.number) == id;
           });
}

std::vector<DimController::WindowInfo> DimController::snapshot() {
    // One copy of the list serves both: the normal layer for the rules, every layer for holes.
    auto list = services_.windowList.copyWindowInfo();
    normalLayerIDs_.clear();
    if (!list) {
        stack_.clear();
        return {};
    }
    stack_ = stackOf(*list);
    std::vector<WindowInfo> windows;
    windows.reserve(list->size());
    for (const auto& entry : *list) {
        const auto layer = rawToInteger(entry.layer);
        if (!layer || *layer != 0)
            continue;
        if (const auto id = rawToUInt32(entry.number))
            normalLayerIDs_.push_back(*id);
        if (auto info = WindowInfo::from(entry))
            windows.push_back(*info);
    }
    return windows;
}

namespace {

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

}  // namespace

std::vector<DimController::StackedWindow> DimController::stackOf(
    const std::vector<RawWindowEntry>& entries) const {
    // Lowered and sorted once per cycle: a list of hundreds of entries costs a lookup per name.
    auto excludedClasses = excludedWindowClasses();
    for (auto& name : excludedClasses)
        name = lowered(name);
    std::sort(excludedClasses.begin(), excludedClasses.end());
    auto listed = [&](const std::string& name) {
        return !name.empty() &&
               std::binary_search(excludedClasses.begin(), excludedClasses.end(), lowered(name));
    };
    auto isExcluded = [&](const RawWindowEntry& entry) {
        return listed(entry.classInstance) || listed(entry.className);
    };
    std::vector<StackedWindow> stack;
    stack.reserve(entries.size());
    for (const auto& entry : entries) {
        const auto id = rawToUInt32(entry.number);
        const auto layer = rawToInteger(entry.layer);
        const auto bounds = rawToRect(entry.bounds);
        if (!id || !layer || !bounds)
            continue;
        stack.push_back(StackedWindow{*id, rawToInt32(entry.ownerPID).value_or(0), *bounds, *layer,
                                      !excludedClasses.empty() && isExcluded(entry)});
    }
    return stack;
}

std::set<std::uint32_t> DimController::overlayIDs() const {
    std::set<std::uint32_t> ids;
    for (const auto& overlay : overlays_)
        ids.insert(overlay->windowNumber());
    return ids;
}

}  // namespace sombrix

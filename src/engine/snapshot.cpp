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

bool DimController::isOnScreenNormalWindow(std::uint32_t id) const {
    return std::find(normalLayerIDs_.begin(), normalLayerIDs_.end(), id) != normalLayerIDs_.end();
}

bool DimController::isOnScreenInAnyLayer(std::uint32_t id) const {
    return std::any_of(records_.begin(), records_.end(),
                       [id](const EntryRecord& r) { return r.id == id; });
}

namespace {

char lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

// Ordered as std::string orders the lowered names (bytes as unsigned), either side lowered here,
// so a name is looked up without a lowered copy of it.
bool lessIgnoringCase(std::string_view a, std::string_view b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(lower(x)) < static_cast<unsigned char>(lower(y));
    });
}

}  // namespace

const std::vector<DimController::WindowInfo>& DimController::snapshot() {
    auto list = services_.windowList.windowEntries();
    auto excluded = excludedWindowClasses();
    for (auto& name : excluded)
        std::transform(name.begin(), name.end(), name.begin(), lower);
    std::sort(excluded.begin(), excluded.end());
    const bool sameExclusions = excluded == excludedLowered_;
    if (list && list_ && (list == list_ || *list == *list_) && sameExclusions)
        return windows_;  // the same entries in the same order: nothing to make of them again

    auto listed = [&](const std::string& name) {
        return !name.empty() &&
               std::binary_search(excluded.begin(), excluded.end(), name, lessIgnoringCase);
    };
    std::vector<EntryRecord> records;
    records.reserve(list ? list->size() : 0);
    // The last list's records in their order: a new list is mostly the same entries in the same
    // order, with a few windows moved, changed, added or gone.
    std::size_t last = 0;
    static const std::vector<SharedWindowEntry> none;
    for (const auto& shared : list ? *list : none) {
        const RawWindowEntry* entry = shared.get();
        if (!entry)
            continue;
        if (last + 1 < records_.size() && records_[last].entry != entry &&
            records_[last + 1].entry == entry) {
            ++last;  // the window at `last` moved or left
        }
        if (sameExclusions && last < records_.size() && records_[last].entry == entry) {
            records.push_back(records_[last++]);
            continue;
        }
        records.push_back(EntryRecord{
            entry, rawToUInt32(entry->number), rawToInt32(entry->ownerPID),
            rawToInteger(entry->layer), rawToRect(entry->bounds),
            !excluded.empty() && (listed(entry->classInstance) || listed(entry->className)),
            WindowInfo::from(*entry)});
    }
    list_ = std::move(list);
    records_ = std::move(records);
    excludedLowered_ = std::move(excluded);

    windows_.clear();
    stack_.clear();
    brightAnywhere_.clear();
    normalLayerIDs_.clear();
    for (const auto& r : records_) {
        if (r.id && r.layer && r.bounds) {
            if (r.excluded || *r.layer > 0)
                brightAnywhere_.push_back(stack_.size());
            stack_.push_back(
                StackedWindow{*r.id, r.pid.value_or(0), *r.bounds, *r.layer, r.excluded});
        }
        if (r.layer != 0 || !r.id)
            continue;
        normalLayerIDs_.push_back(*r.id);
        if (r.info)
            windows_.push_back(*r.info);
    }
    return windows_;
}

DimController::OverlayIDs DimController::overlayIDs() const {
    OverlayIDs ids;
    ids.ids.reserve(overlays_.size());
    for (const auto& overlay : overlays_)
        ids.ids.push_back(overlay->windowNumber());
    return ids;
}

}  // namespace sombrix

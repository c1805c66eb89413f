// The window server's list of on-screen windows.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/raw_window_entry.h"

namespace sombrix {

// The list as it is handed over without copies: each entry immutable and shared, so that a list
// that differs from the last one only in its order or in a few windows shares the rest of its
// entries with it, and a reader that kept the last list can tell an unchanged entry by its
// address alone.
using SharedWindowEntry = std::shared_ptr<const RawWindowEntry>;
using SharedWindowEntries = std::shared_ptr<const std::vector<SharedWindowEntry>>;

class WindowList {
public:
    virtual ~WindowList() = default;

    // Every on-screen window, desktop elements excluded, front to back, in the window server's
    // own stacking order (the overlays included, at their true place), shared: an entry that did
    // not change is the very object of the last answer, and a reader may keep what it made of
    // it. Null when the window server could not be asked; entries are not validated here.
    virtual SharedWindowEntries windowEntries() = 0;

    // The same list as plain values, for readers that keep a copy of their own.
    std::optional<std::vector<RawWindowEntry>> copyWindowInfo() {
        const auto shared = windowEntries();
        if (!shared)
            return std::nullopt;
        std::vector<RawWindowEntry> list;
        list.reserve(shared->size());
        for (const auto& entry : *shared)
            list.push_back(*entry);
        return list;
    }

    // A number that moves whenever anything the window server tells (this list, the focus, the
    // active application, the window manager) may have changed since it was last taken: the same
    // number means a cycle would read the same again. Absent when the server cannot tell, or a
    // change is known to be waiting.
    virtual std::optional<std::uint64_t> changeCount() { return std::nullopt; }

    // Whether the window server is halfway through a change whose rest is still on its way (a
    // window manager's focus change arrives in steps). The platform refreshes once it is whole;
    // a cycle before that would act on half of it.
    virtual bool changeUnderWay() { return false; }
};

}  // namespace sombrix

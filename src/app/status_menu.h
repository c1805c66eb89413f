// What the tray item shows, decided from the accessibility permission and the enabled setting
// alone: its symbol and tool tip, and the items of its menu. Plain data, so that the rules hold
// the same whatever toolkit draws them. Texts are the untranslated source texts of the
// "StatusMenu" translation context; whoever shows them translates them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sombrix {

namespace symbols {
inline constexpr std::string_view kDimming = "circle.lefthalf.filled";
inline constexpr std::string_view kNotDimming = "circle";
inline constexpr std::string_view kWarning = "exclamationmark.triangle.fill";
inline constexpr std::string_view kGranted = "checkmark.circle.fill";
}  // namespace symbols

struct StatusAppearance {
    std::string_view symbol;
    std::string_view toolTip;
    friend bool operator==(const StatusAppearance&, const StatusAppearance&) = default;
};

// Without the permission the enabled setting does not matter: the item only warns.
StatusAppearance statusAppearance(bool trusted, bool enabled);

enum class StatusMenuAction { None, OpenSettings, ToggleEnabled, Quit };

struct StatusMenuItem {
    bool isSeparator = false;
    std::string title;
    StatusMenuAction action = StatusMenuAction::None;
    // A single key used with the platform's usual modifier (Ctrl on Linux); empty for none.
    std::string keyEquivalent;
    // Present for an item that shows an on/off state.
    std::optional<bool> state;
    // Empty for an item without an image.
    std::string_view symbol;
};

std::vector<StatusMenuItem> statusMenuItems(bool trusted, bool enabled);

}  // namespace sombrix

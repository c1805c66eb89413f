// The tray item's look and menu as data.
#include "app/status_menu.h"

#include <QtGlobal>

namespace sombrix {
namespace {

StatusMenuItem item(std::string title, StatusMenuAction action, std::string keyEquivalent = {},
                    std::optional<bool> state = std::nullopt, std::string_view symbol = {}) {
    StatusMenuItem made;
    made.title = std::move(title);
    made.action = action;
    made.keyEquivalent = std::move(keyEquivalent);
    made.state = state;
    made.symbol = symbol;
    return made;
}

StatusMenuItem separator() {
    StatusMenuItem made;
    made.isSeparator = true;
    return made;
}

}  // namespace

StatusAppearance statusAppearance(bool trusted, bool enabled) {
    if (!trusted) {
        return {symbols::kWarning,
                QT_TRANSLATE_NOOP("StatusMenu",
                                  "Sombrix \u2014 no window manager reports the active window")};
    }
    return {enabled ? symbols::kDimming : symbols::kNotDimming,
            QT_TRANSLATE_NOOP("StatusMenu", "Sombrix")};
}

std::vector<StatusMenuItem> statusMenuItems(bool trusted, bool enabled) {
    std::vector<StatusMenuItem> items;
    if (!trusted) {
        items.push_back(item(QT_TRANSLATE_NOOP("StatusMenu", "Window Manager Needed\u2026"),
                             StatusMenuAction::OpenSettings, {}, std::nullopt, symbols::kWarning));
        items.push_back(separator());
    }
    items.push_back(item(QT_TRANSLATE_NOOP("StatusMenu", "Dim Background Windows"),
                         StatusMenuAction::ToggleEnabled, {}, enabled));
    items.push_back(item(QT_TRANSLATE_NOOP("StatusMenu", "Settings\u2026"),
                         StatusMenuAction::OpenSettings, ","));
    items.push_back(separator());
    items.push_back(
        item(QT_TRANSLATE_NOOP("StatusMenu", "Quit Sombrix"), StatusMenuAction::Quit, "q"));
    return items;
}

}  // namespace sombrix

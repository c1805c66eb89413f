// Starting Sombrix at login through an XDG autostart entry, and the rule that decides when the
// registration is touched at all.
#pragma once

#include <QString>
#include <string>

#include "platform/login_items.h"

namespace sombrix {

// The entry `sombrix.desktop` in an autostart directory. It counts as enabled when the file
// exists and does not say Hidden=true (the way a desktop session disables an entry).
class AutostartLoginItems : public LoginItems {
public:
    AutostartLoginItems(QString autostartDirectory, QString executable);

    // $XDG_CONFIG_HOME/autostart, or ~/.config/autostart when that variable is unset or empty.
    static QString defaultDirectory();
    // The installed binary when it exists, otherwise the one running now.
    static QString defaultExecutable();

    QString entryPath() const;

    bool isEnabled() override;
    bool registerItem(std::string& error) override;
    bool unregisterItem(std::string& error) override;

private:
    QString directory_;
    QString executable_;
};

namespace LaunchAtLogin {
// Registers when wanted and not yet enabled, unregisters when unwanted and enabled, and leaves
// the registration alone otherwise. False with the system's text in `error` on failure.
bool setEnabled(LoginItems& items, bool wanted, std::string& error);
}  // namespace LaunchAtLogin

}  // namespace sombrix

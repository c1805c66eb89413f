// The registration that starts this application when the user logs in.
#pragma once

#include <string>

namespace sombrix {

class LoginItems {
public:
    virtual ~LoginItems() = default;
    // True when the application will start at the next login.
    virtual bool isEnabled() = 0;
    // Each returns false and fills `error` with the system's own words when the change failed;
    // the registration is then whatever the system left behind.
    virtual bool registerItem(std::string& error) = 0;
    virtual bool unregisterItem(std::string& error) = 0;
};

}  // namespace sombrix

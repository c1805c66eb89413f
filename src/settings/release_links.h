// The addresses a release sets at build time: the update feed, the web site, the maker's page and
// the documentation. One left empty, or still a placeholder host, is not configured: what needs it
// is hidden or falls back to what is installed, instead of failing in front of the user.
#pragma once

#include <string>
#include <string_view>

namespace sombrix {

struct ReleaseLinks {
    std::string appcast;
    std::string website;
    std::string credit;
    std::string docs;

    // The addresses this build was configured with.
    static ReleaseLinks fromBuild();
    static bool isConfigured(std::string_view url);

    // The page on what Sombrix needs from the desktop: the configured one, else that section of
    // the installed README, else the manual page.
    std::string documentation() const;
};

}  // namespace sombrix

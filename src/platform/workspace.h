// The workspace: which application is in front, activation, and application-level notifications.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace sombrix {

struct RunningApplication {
    std::int32_t pid = 0;
    std::optional<std::string> bundleIdentifier;
    friend bool operator==(const RunningApplication&, const RunningApplication&) = default;
};

enum class WorkspaceNotification {
    DidActivateApplication,
    ActiveSpaceDidChange,
    DidWake,
    DidHideApplication,
    DidUnhideApplication,
    DidTerminateApplication,
};

using ObserverToken = std::uint64_t;

class Workspace {
public:
    virtual ~Workspace() = default;

    virtual std::optional<RunningApplication> frontmostApplication() = 0;
    // Absent when no running application has that process id.
    virtual std::optional<RunningApplication> runningApplication(std::int32_t pid) = 0;
    // Brings the application to the front; the answer is informational.
    virtual bool activate(const RunningApplication& application) = 0;

    // Handlers run on the main thread. Each registration gets its own token.
    virtual ObserverToken addObserver(WorkspaceNotification name,
                                      std::function<void()> handler) = 0;
    virtual void removeObserver(ObserverToken token) = 0;

    virtual void openURL(const std::string& url) = 0;
};

}  // namespace sombrix

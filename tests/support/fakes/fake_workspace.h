// Fakes of the workspace, the program's own application, the displays and the wallpaper service.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/displays.h"
#include "platform/own_application.h"
#include "platform/wallpaper_service.h"
#include "platform/workspace.h"

namespace sombrix::fakes {

class FakeWorkspace : public Workspace {
public:
    std::optional<RunningApplication> frontmostApplication() override { return frontmost; }
    std::optional<RunningApplication> runningApplication(std::int32_t pid) override;
    bool activate(const RunningApplication& application) override;
    ObserverToken addObserver(WorkspaceNotification name, std::function<void()> handler) override;
    void removeObserver(ObserverToken token) override;
    void openURL(const std::string& url) override { openedURLs.push_back(url); }

    // Control side.
    void addRunning(const RunningApplication& application);
    // Runs every handler registered for `name`, in registration order; returns how many ran.
    int post(WorkspaceNotification name);
    int liveObserverCount() const { return static_cast<int>(observers_.size()); }
    int liveObserverCount(WorkspaceNotification name) const;

    std::optional<RunningApplication> frontmost;
    std::vector<RunningApplication> activations;
    std::vector<ObserverToken> removedTokens;
    std::vector<std::string> openedURLs;

private:
    std::map<std::int32_t, RunningApplication> running_;
    std::map<ObserverToken, std::pair<WorkspaceNotification, std::function<void()>>> observers_;
    ObserverToken nextToken_ = 1;
};

class FakeOwnApplication : public OwnApplication {
public:
    explicit FakeOwnApplication(std::int32_t pid) : pid(pid) {}
    std::int32_t processIdentifier() override { return pid; }
    std::optional<KeyWindow> keyWindow() override { return key; }

    std::int32_t pid;
    std::optional<KeyWindow> key;
};

class FakeDisplays : public Displays {
public:
    std::vector<Display> screens() override { return displays; }
    ObserverToken addScreenParametersObserver(std::function<void()> handler) override;
    void removeObserver(ObserverToken token) override;

    // Control side: replaces the displays and notifies every observer, as a real change does.
    void change(std::vector<Display> displays);
    int liveObserverCount() const { return static_cast<int>(observers_.size()); }

    std::vector<Display> displays;

private:
    std::map<ObserverToken, std::function<void()>> observers_;
    ObserverToken nextToken_ = 1;
};

class FakeWallpaperService : public WallpaperService {
public:
    bool canCapture() override { return captureAllowed; }
    void requestAccess() override {}
    std::optional<WallpaperStoreToken> storeModificationDate() override {
        ++storeReads;
        return storeToken;
    }

    bool captureAllowed = true;
    std::optional<WallpaperStoreToken> storeToken;
    int storeReads = 0;
};

// A display of the given frame whose visible frame is the whole display.
Display makeDisplay(const std::string& name, const Rect& frame);

}  // namespace sombrix::fakes

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

// Handlers by token, run on demand in registration order. A handler may remove others (the
// engine stops); those no longer run.
template <typename Name>
class Observers {
public:
    ObserverToken add(Name name, std::function<void()> handler) {
        handlers_[next_] = {name, std::move(handler)};
        return next_++;
    }
    void remove(ObserverToken token) { handlers_.erase(token); }
    int size() const { return static_cast<int>(handlers_.size()); }
    void post(Name name) {
        std::vector<ObserverToken> tokens;
        for (const auto& [token, entry] : handlers_) {
            if (entry.first == name)
                tokens.push_back(token);
        }
        for (const auto token : tokens) {
            const auto it = handlers_.find(token);
            if (it == handlers_.end())
                continue;
            const auto handler = it->second.second;  // may remove itself
            handler();
        }
    }

private:
    std::map<ObserverToken, std::pair<Name, std::function<void()>>> handlers_;
    ObserverToken next_ = 1;
};

class FakeWorkspace : public Workspace {
public:
    std::optional<RunningApplication> frontmostApplication() override { return frontmost; }
    std::optional<RunningApplication> runningApplication(std::int32_t pid) override {
        const auto it = running_.find(pid);
        return it == running_.end() ? std::nullopt : std::optional(it->second);
    }
    bool activate(const RunningApplication& application) override {
        activations.push_back(application);
        return true;
    }
    ObserverToken addObserver(WorkspaceNotification name, std::function<void()> handler) override {
        return observers.add(name, std::move(handler));
    }
    void removeObserver(ObserverToken token) override { observers.remove(token); }
    void openURL(const std::string& url) override { openedURLs.push_back(url); }

    // Control side.
    void addRunning(const RunningApplication& application) {
        running_[application.pid] = application;
    }

    std::optional<RunningApplication> frontmost;
    std::vector<RunningApplication> activations;
    std::vector<std::string> openedURLs;
    Observers<WorkspaceNotification> observers;

private:
    std::map<std::int32_t, RunningApplication> running_;
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
    ObserverToken addScreenParametersObserver(std::function<void()> handler) override {
        return observers.add(0, std::move(handler));
    }
    void removeObserver(ObserverToken token) override { observers.remove(token); }

    // Control side: replaces the displays and notifies every observer, as a real change does.
    void change(std::vector<Display> newDisplays) {
        displays = std::move(newDisplays);
        observers.post(0);
    }

    std::vector<Display> displays;
    Observers<int> observers;
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
inline Display makeDisplay(const std::string& name, const Rect& frame) {
    return Display{name, frame, frame};
}

}  // namespace sombrix::fakes

// The fake workspace and displays: notification delivery on demand.
#include "fakes/fake_workspace.h"

namespace sombrix::fakes {

std::optional<RunningApplication> FakeWorkspace::runningApplication(std::int32_t pid) {
    const auto it = running_.find(pid);
    if (it == running_.end())
        return std::nullopt;
    return it->second;
}

bool FakeWorkspace::activate(const RunningApplication& application) {
    activations.push_back(application);
    return true;
}

ObserverToken FakeWorkspace::addObserver(WorkspaceNotification name,
                                         std::function<void()> handler) {
    const auto token = nextToken_++;
    observers_[token] = {name, std::move(handler)};
    return token;
}

void FakeWorkspace::removeObserver(ObserverToken token) {
    removedTokens.push_back(token);
    observers_.erase(token);
}

void FakeWorkspace::addRunning(const RunningApplication& application) {
    running_[application.pid] = application;
}

int FakeWorkspace::post(WorkspaceNotification name) {
    std::vector<ObserverToken> tokens;
    for (const auto& [token, entry] : observers_) {
        if (entry.first == name)
            tokens.push_back(token);
    }
    int ran = 0;
    for (const auto token : tokens) {
        // A handler may remove later observers (the engine stops); those no longer run.
        const auto it = observers_.find(token);
        if (it == observers_.end())
            continue;
        auto handler = it->second.second;
        handler();
        ++ran;
    }
    return ran;
}

int FakeWorkspace::liveObserverCount(WorkspaceNotification name) const {
    int count = 0;
    for (const auto& [token, entry] : observers_)
        count += entry.first == name;
    return count;
}

ObserverToken FakeDisplays::addScreenParametersObserver(std::function<void()> handler) {
    const auto token = nextToken_++;
    observers_[token] = std::move(handler);
    return token;
}

void FakeDisplays::removeObserver(ObserverToken token) {
    observers_.erase(token);
}

void FakeDisplays::change(std::vector<Display> newDisplays) {
    displays = std::move(newDisplays);
    std::vector<ObserverToken> tokens;
    for (const auto& [token, handler] : observers_)
        tokens.push_back(token);
    for (const auto token : tokens) {
        const auto it = observers_.find(token);
        if (it == observers_.end())
            continue;
        auto handler = it->second;
        handler();
    }
}

Display makeDisplay(const std::string& name, const Rect& frame) {
    return Display{name, frame, frame};
}

}  // namespace sombrix::fakes

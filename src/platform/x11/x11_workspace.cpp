// Frontmost application, activation and workspace notifications over EWMH.
#include "platform/x11/x11_workspace.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>
#include <algorithm>

namespace sombrix::x11 {

X11Workspace::X11Workspace(X11Context& context, X11Events& events, X11Accessibility& accessibility)
    : ctx_(context), events_(events), accessibility_(accessibility) {}

std::optional<std::string> X11Workspace::bundleIdentifierOf(
    std::int32_t pid, const std::vector<xcb_window_t>& clients) {
    for (xcb_window_t w : clients) {
        if (ctx_.cachedPid(w) == pid) {
            if (auto cls = ctx_.wmClassOf(w)) {
                return cls;
            }
        }
    }
    return std::nullopt;
}

std::optional<RunningApplication> X11Workspace::frontmostApplication() {
    std::int32_t pid = events_.frontmostPid();
    if (pid == 0) {
        return std::nullopt;
    }
    // The active window's class is the likeliest answer; the other clients only when it is not
    // that application's.
    if (auto active = events_.lastState().active; active && ctx_.cachedPid(*active) == pid) {
        if (auto cls = ctx_.wmClassOf(*active)) {
            return RunningApplication{pid, cls};
        }
    }
    std::vector<xcb_window_t> clients =
        events_.isListening() ? events_.lastState().clients : ctx_.clientList();
    ctx_.resolvePids(clients);
    return RunningApplication{pid, bundleIdentifierOf(pid, clients)};
}

std::optional<RunningApplication> X11Workspace::runningApplication(std::int32_t pid) {
    if (pid <= 0) {
        return std::nullopt;
    }
    auto clients = events_.isListening() ? events_.lastState().clients : ctx_.clientList();
    ctx_.resolvePids(clients);
    for (xcb_window_t w : clients) {
        if (ctx_.cachedPid(w) == pid) {
            return RunningApplication{pid, bundleIdentifierOf(pid, clients)};
        }
    }
    return std::nullopt;
}

bool X11Workspace::activate(const RunningApplication& application) {
    auto stacking = ctx_.clientListStacking();
    ctx_.resolvePids(stacking);
    auto main = accessibility_.takeMainWindow(application.pid);
    if (main && std::find(stacking.begin(), stacking.end(), *main) != stacking.end()) {
        accessibility_.requestActivation(*main);
        return true;
    }
    for (auto it = stacking.rbegin(); it != stacking.rend(); ++it) {
        if (ctx_.cachedPid(*it) == application.pid) {
            accessibility_.requestActivation(*it);
            return true;
        }
    }
    return false;
}

ObserverToken X11Workspace::addObserver(WorkspaceNotification name, std::function<void()> handler) {
    return events_.addWorkspaceObserver(name, std::move(handler));
}

void X11Workspace::removeObserver(ObserverToken token) {
    events_.removeWorkspaceObserver(token);
}

void X11Workspace::openURL(const std::string& url) {
    QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

}  // namespace sombrix::x11

// Accessibility attributes and actions from EWMH.
#include "platform/x11/x11_accessibility.h"

#include "platform/qt/logging.h"

#include <algorithm>

namespace sombrix::x11 {

namespace {
constexpr std::uint32_t kSourcePager = 2;
}

X11Accessibility::X11Accessibility(X11Context& context, X11WindowList& windowList,
                                   X11Events& events)
    : ctx_(context), list_(windowList), events_(events) {}

bool X11Accessibility::isProcessTrusted() {
    if (events_.trustCacheValid()) {
        return trusted_;
    }
    trusted_ = readTrust();
    events_.setTrustCached();
    return trusted_;
}

bool X11Accessibility::readTrust() {
    if (ctx_.connectionBroken()) {
        return false;
    }
    const Atoms& a = ctx_.atoms();
    auto checkCookie =
        ctx_.requestProperty(ctx_.root(), a.netSupportingWmCheck, XCB_ATOM_WINDOW, 1);
    auto supportedCookie = ctx_.requestProperty(ctx_.root(), a.netSupported, XCB_ATOM_ATOM, 4096);
    ++ctx_.stats().roundTrips;
    auto check = ctx_.collect(checkCookie);
    auto supported = ctx_.collect(supportedCookie);
    auto wm = decodeWindow(PropertyView::of(check.get()));
    windowManager_ = XCB_NONE;
    if (!wm) {
        qCDebug(lcX11) << "no window manager: the root window has no _NET_SUPPORTING_WM_CHECK";
        return false;
    }
    // A stale property left by a manager that died names a window that is gone or no longer
    // names itself.
    auto selfCookie = ctx_.requestProperty(*wm, a.netSupportingWmCheck, XCB_ATOM_WINDOW, 1);
    ++ctx_.stats().roundTrips;
    auto self = ctx_.collect(selfCookie);
    if (decodeWindow(PropertyView::of(self.get())) != wm) {
        qCDebug(lcX11) << "no window manager: _NET_SUPPORTING_WM_CHECK names a window that is gone";
        return false;
    }
    windowManager_ = *wm;
    events_.watchStructure(*wm);
    auto atoms = decodeAtomList(PropertyView::of(supported.get()));
    auto has = [&](xcb_atom_t x) {
        return std::find(atoms.begin(), atoms.end(), x) != atoms.end();
    };
    const bool reports = has(a.netActiveWindow) && has(a.netClientListStacking);
    qCDebug(lcX11).nospace() << "window manager 0x" << Qt::hex << *wm
                             << (reports ? " reports" : " does not report")
                             << " the active window and the stacking order";
    return reports;
}

AXElement X11Accessibility::applicationElement(std::int32_t pid) {
    return AXElement{AXElement::Kind::Application, pid, static_cast<std::uint64_t>(pid)};
}

std::optional<AXAttributeValue> X11Accessibility::copyAttributeValue(const AXElement& element,
                                                                     std::string_view attribute) {
    if (ctx_.connectionBroken()) {
        return std::nullopt;
    }
    if (element.kind == AXElement::Kind::Application) {
        // While events keep the window facts current they answer without asking the server.
        X11WindowCache& cache = list_.cache();
        const bool known = events_.isListening() && cache.update();
        if (attribute == ax::kFocusedWindow) {
            auto active = known ? cache.activeWindow() : ctx_.activeWindow();
            if (!active) {
                return std::nullopt;
            }
            auto pid = ctx_.pidOf(*active);
            if (pid != element.pid) {
                return std::nullopt;
            }
            return AXElement{AXElement::Kind::Window, element.pid, *active};
        }
        if (attribute == ax::kWindows) {
            auto clients = known ? cache.clients() : ctx_.clientList();
            ctx_.resolvePids(clients);
            std::vector<AXElement> windows;
            for (xcb_window_t w : clients) {
                if (ctx_.cachedPid(w) == element.pid) {
                    windows.push_back(AXElement{AXElement::Kind::Window, element.pid, w});
                }
            }
            return windows;
        }
        return std::nullopt;
    }
    if (element.kind != AXElement::Kind::Window) {
        return std::nullopt;
    }
    const auto window = static_cast<xcb_window_t>(element.handle);
    if (attribute == ax::kMinimized || attribute == ax::kFullScreen) {
        std::optional<WindowState> state;
        if (events_.isListening() && list_.cache().update()) {
            if (const ClientFacts* facts = list_.cache().client(window)) {
                state = facts->state;
            }
        }
        if (!state) {
            state = ctx_.windowState(window);  // not a client, or nothing keeps the facts
        }
        if (!state) {
            return std::nullopt;
        }
        const bool flag = attribute == ax::kMinimized ? state->hidden : state->fullscreen;
        // A client may write the full-screen state into its own property without asking the
        // window manager: only a frame that really covers its monitor is full screen.
        if (attribute == ax::kFullScreen && flag) {
            return coversAMonitor(window);
        }
        return flag;
    }
    if (attribute == ax::kPosition || attribute == ax::kSize) {
        auto bounds = list_.boundsOf(window);
        if (!bounds) {
            return std::nullopt;
        }
        if (attribute == ax::kPosition) {
            return Point{bounds->x, bounds->y};
        }
        return Size{bounds->width, bounds->height};
    }
    return std::nullopt;
}

bool X11Accessibility::coversAMonitor(xcb_window_t window) {
    // The window list's facts usually have it already.
    const auto bounds = list_.boundsOf(window);
    return bounds && x11::coversAMonitor(*bounds, ctx_.monitors());
}

std::optional<std::uint32_t> X11Accessibility::windowNumber(const AXElement& element) {
    if (element.kind != AXElement::Kind::Window) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(element.handle);
}

void X11Accessibility::requestActivation(xcb_window_t window) {
    if (ctx_.connectionBroken()) {
        return;
    }
    xcb_client_message_event_t ev{};
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = window;
    ev.type = ctx_.atoms().netActiveWindow;
    ev.data.data32[0] = kSourcePager;
    ev.data.data32[1] = XCB_CURRENT_TIME;
    ++ctx_.stats().requests;
    xcb_send_event(ctx_.connection(), 0, ctx_.root(),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&ev));
    xcb_flush(ctx_.connection());
}

bool X11Accessibility::performAction(const AXElement& element, std::string_view action) {
    if (element.kind != AXElement::Kind::Window || action != ax::kRaise) {
        return false;
    }
    requestActivation(static_cast<xcb_window_t>(element.handle));
    return true;
}

bool X11Accessibility::setAttributeValue(const AXElement& element, std::string_view attribute,
                                         bool value) {
    if (element.kind != AXElement::Kind::Window || attribute != ax::kMain || !value) {
        return false;
    }
    mainWindows_[element.pid] = static_cast<xcb_window_t>(element.handle);
    return true;
}

std::optional<xcb_window_t> X11Accessibility::takeMainWindow(std::int32_t pid) {
    auto it = mainWindows_.find(pid);
    if (it == mainWindows_.end()) {
        return std::nullopt;
    }
    xcb_window_t w = it->second;
    mainWindows_.erase(it);
    return w;
}

std::unique_ptr<AXObserver> X11Accessibility::createObserver(std::int32_t pid,
                                                             AXObserverCallback callback) {
    if (pid <= 0 || callback == nullptr || ctx_.connectionBroken()) {
        return nullptr;
    }
    return std::make_unique<X11AXObserver>(events_, pid, callback);
}

}  // namespace sombrix::x11

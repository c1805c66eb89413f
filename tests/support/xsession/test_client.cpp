// Test client windows over a plain xcb connection.
#include "test_client.h"

#include <unistd.h>

#include <algorithm>

#include "xsession.h"

namespace sombrix::test {

constexpr std::uint32_t kSourcePager = 2;

TestWindowSpec dockSpec(int x, int y, std::uint16_t width, std::uint16_t height, bool reservesTop) {
    TestWindowSpec spec{
        .x = x, .y = y, .width = width, .height = height, .types = {"_NET_WM_WINDOW_TYPE_DOCK"}};
    if (reservesTop) {
        const auto first = static_cast<std::uint32_t>(x);
        spec.strutPartial = std::array<std::uint32_t, 12>{
            0, 0, height, 0, 0, 0, 0, 0, first, first + width - 1, 0, 0};
    }
    return spec;
}

TestClient::TestClient(const std::string& display) : c_(xcb_connect(display.c_str(), nullptr)) {
    if (!xcb_connection_has_error(c_))
        root_ = rootOf(c_);
}

TestClient::~TestClient() {
    xcb_disconnect(c_);
}

bool TestClient::ok() const {
    return c_ && !xcb_connection_has_error(c_) && root_ != 0;
}

void TestClient::flush() {
    xcb_flush(c_);
}

void TestClient::setProperty(xcb_window_t w, const std::string& name, xcb_atom_t type,
                             std::uint8_t format, const void* data, std::uint32_t elements) {
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, atom(name), type, format, elements, data);
    xcb_flush(c_);
}

xcb_window_t TestClient::createWindow(const TestWindowSpec& spec) {
    if (!ok())
        return 0;
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
    xcb_window_t w = xcb_generate_id(c_);
    const std::uint32_t mask = XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK;
    const std::uint32_t values[] = {
        screen->white_pixel, spec.overrideRedirect ? 1u : 0u,
        XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE};
    xcb_create_window(c_, XCB_COPY_FROM_PARENT, w, root_, static_cast<int16_t>(spec.x),
                      static_cast<int16_t>(spec.y), spec.width, spec.height, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, mask, values);

    const auto put = [&](xcb_atom_t property, xcb_atom_t type, std::uint8_t format, std::size_t n,
                         const void* data) {
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, property, type, format,
                            static_cast<std::uint32_t>(n), data);
    };
    put(XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, spec.title.size(), spec.title.data());
    put(atom("_NET_WM_NAME"), atom("UTF8_STRING"), 8, spec.title.size(), spec.title.data());
    // WM_CLASS is "instance\0class\0".
    const std::string wmClass = spec.wmClass + '\0' + spec.wmClass + '\0';
    put(XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, wmClass.size(), wmClass.data());
    // Fixed position (USPosition | USSize | PPosition | PSize): the manager must not move the
    // window away from where the test put it.
    const std::uint32_t hints[18] = {1 | 2 | 4 | 8, static_cast<std::uint32_t>(spec.x),
                                     static_cast<std::uint32_t>(spec.y), spec.width, spec.height};
    put(XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 32, 18, hints);
    const std::uint32_t pid = static_cast<std::uint32_t>(::getpid());
    const char notAPid[] = "not a pid";
    if (spec.pid == TestWindowSpec::Pid::Real)
        put(atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1, &pid);
    else if (spec.pid == TestWindowSpec::Pid::Garbage)
        put(atom("_NET_WM_PID"), XCB_ATOM_STRING, 8, sizeof notAPid - 1, notAPid);
    std::vector<xcb_atom_t> types;
    for (const auto& name : spec.types)
        types.push_back(atom(name));
    if (!types.empty())
        put(atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 32, types.size(), types.data());
    if (spec.strutPartial) {
        put(atom("_NET_WM_STRUT_PARTIAL"), XCB_ATOM_CARDINAL, 32, 12, spec.strutPartial->data());
        put(atom("_NET_WM_STRUT"), XCB_ATOM_CARDINAL, 32, 4, spec.strutPartial->data());
    }
    if (spec.desktop)
        put(atom("_NET_WM_DESKTOP"), XCB_ATOM_CARDINAL, 32, 1, &*spec.desktop);
    if (spec.map)
        xcb_map_window(c_, w);
    xcb_flush(c_);
    if (!spec.map || !spec.waitUntilManaged)
        return w;
    const bool managed = !spec.overrideRedirect;
    const bool viewable = !spec.desktop || spec.desktop == 0u;
    // Framed and showing: the frame extents are the last step of a manager that sets them (i3
    // does not).
    const auto supported = list32(c_, root_, atom("_NET_SUPPORTED"), XCB_ATOM_ATOM);
    const bool extents = viewable && std::find(supported.begin(), supported.end(),
                                               atom("_NET_FRAME_EXTENTS")) != supported.end();
    const auto framed = [&] {
        return isManaged(w) && (!extents || !list32(c_, w, atom("_NET_FRAME_EXTENTS")).empty());
    };
    const bool ready =
        waitUntil([&] { return (!managed || framed()) && (!viewable || isViewable(w)); });
    return ready ? w : 0;
}

void TestClient::destroy(xcb_window_t w) {
    xcb_destroy_window(c_, w);
    xcb_flush(c_);
}

void TestClient::rootMessage(xcb_window_t w, const std::string& type,
                             std::array<std::uint32_t, 5> data) {
    xcb_client_message_event_t ev{XCB_CLIENT_MESSAGE, 32, 0, w, atom(type), {}};
    std::copy(data.begin(), data.end(), ev.data.data32);
    xcb_send_event(c_, 0, root_,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&ev));
    xcb_flush(c_);
}

void TestClient::minimize(xcb_window_t w) {
    constexpr std::uint32_t kIconicState = 3;
    rootMessage(w, "WM_CHANGE_STATE", {kIconicState, 0, 0, 0, 0});
}

void TestClient::activate(xcb_window_t w) {
    rootMessage(w, "_NET_ACTIVE_WINDOW", {kSourcePager, XCB_CURRENT_TIME, 0, 0, 0});
}

void TestClient::changeState(xcb_window_t w, const std::string& state, bool add,
                             const std::string& second) {
    rootMessage(w, "_NET_WM_STATE",
                {add ? 1u : 0u, atom(state), second.empty() ? 0 : atom(second), kSourcePager, 0});
}

void TestClient::switchDesktop(std::uint32_t desktop) {
    rootMessage(root_, "_NET_CURRENT_DESKTOP", {desktop, XCB_CURRENT_TIME, 0, 0, 0});
}

void TestClient::moveResize(xcb_window_t w, int x, int y, std::uint16_t width,
                            std::uint16_t height) {
    // Through the manager, as a pager would (gravity static, x/y/width/height present, source 2).
    const std::uint32_t flags = 10 | (1u << 8) | (1u << 9) | (1u << 10) | (1u << 11) | (2u << 12);
    rootMessage(
        w, "_NET_MOVERESIZE_WINDOW",
        {flags, static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), width, height});
}

std::optional<xcb_window_t> TestClient::activeWindow() {
    // The first item: some managers publish more than one.
    const auto list = list32(c_, root_, atom("_NET_ACTIVE_WINDOW"));
    return list.empty() || list[0] == XCB_NONE ? std::nullopt : std::optional(list[0]);
}

bool TestClient::hasState(xcb_window_t w, const std::string& state) {
    const auto states = list32(c_, w, atom("_NET_WM_STATE"), XCB_ATOM_ATOM);
    return std::find(states.begin(), states.end(), atom(state)) != states.end();
}

bool TestClient::isOverrideRedirect(xcb_window_t w) {
    auto reply =
        own(xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, w), nullptr));
    return reply && reply->override_redirect;
}

bool TestClient::isManaged(xcb_window_t w) {
    auto list = clientList();
    return std::find(list.begin(), list.end(), w) != list.end();
}

bool TestClient::isDirectlyBeneath(xcb_window_t below, xcb_window_t client) {
    const auto children = rootChildren();
    const auto frame = topLevelOf(client);
    for (std::size_t i = 0; i + 1 < children.size(); ++i)
        if (children[i] == below)
            return frame && children[i + 1] == *frame;
    return false;
}

std::optional<std::array<int, 4>> TestClient::rootGeometry(xcb_window_t w) {
    auto geometry = own(xcb_get_geometry_reply(c_, xcb_get_geometry(c_, w), nullptr));
    auto translated = own(xcb_translate_coordinates_reply(
        c_, xcb_translate_coordinates(c_, w, root_, 0, 0), nullptr));
    if (!geometry || !translated)
        return std::nullopt;
    return std::array<int, 4>{translated->dst_x, translated->dst_y, geometry->width,
                              geometry->height};
}

}  // namespace sombrix::test

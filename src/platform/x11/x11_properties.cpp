// Checked decoding of EWMH and ICCCM properties.
#include "platform/x11/x11_properties.h"

#include <cstring>
#include <limits>
#include <string_view>

namespace sombrix::x11 {

namespace {

// Edges and extents beyond this are not a real screen: X coordinates are 16-bit.
constexpr std::uint32_t kMaxExtent = 32767;

// 32-bit items of the given type, or nothing when the property is not exactly that.
std::optional<std::vector<std::uint32_t>> items32(const PropertyView& p, xcb_atom_t type) {
    if (p.format != 32 || p.type != type || (p.length > 0 && p.data == nullptr)) {
        return std::nullopt;
    }
    std::vector<std::uint32_t> out(p.length);
    if (p.length > 0) {
        std::memcpy(out.data(), p.data, p.length * sizeof(std::uint32_t));
    }
    return out;
}

// Exactly `count` cardinals, each a plausible screen extent; nothing otherwise.
std::optional<std::vector<std::uint32_t>> extents(const PropertyView& p, std::size_t count) {
    auto v = items32(p, XCB_ATOM_CARDINAL);
    if (!v || v->size() != count) {
        return std::nullopt;
    }
    for (std::uint32_t x : *v) {
        if (x > kMaxExtent) {
            return std::nullopt;
        }
    }
    return v;
}

}  // namespace

PropertyView PropertyView::of(const xcb_get_property_reply_t* reply) {
    if (reply == nullptr) {
        return {};
    }
    PropertyView v;
    v.type = reply->type;
    v.format = reply->format;
    v.data = xcb_get_property_value(reply);
    int bytes = xcb_get_property_value_length(reply);
    if (v.format == 8 || v.format == 16 || v.format == 32) {
        v.length = static_cast<std::uint32_t>(bytes) / (v.format / 8);
    } else {
        v.length = 0;
    }
    return v;
}

std::vector<xcb_atom_t> decodeAtomList(const PropertyView& p) {
    auto items = items32(p, XCB_ATOM_ATOM);
    return items ? std::move(*items) : std::vector<xcb_atom_t>{};
}

std::vector<xcb_window_t> decodeWindowList(const PropertyView& p) {
    auto items = items32(p, XCB_ATOM_WINDOW);
    return items ? std::move(*items) : std::vector<xcb_window_t>{};
}

WindowState decodeWindowState(const PropertyView& p, const Atoms& atoms) {
    WindowState s;
    for (xcb_atom_t a : decodeAtomList(p)) {
        if (a == XCB_ATOM_NONE) {
            continue;
        }
        s.hidden |= a == atoms.netWmStateHidden;
        s.fullscreen |= a == atoms.netWmStateFullscreen;
        s.above |= a == atoms.netWmStateAbove;
        s.below |= a == atoms.netWmStateBelow;
    }
    return s;
}

std::optional<WindowType> decodeWindowType(const PropertyView& p, const Atoms& atoms) {
    const std::pair<xcb_atom_t, WindowType> known[] = {
        {atoms.typeNormal, WindowType::Normal},
        {atoms.typeDialog, WindowType::Dialog},
        {atoms.typeUtility, WindowType::Utility},
        {atoms.typeSplash, WindowType::Splash},
        {atoms.typeToolbar, WindowType::Toolbar},
        {atoms.typeMenu, WindowType::Menu},
        {atoms.typeDock, WindowType::Dock},
        {atoms.typeDesktop, WindowType::Desktop},
        {atoms.typeDropdownMenu, WindowType::DropdownMenu},
        {atoms.typePopupMenu, WindowType::PopupMenu},
        {atoms.typeTooltip, WindowType::Tooltip},
        {atoms.typeNotification, WindowType::Notification},
        {atoms.typeCombo, WindowType::Combo},
        {atoms.typeDnd, WindowType::Dnd},
    };
    // Toolkits put their private types first (Qt: _KDE_NET_WM_WINDOW_TYPE_OVERRIDE), so skip
    // what is unknown rather than giving up at the first entry.
    for (xcb_atom_t a : decodeAtomList(p)) {
        if (a == XCB_ATOM_NONE) {
            continue;
        }
        for (const auto& [atom, type] : known) {
            if (a == atom) {
                return type;
            }
        }
    }
    return std::nullopt;
}

std::optional<FrameExtents> decodeFrameExtents(const PropertyView& p) {
    auto v = extents(p, 4);
    if (!v) {
        return std::nullopt;
    }
    return FrameExtents{(*v)[0], (*v)[1], (*v)[2], (*v)[3]};
}

std::optional<Strut> decodeStrutPartial(const PropertyView& p) {
    auto v = extents(p, 12);
    if (!v) {
        return std::nullopt;
    }
    const auto& s = *v;
    return Strut{s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7], s[8], s[9], s[10], s[11]};
}

std::optional<Strut> decodeStrut(const PropertyView& p) {
    auto v = extents(p, 4);
    if (!v) {
        return std::nullopt;
    }
    // Without a range a strut covers its whole edge.
    const auto& s = *v;
    return Strut{s[0], s[1],       s[2], s[3],       0, kMaxExtent,
                 0,    kMaxExtent, 0,    kMaxExtent, 0, kMaxExtent};
}

std::optional<std::int32_t> decodePid(const PropertyView& p) {
    auto v = items32(p, XCB_ATOM_CARDINAL);
    if (!v || v->size() != 1 || (*v)[0] == 0 ||
        (*v)[0] > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>((*v)[0]);
}

std::optional<std::string> decodeWmClass(const PropertyView& p) {
    if (p.format != 8 || p.type != XCB_ATOM_STRING || p.data == nullptr || p.length == 0) {
        return std::nullopt;
    }
    const char* bytes = static_cast<const char*>(p.data);
    const void* nul = std::memchr(bytes, '\0', p.length);
    if (nul == nullptr) {
        return std::nullopt;
    }
    std::size_t start = static_cast<std::size_t>(static_cast<const char*>(nul) - bytes) + 1;
    if (start >= p.length) {
        return std::nullopt;
    }
    std::size_t end = start;
    while (end < p.length && bytes[end] != '\0') {
        ++end;
    }
    if (end == start) {
        return std::nullopt;
    }
    return std::string(bytes + start, end - start);
}

WmClassNames decodeWmClassNames(const PropertyView& p) {
    WmClassNames names;
    if (p.format != 8 || p.type != XCB_ATOM_STRING || p.data == nullptr) {
        return names;
    }
    const std::string_view bytes(static_cast<const char*>(p.data), p.length);
    const auto end = bytes.find('\0');
    names.instance = std::string(bytes.substr(0, end));
    if (end != std::string_view::npos) {
        const auto rest = bytes.substr(end + 1);
        names.name = std::string(rest.substr(0, rest.find('\0')));
    }
    return names;
}

std::optional<xcb_window_t> decodeWindow(const PropertyView& p) {
    auto v = items32(p, XCB_ATOM_WINDOW);
    if (!v || v->empty() || (*v)[0] == XCB_NONE) {
        return std::nullopt;
    }
    return (*v)[0];
}

std::optional<std::uint32_t> decodeCardinal(const PropertyView& p) {
    auto v = items32(p, XCB_ATOM_CARDINAL);
    if (!v || v->empty()) {
        return std::nullopt;
    }
    return (*v)[0];
}

}  // namespace sombrix::x11

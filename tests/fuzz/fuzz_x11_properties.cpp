// Window properties are written by any client of the X server, so every decoder must cope with
// any type, format and length.
#include <xcb/xcb.h>

#include "fuzz_input.h"
#include "fuzz_targets.h"
#include "platform/x11/x11_properties.h"

namespace sombrix::fuzz::x11_properties {

namespace {

using namespace sombrix::x11;

// Atom numbers as a server might hand them out; the decoders compare, never interpret them.
Atoms testAtoms() {
    Atoms a;
    xcb_atom_t next = 300;
    for (xcb_atom_t* atom :
         {&a.netWmStateHidden, &a.netWmStateFullscreen, &a.netWmStateAbove, &a.netWmStateBelow,
          &a.typeDesktop, &a.typeDock, &a.typeToolbar, &a.typeMenu, &a.typeUtility, &a.typeSplash,
          &a.typeDialog, &a.typeDropdownMenu, &a.typePopupMenu, &a.typeTooltip, &a.typeNotification,
          &a.typeCombo, &a.typeDnd, &a.typeNormal})
        *atom = next++;
    return a;
}

xcb_atom_t typeOf(std::uint8_t pick, FuzzInput& in) {
    static const xcb_atom_t types[] = {XCB_ATOM_ATOM, XCB_ATOM_CARDINAL, XCB_ATOM_WINDOW,
                                       XCB_ATOM_STRING, XCB_ATOM_NONE};
    return pick % 6 < 5 ? types[pick % 6] : in.raw<std::uint32_t>();
}

void decodeAll(const PropertyView& p, const Atoms& atoms) {
    decodeWindowState(p, atoms);
    decodeWindowType(p, atoms);
    if (const auto e = decodeFrameExtents(p))
        check(e->left <= 32767 && e->right <= 32767 && e->top <= 32767 && e->bottom <= 32767,
              "frame extents beyond any screen");
    decodeStrutPartial(p);
    decodeStrut(p);
    if (const auto pid = decodePid(p))
        check(*pid > 0, "a process id that is not positive");
    if (const auto cls = decodeWmClass(p))
        check(!cls->empty() && cls->find('\0') == std::string::npos,
              "a class name that is empty or holds a NUL");
    if (const auto w = decodeWindow(p))
        check(*w != XCB_NONE, "None decoded as a window");
    decodeWindowList(p);
    decodeAtomList(p);
    decodeCardinal(p);
}

}  // namespace

int fuzzOne(const std::uint8_t* data, std::size_t size) {
    static const Atoms atoms = testAtoms();
    FuzzInput in(data, size);
    const std::uint8_t formatPick = in.byte();
    const std::uint8_t typePick = in.byte();
    // Mostly the formats a server sends, now and then any other.
    static const std::uint8_t formats[] = {8, 16, 32, 32, 0};
    const std::uint8_t format =
        formatPick < 240 ? formats[formatPick % std::size(formats)] : in.byte();
    const xcb_atom_t type = typeOf(typePick, in);
    const std::string value = in.bytes(in.remaining());

    // The bytes as a view whose item count and format disagree in every way the decoders must
    // check: the count stays within the bytes that are really there. (How a server's reply
    // becomes a view is read by every property the X11 tests see through a real server.)
    const std::size_t itemBytes = format / 8;
    decodeAll(
        {.type = type,
         .format = format,
         .data = value.empty() ? nullptr : value.data(),
         .length = static_cast<std::uint32_t>(value.size() / std::max<std::size_t>(itemBytes, 1))},
        atoms);
    decodeAll(PropertyView::of(nullptr), atoms);
    return 0;
}

}  // namespace sombrix::fuzz::x11_properties

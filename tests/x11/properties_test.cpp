// Decoding of other programs' window properties: anything malformed reads as absent.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/x11/x11_displays.h"
#include "platform/x11/x11_properties.h"

namespace sombrix::x11 {
namespace {

Atoms fakeAtoms() {
    return {.netWmStateHidden = 101,
            .netWmStateFullscreen = 102,
            .netWmStateAbove = 103,
            .netWmStateBelow = 104,
            .typeDock = 203,
            .typeDialog = 202,
            .typeNormal = 201};
}

PropertyView view32(xcb_atom_t type, const std::vector<std::uint32_t>& v) {
    return {type, 32, v.data(), static_cast<std::uint32_t>(v.size())};
}

TEST(Properties, WindowTypeIsTheFirstKnownTypeAndNeedsAnAtomList) {
    const Atoms a = fakeAtoms();
    std::vector<std::uint32_t> toolkitFirst{999, 0, 202, 201};
    EXPECT_EQ(decodeWindowType(view32(XCB_ATOM_ATOM, toolkitFirst), a), WindowType::Dialog);
    std::vector<std::uint32_t> unknown{999, 998};
    EXPECT_EQ(decodeWindowType(view32(XCB_ATOM_ATOM, unknown), a), std::nullopt);
    std::vector<std::uint32_t> dock{203};
    EXPECT_EQ(decodeWindowType(view32(XCB_ATOM_CARDINAL, dock), a), std::nullopt);
    const char bytes[] = "\xcb\0\0\0";
    EXPECT_EQ(decodeWindowType(PropertyView{XCB_ATOM_ATOM, 8, bytes, 4}, a), std::nullopt);
    EXPECT_EQ(decodeWindowType(PropertyView{}, a), std::nullopt);
}

TEST(Properties, WindowStateReadsKnownFlagsOnlyFromAnAtomList) {
    const Atoms a = fakeAtoms();
    std::vector<std::uint32_t> states{7, 101, 103};
    WindowState s = decodeWindowState(view32(XCB_ATOM_ATOM, states), a);
    EXPECT_TRUE(s.hidden && s.above);
    EXPECT_FALSE(s.fullscreen || s.below);
    EXPECT_EQ(decodeWindowState(view32(XCB_ATOM_CARDINAL, states), a), WindowState{});
    std::uint16_t shorts[] = {101, 102};
    EXPECT_EQ(decodeWindowState(PropertyView{XCB_ATOM_ATOM, 16, shorts, 2}, a), WindowState{});
}

TEST(Properties, ExtentsAndStrutsNeedExactLengthsAndSaneValues) {
    EXPECT_EQ(decodeFrameExtents(view32(XCB_ATOM_CARDINAL, {1, 2, 20, 4})),
              (FrameExtents{1, 2, 20, 4}));
    EXPECT_EQ(decodeFrameExtents(view32(XCB_ATOM_CARDINAL, {1, 2, 20})), std::nullopt);
    EXPECT_EQ(decodeFrameExtents(view32(XCB_ATOM_CARDINAL, {1, 2, 20, 4, 5})), std::nullopt);
    EXPECT_EQ(decodeFrameExtents(view32(XCB_ATOM_CARDINAL, {1, 0xffffffffu, 20, 4})), std::nullopt);
    EXPECT_EQ(decodeFrameExtents(view32(XCB_ATOM_ATOM, {1, 2, 20, 4})), std::nullopt);

    std::vector<std::uint32_t> partial{0, 0, 30, 0, 0, 0, 0, 0, 0, 799, 0, 0};
    auto strut = decodeStrutPartial(view32(XCB_ATOM_CARDINAL, partial));
    ASSERT_TRUE(strut);
    EXPECT_EQ(strut->top, 30u);
    EXPECT_EQ(strut->topEndX, 799u);
    partial[9] = 0x80000000u;
    EXPECT_EQ(decodeStrutPartial(view32(XCB_ATOM_CARDINAL, partial)), std::nullopt);
    EXPECT_EQ(decodeStrutPartial(view32(XCB_ATOM_CARDINAL, {0, 0, 30, 0})), std::nullopt);
    auto whole = decodeStrut(view32(XCB_ATOM_CARDINAL, {0, 0, 30, 0}));
    ASSERT_TRUE(whole);
    EXPECT_GE(whole->topEndX, 32767u) << "a plain strut covers its whole edge";
}

TEST(Properties, PidIsOnePositiveCardinalThatFitsAProcessId) {
    EXPECT_EQ(decodePid(view32(XCB_ATOM_CARDINAL, {4242})), 4242);
    EXPECT_EQ(decodePid(view32(XCB_ATOM_CARDINAL, {0})), std::nullopt);
    EXPECT_EQ(decodePid(view32(XCB_ATOM_CARDINAL, {0x80000000u})), std::nullopt);
    EXPECT_EQ(decodePid(view32(XCB_ATOM_CARDINAL, {1, 2})), std::nullopt);
    EXPECT_EQ(decodePid(view32(XCB_ATOM_CARDINAL, {})), std::nullopt);
    const char text[] = "4242";
    EXPECT_EQ(decodePid(PropertyView{XCB_ATOM_STRING, 8, text, 4}), std::nullopt);
}

TEST(Properties, WmClassIsTheSecondStringWhenThereIsOne) {
    auto decode = [](const std::string& bytes) {
        return decodeWmClass(PropertyView{XCB_ATOM_STRING, 8, bytes.data(),
                                          static_cast<std::uint32_t>(bytes.size())});
    };
    EXPECT_EQ(decode(std::string("xterm\0XTerm\0", 12)), "XTerm");
    EXPECT_EQ(decode(std::string("xterm\0XTerm", 11)), "XTerm");
    EXPECT_EQ(decode(std::string("xterm\0", 6)), std::nullopt);
    EXPECT_EQ(decode("no separator"), std::nullopt);
    EXPECT_EQ(decode(""), std::nullopt);
    std::uint32_t words[] = {1, 2};
    EXPECT_EQ(decodeWmClass(PropertyView{XCB_ATOM_STRING, 32, words, 2}), std::nullopt);
}

TEST(VisibleFrame, StrutsTakeRoomOnlyOnTheDisplaysTheyReach) {
    const Size root{1600, 900};
    const Rect left{0, 0, 800, 900};
    const Rect right{800, 0, 800, 900};
    const Strut topOfLeft{.top = 30, .topStartX = 0, .topEndX = 799};
    const Strut bottomOfAll{.bottom = 40, .bottomStartX = 0, .bottomEndX = 1599};
    EXPECT_EQ(visibleFrameFor(left, root, {topOfLeft, bottomOfAll}), (Rect{0, 30, 800, 830}));
    EXPECT_EQ(visibleFrameFor(right, root, {topOfLeft, bottomOfAll}), (Rect{800, 0, 800, 860}));
    EXPECT_EQ(visibleFrameFor(left, root, {}), left);

    EXPECT_EQ(visibleFrameFor(right, root, {Strut{.top = 5000, .topEndX = 1599}}).height, 0);
}

}  // namespace
}  // namespace sombrix::x11

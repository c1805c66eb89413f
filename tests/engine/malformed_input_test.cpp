// Whatever the window list holds, the engine neither crashes nor leaves an overlay over the
// window the user works in (the window-entries fuzz target drives random lists); here the
// conversion's rules and the list that says nothing.
#include <cmath>
#include <limits>

#include "engine_fixture.h"

namespace sombrix::fakes {
namespace {

using MalformedInput = EngineTest;

TEST_F(MalformedInput, windowInfoKeepsOnlyEntriesWithNumberOwnerAndBounds) {
    const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
    const RawBounds b{10, 20, 300, 200};
    const auto from = [&](RawValue number, RawValue pid, RawValue bounds) {
        return DimController::WindowInfo::from({number, pid, std::monostate{}, bounds});
    };
    // The layer is not the record's business; 0xFFFFFFFF is a valid number, whole doubles
    // convert, and so does a negative width.
    const auto good = from(std::int64_t{0xFFFFFFFF}, std::int64_t{-5}, b);
    ASSERT_TRUE(good);
    EXPECT_EQ(*good, (DimController::WindowInfo{0xFFFFFFFF, -5, {10, 20, 300, 200}}));
    EXPECT_TRUE(from(3.0, 2000.0, b));
    EXPECT_TRUE(from(std::int64_t{3}, std::int64_t{2000}, RawBounds{310, 20, -300, 200}));
    const RawValue badNumbers[] = {std::monostate{},      std::string("12"), true,
                                   std::int64_t{1} << 32, std::int64_t{-3},  3.5};
    for (const auto& number : badNumbers)
        EXPECT_FALSE(from(number, std::int64_t{2000}, b)) << number.index();
    EXPECT_FALSE(from(std::int64_t{3}, std::monostate{}, b));
    EXPECT_FALSE(from(std::int64_t{3}, std::int64_t{1} << 31, b));
    const RawValue badBounds[] = {std::monostate{},
                                  std::int64_t{5},
                                  RawBounds{10, 20, 300, std::nullopt},
                                  RawBounds{10, 20, nan, 200},
                                  RawBounds{10, 20, inf, inf},
                                  RawBounds{nan, nan, 300, 200},
                                  RawBounds{-inf, 20, 300, 200}};
    for (const auto& bounds : badBounds)
        EXPECT_FALSE(from(std::int64_t{3}, std::int64_t{2000}, bounds)) << bounds.index();
}

TEST_F(MalformedInput, anAbsentListCoversEveryDisplay) {
    twoDisplays();
    window(1, kAppA, {300, 200, 600, 400});
    focusOn(kAppA, 1);
    start();
    ASSERT_EQ(beneath(1), overlayID(0));

    server.setAbsent(true);  // the focused window cannot be found in nothing
    controller->refresh();
    server.setAbsent(false);
    EXPECT_EQ(std::set<std::uint32_t>({server.onScreenOrder().at(0), server.onScreenOrder().at(1)}),
              (std::set<std::uint32_t>{overlayID(0), overlayID(1)}));
}

}  // namespace
}  // namespace sombrix::fakes

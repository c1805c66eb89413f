// Version ordering as release feeds write versions.
#include <gtest/gtest.h>

#include <QString>

#include "updater/version_compare.h"

namespace sombrix::updater {
namespace {

TEST(VersionCompare, OrdersDottedVersionsNumerically) {
    struct Case {
        const char* a;
        const char* b;
        int expected;
    };
    const Case cases[] = {
        {"1.10", "1.9", 1},
        {"1.0", "1.0.0", 0},
        {"1.0.1", "1.0", 1},
        {"2", "10", -1},
        {"1.01", "1.1", 0},
        {"1.0b2", "1.0", -1},
        {"1.0b2", "1.0b10", -1},
        {" 1.2 ", "1.2", 0},
        {"99999999999999999999.0", "1.0", 1},
        {"", "0", 0},
        {"1.0", "", 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(compareVersions(QString::fromUtf8(c.a), QString::fromUtf8(c.b)), c.expected)
            << c.a << " vs " << c.b;
        EXPECT_EQ(compareVersions(QString::fromUtf8(c.b), QString::fromUtf8(c.a)), -c.expected)
            << c.b << " vs " << c.a;
    }
}

}  // namespace
}  // namespace sombrix::updater

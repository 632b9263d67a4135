#include <gtest/gtest.h>

#include "ui/qt/DialogUnits.h"

namespace tarven::test {
namespace {

TEST(DialogUnitsTest, QuartersAndEighthsRoundToTheNearestPixel) {
    // 95 * 6 / 4 = 142.5 and 12 * 13 / 8 = 19.5 round up; 5 * 13 / 8 = 8.125 rounds down.
    EXPECT_EQ(toPixels({95, 5, 40, 12}, QSize(6, 13)), QRect(143, 8, 60, 20));
    EXPECT_EQ(toPixels({0, 0, 139, 96}, QSize(7, 16)).size(), QSize(243, 192));
}

}  // namespace
}  // namespace tarven::test

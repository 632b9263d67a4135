#include <gtest/gtest.h>

#include "ui/DialogUnits.h"

namespace tarven::test {
namespace {

TEST(DialogUnitsTest, QuartersAndEighthsRoundToTheNearestPixel) {
    // 95 * 6 / 4 = 142.5 and 12 * 13 / 8 = 19.5 round up; 5 * 13 / 8 = 8.125 rounds down.
    EXPECT_EQ(toPixels({95, 5, 40, 12}, QSize(6, 13)), QRect(143, 8, 60, 20));
    EXPECT_EQ(toPixels({0, 0, 139, 96}, QSize(7, 16)).size(), QSize(243, 192));
}

TEST(DialogUnitsTest, BaseUnitsGrowWithTheFont) {
    const QSize small = dialogBaseUnits(dialogFont(9));
    const QSize large = dialogBaseUnits(dialogFont(18));
    EXPECT_GT(small.width(), 0);
    EXPECT_GT(small.height(), small.width());
    EXPECT_GT(large.width(), small.width());
    EXPECT_GT(large.height(), small.height());
}

}  // namespace
}  // namespace tarven::test

#include <gtest/gtest.h>

#include <cmath>

#include "domain/numtext.h"

namespace zelk::text {
namespace {

TEST(FormatFixed, RoundsToSignificantDigitsBeforeTheDecimals) {
    EXPECT_EQ(FormatFixed(-0.2, 4, 9, '.'), "-0.2000");
    EXPECT_EQ(FormatFixed(1000.25, 3, 10, ','), "1000,250");
    EXPECT_EQ(FormatFixed(123456.78951, 4, 9, '.'), "123456.7900");
    // Rounded twice, as described: ten digits give 0.1234500000, four decimals then 0.1235.
    EXPECT_EQ(FormatFixed(0.12344999999, 4, 10, '.'), "0.1235");
    EXPECT_EQ(FormatFixed(0.12344999999, 4, 12, '.'), "0.1234");
    EXPECT_EQ(FormatFixed(65534.0 / 32767.0 * 10.0 - 10.0, 4, 10, '.'), "10.0000");
}

TEST(FormatFixed, ZeroHasNoSignAndLargeValuesTurnScientific) {
    EXPECT_EQ(FormatFixed(-0.00004, 4, 9, '.'), "0.0000");
    EXPECT_EQ(FormatFixed(-0.0, 1, 9, '.'), "0.0");
    EXPECT_EQ(FormatFixed(1234567890123.0, 4, 9, '.'), "1.23456789E12");
    EXPECT_EQ(FormatFixed(-2.5e15, 4, 9, ','), "-2,5E15");
    EXPECT_EQ(FormatFixed(999999999.4, 4, 9, '.'), "999999999.0000");
    EXPECT_EQ(FormatFixed(std::nan(""), 4, 9, '.'), "NAN");
    EXPECT_EQ(FormatFixed(-INFINITY, 4, 9, '.'), "-INF");
    // Out-of-range arguments stay inside the text buffer.
    EXPECT_EQ(FormatFixed(1.5, 1000, 1000, '.').size(), 102u);
}

}  // namespace
}  // namespace zelk::text

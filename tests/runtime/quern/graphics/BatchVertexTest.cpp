#include "quern/graphics/BatchVertex.h"

#include <gtest/gtest.h>

#include <cmath>

namespace quern::test {
namespace {

using graphics::colourByte;

TEST(BatchVertex, ColourByteRoundsHalfUp)
{
    struct Case {
        f32 channel;
        u8 byte;
    };
    const Case cases[] = { { 0.0f, 0 }, { 1.0f, 255 }, { 0.5f, 128 }, { 1.0f / 255.0f, 1 }, { 0.25f, 64 } };
    for (const Case& c : cases)
        EXPECT_EQ(colourByte(c.channel), c.byte) << c.channel;
}

// Near every rounding boundary (k - 0.5) / 255 the byte is exactly
// floor(c * 255 + 0.5); single-precision arithmetic rounds some of these up.
TEST(BatchVertex, ColourByteIsExactAtEveryRoundingBoundary)
{
    int wrong = 0;
    for (int k = 1; k <= 255; ++k) {
        f32 c = static_cast<f32>((k - 0.5) / 255.0);
        for (int step = 0; step < 3000; ++step)
            c = std::nextafter(c, 0.0f);
        for (int step = 0; step < 6000; ++step, c = std::nextafter(c, 1.0f)) {
            const int exact = static_cast<int>(std::floor(static_cast<f64>(c) * 255.0 + 0.5));
            if (colourByte(c) != exact)
                ++wrong;
        }
    }
    EXPECT_EQ(wrong, 0);
}

} // namespace
} // namespace quern::test

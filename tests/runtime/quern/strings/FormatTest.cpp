#include "quern/strings/Format.h"

#include <gtest/gtest.h>

#include <cstring>

using quern::strings::format;

TEST(Format, FormatsIntoTheBuffer)
{
    const format<64> text("%s not found (%d).", "bin/assets.db", 2);
    EXPECT_STREQ(text.c_str(), "bin/assets.db not found (2).");
    EXPECT_EQ(text.result(), 28);
}

TEST(Format, CutsToTheBufferAndTerminates)
{
    const format<8> text("%s", "123456789");
    EXPECT_STREQ(text.c_str(), "1234567");
    EXPECT_EQ(text.result(), 9); // the length the whole text would have had
    const format<1> none("%d", 12345);
    EXPECT_STREQ(none.c_str(), "");
}

TEST(Format, PrintReformats)
{
    format<16> text;
    EXPECT_STREQ(text.c_str(), "");
    EXPECT_EQ(text.print("%u-%u", 1u, 2u), 3);
    EXPECT_STREQ(text, "1-2");
    EXPECT_EQ(text.print("%s", "a much longer text"), 18);
    EXPECT_EQ(std::strlen(text.c_str()), 15u);
}

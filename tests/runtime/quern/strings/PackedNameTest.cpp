#include "quern/strings/PackedName.h"

#include <gtest/gtest.h>

#include <cstring>

using quern::u64;

namespace {

constexpr u64 pow37(int n)
{
    u64 value = 1;
    for (int i = 0; i < n; ++i)
        value *= 37;
    return value;
}

} // namespace

TEST(PackedName, PacksBase37FirstCharacterMostSignificant)
{
    struct Case {
        const char* text;
        u64 id;
    };
    const Case cases[] = {
        {"a", 177917621779460413ull},
        {"A", 177917621779460413ull},
        {"", 0},
        {"z9", 26 * pow37(11) + 36 * pow37(10)},
        {"b0", 2 * pow37(11) + 27 * pow37(10)},
        {"aaaaaaaaaaab", [] {
             u64 v = 0;
             for (int i = 0; i < 11; ++i)
                 v = v * 37 + 1;
             return v * 37 + 2;
         }()},
        {"1abc", quern::kInvalidPackedName},
        {"ab-c", quern::kInvalidPackedName},
        {"_a", quern::kInvalidPackedName},
        {"a b", quern::kInvalidPackedName},
    };
    for (const Case& c : cases)
        EXPECT_EQ(quern::packName(c.text), c.id) << '"' << c.text << '"';
}

TEST(PackedName, CharactersAfterTheTwelfthAreNotLookedAt)
{
    EXPECT_EQ(quern::packName("abcdefghijklmnop"), quern::packName("abcdefghijkl"));
    EXPECT_EQ(quern::packName("abcdefghijkl-"), quern::packName("abcdefghijkl"));
}

TEST(PackedName, UnpackGivesLowerCase)
{
    EXPECT_STREQ(quern::unpackName(quern::packName("Level01")).c_str(), "level01");
    EXPECT_STREQ(quern::unpackName(quern::packName("ABCDEFGHIJ89")).c_str(), "abcdefghij89");
    EXPECT_STREQ(quern::unpackName(0).c_str(), "");
}

TEST(PackedName, UnpackToBufferWritesOnlyWhatFits)
{
    const u64 id = quern::packName("shader");
    char small[4];
    std::memset(small, '#', sizeof small);
    quern::unpackNameToBuffer(id, small, 3);
    EXPECT_EQ(std::memcmp(small, "sha#", 4), 0); // no terminator when it does not fit

    char exact[13];
    std::memset(exact, '#', sizeof exact);
    quern::unpackNameToBuffer(id, exact, 12);
    EXPECT_EQ(std::memcmp(exact, "shader\0\0\0\0\0\0#", 13), 0);

    char roomy[20];
    std::memset(roomy, '#', sizeof roomy);
    quern::unpackNameToBuffer(quern::packName("abcdefghijkl"), roomy, sizeof roomy);
    EXPECT_STREQ(roomy, "abcdefghijkl");
    EXPECT_EQ(roomy[13], '#');
}

TEST(PackedName, ValidNames)
{
    struct Case {
        const char* text;
        bool valid;
    };
    const Case cases[] = {
        {"abcdefghijkl", true}, {"abcdefghijklm", false}, {"Vertex0", true}, {"0vertex", false},
        {"a", true},            {"", false},              {"a_b", false},    {"a-b", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(quern::isValidPackedName(c.text), c.valid) << '"' << c.text << '"';
    EXPECT_FALSE(quern::isValidPackedName(nullptr));
}

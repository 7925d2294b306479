#include "quern/settings/BoolWords.h"

#include <gtest/gtest.h>

namespace {

struct BoolCase {
    const char* text;
    bool matches;
    bool value;
};

TEST(BoolWords, MatchesWordsWithoutRegardToCaseOrSurroundingBlanks)
{
    const BoolCase cases[] = {
        {"0", true, false},        {"1", true, true},          {"TRUE", true, true},
        {"False", true, false},    {"y", true, true},          {" Yes\t", true, true},
        {"on", true, true},        {"Enable", true, true},     {"enabled\r\n", true, true},
        {"N", true, false},        {"no", true, false},        {"OFF", true, false},
        {"disable", true, false},  {"\vDISABLED ", true, false},
        {"2", false, false},       {"", false, false},         {"   ", false, false},
        {"yess", false, false},    {"o n", false, false},      {"enabledenabledenabled", false, false},
        {"-1", false, false},      {"tru", false, false},
    };
    for (const BoolCase& c : cases) {
        for (bool initial : {false, true}) {
            bool out = initial;
            EXPECT_EQ(quern::settings::parseBool(c.text, &out), c.matches) << '"' << c.text << '"';
            EXPECT_EQ(out, c.matches ? c.value : initial) << '"' << c.text << '"';
        }
    }
}

TEST(BoolWords, NullTextDoesNotMatch)
{
    bool out = true;
    EXPECT_FALSE(quern::settings::parseBool(nullptr, &out));
    EXPECT_TRUE(out);
}

} // namespace

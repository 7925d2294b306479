#include "quern/strings/String.h"

#include "support/CountingAllocator.h"

#include <gtest/gtest.h>

#include <string>

using quern::i64;
using quern::u64;
using quern::strings::String;

TEST(String, ShortTextsStayInline)
{
    String s;
    EXPECT_STREQ(s.c_str(), "");
    EXPECT_EQ(s.capacity(), 16u);
    s.assign("123456789012345");
    EXPECT_TRUE(s.isInline());
    EXPECT_EQ(s.length(), 15u);
    s.assign("1234567890123456");
    EXPECT_FALSE(s.isInline());
    EXPECT_EQ(s.capacity(), 17u);
    EXPECT_STREQ(s.c_str(), "1234567890123456");
}

TEST(String, AssignEmptyLeavesAnEmptyTerminatedString)
{
    String s("a text long enough for the heap");
    s.assign("");
    EXPECT_EQ(s.length(), 0u);
    EXPECT_EQ(s.c_str()[0], '\0');
    s.assign(nullptr);
    EXPECT_EQ(s.length(), 0u);
}

TEST(String, AssignFromItsOwnText)
{
    String s("path/to/some/file.txt");
    s.assign(s.c_str() + 8);
    EXPECT_STREQ(s.c_str(), "some/file.txt");
}

TEST(String, HeapBlocksComeFromTheStringsAllocator)
{
    quern::testing::CountingAllocator allocator;
    {
        String s(&allocator);
        s.assign("short");
        EXPECT_EQ(allocator.allocations, 0);
        s.append(" and now long enough");
        EXPECT_EQ(allocator.live, 1);
        String copy(s);
        EXPECT_EQ(copy.allocator(), &allocator);
        EXPECT_EQ(allocator.live, 2);
        String moved(std::move(copy));
        EXPECT_EQ(allocator.live, 2);
        EXPECT_STREQ(moved.c_str(), "short and now long enough");
        EXPECT_STREQ(copy.c_str(), "");
    }
    EXPECT_EQ(allocator.live, 0);
}

TEST(String, NullAllocatorBecomesTheDefaultAtFirstGrowth)
{
    String s;
    EXPECT_EQ(s.allocator(), nullptr);
    s.assign("more than fifteen bytes of text");
    EXPECT_NE(s.allocator(), nullptr);
}

TEST(String, CopiesAndMovesAreIndependent)
{
    for (const char* text : {"inline", "a text that lives on the heap"}) {
        String a(text);
        String b(a);
        b.append("!");
        EXPECT_STREQ(a.c_str(), text);
        EXPECT_EQ(b.c_str(), std::string(text) + "!");
        String c(std::move(b));
        EXPECT_EQ(c.c_str(), std::string(text) + "!");
        c.append("?");
        a = c;
        EXPECT_EQ(a.c_str(), std::string(text) + "!?");
        a = std::move(c);
        EXPECT_EQ(a.c_str(), std::string(text) + "!?");
        if (a.isInline()) {
            EXPECT_EQ(a.c_str(), reinterpret_cast<const char*>(&a) + (sizeof(String) - 16));
        }
    }
}

TEST(String, AppendGrowsToExactlyWhatIsNeeded)
{
    String s("abc");
    s.append("defghijklmnopqrstuvwxyz", nullptr);
    EXPECT_STREQ(s.c_str(), "abcdefghijklmnopqrstuvwxyz");
    EXPECT_EQ(s.capacity(), 27u);
    const char range[] = "0123456789";
    s.append(range + 2, range + 5);
    EXPECT_STREQ(s.c_str(), "abcdefghijklmnopqrstuvwxyz234");
    s.append(range, range); // empty range: nothing
    EXPECT_EQ(s.length(), 29u);
}

TEST(String, AppendOfItsOwnTextSurvivesGrowth)
{
    String s("0123456789abcdef-longer-than-inline");
    const std::string before = s.c_str();
    s.append(s.c_str(), s.c_str() + s.length());
    EXPECT_EQ(s.c_str(), before + before);
}

TEST(String, EraseRemovesOnlyWhatExists)
{
    struct Case {
        u64 position;
        u64 count;
        const char* expected;
    };
    const Case cases[] = {
        {0, 2, "cdef"}, {2, 2, "abef"}, {4, 100, "abcd"}, {0, 6, ""}, {6, 1, "abcdef"}, {50, 1, "abcdef"}, {3, 0, "abcdef"},
    };
    for (const Case& c : cases) {
        String s("abcdef");
        s.erase(c.position, c.count);
        EXPECT_STREQ(s.c_str(), c.expected) << c.position << ", " << c.count;
        EXPECT_EQ(s.length(), std::string(c.expected).size());
    }
}

TEST(String, FindFirstOf)
{
    struct Case {
        const char* text;
        const char* set;
        i64 expected;
    };
    const Case cases[] = {
        {"path/to\\file", "/\\", 4}, {"file", "/\\", -1}, {"", "/", -1}, {"abc", "", -1}, {"abc", "cba", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(String(c.text).findFirstOf(String(c.set)), c.expected) << c.text << " in " << c.set;
}

TEST(String, FindLastOf)
{
    const String s("a/b/c");
    EXPECT_EQ(s.findLastOf('/', 100), 3);  // beyond the end searches from the last byte
    EXPECT_EQ(s.findLastOf('/', 3), 3);
    EXPECT_EQ(s.findLastOf('/', 2), 1);
    EXPECT_EQ(s.findLastOf('/', 0), -1);
    EXPECT_EQ(s.findLastOf('a', 0), 0);
    EXPECT_EQ(String().findLastOf('a', 5), -1);
}

TEST(CompareNoCase, OrdersCaseInsensitively)
{
    using quern::strings::compareNoCase;
    EXPECT_EQ(compareNoCase("Audio", "audio"), 0);
    EXPECT_EQ(compareNoCase("SETTINGS", "settings"), 0);
    EXPECT_LT(compareNoCase("audio", "audioEnabled"), 0); // a prefix sorts first
    EXPECT_GT(compareNoCase("audioEnabled", "AUDIO"), 0);
    EXPECT_EQ(compareNoCase("b", "a"), 1);
    EXPECT_EQ(compareNoCase("", ""), 0);
    EXPECT_EQ(compareNoCase("\xC3\xA9t\xC3\xA9", "\xC3\xA9T\xC3\xA9"), 0);
    EXPECT_EQ(compareNoCase("\xE2\x82\xAC", "\xE2\x82\xAD"), -1); // whole code points compare
    EXPECT_LT(compareNoCase("z", "\xC3\xA9"), 0);
}

TEST(CompareNoCase, MalformedTextDoesNotReadPastItsEnd)
{
    using quern::strings::compareNoCase;
    EXPECT_EQ(compareNoCase("a\xC0xyz", "A\xC0xyz"), 0);
    EXPECT_NE(compareNoCase("a\xC0xyz", "a\xC0xyw"), 0);
    EXPECT_GT(compareNoCase("ab\xE2", "ab"), 0); // a sequence cut off by the end
}

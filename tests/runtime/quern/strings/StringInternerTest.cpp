#include "quern/strings/StringInterner.h"

#include "support/CountingAllocator.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

using quern::u64;
using quern::strings::StringInterner;

TEST(StringInterner, SameTextGivesTheSamePointerAndOneEntry)
{
    StringInterner interner;
    EXPECT_EQ(interner.seed(), 0x2f0101b0d9b73936ull);
    const char* first = interner.intern("player", 6, 42);
    const char* second = interner.intern("player", 6, 42);
    EXPECT_EQ(first, second);
    EXPECT_EQ(interner.count(), 1u);
    EXPECT_STREQ(first, "player");
}

TEST(StringInterner, StoresATerminatedAlignedCopy)
{
    StringInterner interner;
    char source[] = "camera-shake";
    const char* stored = interner.intern(source, 6, 7); // "camera", not terminated at 6 in the source
    std::memset(source, 'x', sizeof source - 1);
    EXPECT_STREQ(stored, "camera");
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(stored) % 4, 0u);
}

TEST(StringInterner, KeysAloneIdentifyTexts)
{
    StringInterner interner;
    const char* a = interner.intern("first", 5, 99);
    const char* b = interner.intern("second", 6, 99);
    EXPECT_EQ(a, b);
    EXPECT_STREQ(b, "first");
    EXPECT_EQ(interner.count(), 1u);
}

TEST(StringInterner, InternIndexHashesWithTheSeed)
{
    StringInterner interner;
    EXPECT_EQ(interner.internIndex("alpha", 5), 0);
    EXPECT_EQ(interner.internIndex("beta", 4), 1);
    EXPECT_EQ(interner.internIndex("alpha", 5), 0);
    EXPECT_EQ(interner.count(), 2u);
    const u64 key = quern::strings::murmurHash64A("beta", 4, quern::strings::kInternerSeed);
    EXPECT_EQ(interner.key(1), key);
    EXPECT_EQ(interner.find(key), 1);
    EXPECT_STREQ(interner.text(1), "beta");
    EXPECT_EQ(interner.find(12345), -1);
}

TEST(StringInterner, ClearFreesEveryText)
{
    StringInterner interner;
    for (int i = 0; i < 100; ++i) {
        const std::string text = "name" + std::to_string(i);
        interner.internIndex(text.data(), text.size());
    }
    EXPECT_EQ(interner.count(), 100u);
    interner.clear();
    EXPECT_EQ(interner.count(), 0u);
    EXPECT_EQ(interner.internIndex("again", 5), 0);
}

TEST(StringInterner, CreateAndDestroyUseTheGivenAllocator)
{
    quern::testing::CountingAllocator allocator;
    StringInterner* interner = StringInterner::create(&allocator);
    ASSERT_NE(interner, nullptr);
    EXPECT_EQ(allocator.live, 1);
    interner->internIndex("a", 1);
    StringInterner::destroy(&allocator, interner);
    EXPECT_EQ(allocator.live, 0);
    StringInterner::destroy(&allocator, nullptr);
}

#include "harmonize/hud/OverlayStringPool.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace harmonize {
namespace {

TEST(OverlayStringPool, OneCopyPerTextCountedUntilItsLastRelease)
{
    OverlayStringPool pool;
    char buffer[16] = "3 / 12";
    const char* first = pool.acquire(buffer);
    std::snprintf(buffer, sizeof buffer, "%s", "overwritten");
    const char* second = pool.acquire("3 / 12");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    EXPECT_STREQ(first, "3 / 12"); // the pool's own copy, not the caller's buffer
    EXPECT_EQ(pool.useCount("3 / 12"), 2u);
    EXPECT_EQ(pool.liveCount(), 1u);

    pool.release("3 / 12");
    EXPECT_EQ(pool.useCount("3 / 12"), 1u);
    pool.release(first);
    EXPECT_EQ(pool.useCount("3 / 12"), 0u);
    EXPECT_EQ(pool.liveCount(), 0u);
}

TEST(OverlayStringPool, NullAndUnknownTextsChangeNothing)
{
    OverlayStringPool pool;
    EXPECT_EQ(pool.acquire(nullptr), nullptr);
    pool.release(nullptr);
    pool.release("never acquired");
    pool.acquire("kept");
    pool.release("never acquired");
    pool.release(nullptr);
    EXPECT_EQ(pool.useCount("kept"), 1u);
    EXPECT_EQ(pool.liveCount(), 1u);
    EXPECT_EQ(pool.slotCount(), 1u);
}

// A counter redrawn every frame: each frame acquires the new text and the
// overlay releases the one drawn the frame before. The freed slots are taken
// again, so the pool stays the size of two frames' texts.
TEST(OverlayStringPool, TextsThatChangeEveryFrameKeepThePoolFlat)
{
    OverlayStringPool pool;
    std::vector<std::string> previous;
    for (int frame = 0; frame < 10'000; ++frame) {
        std::vector<std::string> texts;
        for (int line = 0; line < 4; ++line)
            texts.push_back(std::to_string(frame) + " / " + std::to_string(line));
        for (const std::string& text : texts)
            pool.acquire(text.c_str());
        for (const std::string& text : previous)
            pool.release(text.c_str());
        previous = texts;
    }
    EXPECT_EQ(pool.liveCount(), 4u);
    EXPECT_LE(pool.slotCount(), 8u);
}

// Acquires and releases in a scrambled order against a map keeping the same
// counts: every count matches after each step, so removals never lose a text
// that probed past the removed one.
TEST(OverlayStringPool, CountsMatchAPlainMapThroughScrambledUse)
{
    OverlayStringPool pool;
    std::map<std::string, unsigned> expected;
    std::mt19937 random(7);
    std::uniform_int_distribution<int> pick(0, 599);
    for (int step = 0; step < 20'000; ++step) {
        const std::string text = "label " + std::to_string(pick(random));
        if (random() % 3 != 0) {
            const char* copy = pool.acquire(text.c_str());
            ASSERT_STREQ(copy, text.c_str());
            ++expected[text];
        } else {
            pool.release(text.c_str());
            if (auto found = expected.find(text); found != expected.end() && --found->second == 0)
                expected.erase(found);
        }
        if (step % 997 == 0)
            for (int i = 0; i < 600; ++i) {
                const std::string probe = "label " + std::to_string(i);
                const auto found = expected.find(probe);
                ASSERT_EQ(pool.useCount(probe.c_str()), found == expected.end() ? 0u : found->second) << probe;
            }
    }
    EXPECT_EQ(pool.liveCount(), expected.size());
    EXPECT_LE(pool.slotCount(), 600u);
}

TEST(OverlayStringPool, DestroyFreesEverythingAndThePoolStartsAgain)
{
    OverlayStringPool pool;
    for (int i = 0; i < 100; ++i)
        pool.acquire(std::to_string(i).c_str());
    pool.destroy();
    EXPECT_EQ(pool.slotCount(), 0u);
    EXPECT_EQ(pool.useCount("5"), 0u);
    EXPECT_STREQ(pool.acquire("again"), "again");
    EXPECT_EQ(pool.liveCount(), 1u);
}

} // namespace
} // namespace harmonize

#include "quern/assets/CacheKeyIndex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <vector>

namespace quern::assets {
namespace {

// The index against the ordered map it shadows, through growth and through
// erasures that punch holes into probe runs (small counters and keys that
// differ only in high bits crowd the same home slots).
TEST(CacheKeyIndex, FindsEveryLiveKeyThroughGrowthAndErasures)
{
    std::map<u64, CacheEntry> entries;
    CacheKeyIndex index;
    std::vector<u64> keys;
    for (u64 k = 0; k < 300; ++k)
        keys.push_back(k);
    for (u64 k = 1; k <= 100; ++k)
        keys.push_back(k << 40);
    keys.push_back(~u64 { 0 });
    for (u64 key : keys) {
        auto [it, added] = entries.try_emplace(key, CacheEntry { key, 0, nullptr, 0 });
        ASSERT_TRUE(added);
        index.add(&it->second);
    }
    std::mt19937 random(44);
    std::vector<u64> order = keys;
    std::shuffle(order.begin(), order.end(), random);
    for (u64 round = 0; round < order.size(); ++round) {
        const u64 gone = order[round];
        index.erase(gone);
        entries.erase(gone);
        index.erase(gone); // a second erase of a missing key changes nothing
        if (round % 37 != 0)
            continue;
        for (u64 key : keys) {
            auto it = entries.find(key);
            EXPECT_EQ(index.find(key), it == entries.end() ? nullptr : &it->second) << "key " << key;
        }
    }
    for (u64 key : keys)
        EXPECT_EQ(index.find(key), nullptr);
    // Empty again: new keys go in and come out.
    auto [it, added] = entries.try_emplace(7, CacheEntry { 7, 0, nullptr, 0 });
    index.add(&it->second);
    EXPECT_EQ(index.find(7), &it->second);
    index.clear();
    EXPECT_EQ(index.find(7), nullptr);
}

} // namespace
} // namespace quern::assets

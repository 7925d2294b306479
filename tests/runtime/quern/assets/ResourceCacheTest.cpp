#include "quern/assets/DefaultResourceCache.h"

#include "ResourceTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

namespace {

using quern::Ref;
using quern::u32;
using quern::u64;
using quern::assets::CacheEntry;
using quern::assets::DefaultResourceCache;
using quern::assets::ResourceCache;
using quern::assets::ResourceEntry;
using quern::assets::resourceKey;
using quern::assets::resourceTypeName;
namespace ResourceType = quern::assets::ResourceType;
using quern::test::cachedResource;
using quern::test::cacheResource;
using quern::test::CountingResource;
using quern::test::ResourceCounters;

constexpr u64 kTexture = ResourceType::Texture;

// An allocator that has no memory to give.
class EmptyAllocator : public quern::memory::Allocator {
public:
    void* allocate(u64, u64) override { return nullptr; }
    void free(void*) override {}
    void* tryResize(void*, u64) override { return nullptr; }
};

TEST(ResourceCache, TypeNamesComeFromTheTable)
{
    const struct {
        u64 typeId;
        const char* name;
    } cases[] = {
        {0x03e0cf078f23150bull, "AudioLibrary"},     {0x03e0cf0becdae3b6ull, "AudioStream"},
        {0x0fd782389c07b29full, "Font"},             {0x1b8a0919c2dc674dull, "KeyframeAnimation"},
        {0x20338faac60a9e37ull, "Material"},         {0x207777010fd8f91dull, "Mesh"},
        {0x2f72e60fbf21825full, "ShaderProgram"},    {0x30037bbefc915d98ull, "SpriteAnimation"},
        {0x31c29021f71f2f49ull, "Texture"},          {0x36eda775c7d9f67bull, "Video"},
        {0x31c29021f74b7de2ull, "<Unknown ResourceType>"}, {0, "<Unknown ResourceType>"},
    };
    for (const auto& test : cases)
        EXPECT_STREQ(resourceTypeName(test.typeId), test.name) << std::hex << test.typeId;
}

TEST(ResourceCache, KeysCombineAssetTypeAndSubIndex)
{
    EXPECT_EQ(resourceKey(0x1234, kTexture), 0x1234 ^ kTexture);
    EXPECT_EQ(resourceKey(0x1234, kTexture, 3), 0x1234 ^ kTexture ^ 3);
}

TEST(ResourceCache, AcquireGivesDistinctHandlesThatEachCount)
{
    DefaultResourceCache cache;
    const u32 inserted = cacheResource(cache, 7, kTexture, nullptr, 42);
    ASSERT_NE(inserted, 0u);
    CacheEntry* entry = cache.find(7);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->handleCount, 1);

    const u32 a = cache.acquire(7);
    const u32 b = cache.acquire(7);
    EXPECT_NE(a, 0u);
    EXPECT_NE(a, b);
    EXPECT_NE(a, inserted);
    EXPECT_EQ(entry->handleCount, 3);

    u64 type = 0;
    EXPECT_EQ(cache.entry(a, type), entry->resource);
    EXPECT_EQ(type, kTexture);
    EXPECT_EQ(cachedResource(cache, b)->value(), 42u);

    cache.release(inserted);
    cache.release(a);
    EXPECT_EQ(entry->handleCount, 1);
    cache.release(b);
    EXPECT_EQ(entry->handleCount, 0);
    EXPECT_EQ(cache.handlesInUse(), 0u);
}

TEST(ResourceCache, UnknownKeysAndStaleHandlesAreHarmless)
{
    DefaultResourceCache cache;
    EXPECT_EQ(cache.acquire(99), 0u);
    EXPECT_EQ(cache.find(99), nullptr);

    const u32 handle = cacheResource(cache, 5, kTexture);
    const u32 extra = cache.acquire(5);
    cache.release(handle);
    cache.release(handle); // stale: must not count down the other handle
    cache.release(0);
    cache.release(0xdeadbeef);
    EXPECT_EQ(cache.find(5)->handleCount, 1);
    u64 type = 1;
    EXPECT_EQ(cache.entry(handle, type), nullptr);
    EXPECT_EQ(type, 0u);
    cache.release(extra);
    EXPECT_EQ(cache.find(5)->handleCount, 0);
}

TEST(ResourceCache, InsertOfACachedKeyKeepsTheEntryAndCountsTheHandle)
{
    DefaultResourceCache cache;
    const u32 first = cacheResource(cache, 5, kTexture, nullptr, 1);
    CountingResource outsider;
    const u32 second = cache.insert(5, kTexture, &outsider);
    EXPECT_EQ(cache.count(), 1u);
    EXPECT_EQ(cachedResource(cache, second)->value(), 1u);
    EXPECT_EQ(cache.find(5)->handleCount, 2);
    cache.release(first);
    cache.release(second);
    EXPECT_EQ(cache.find(5)->handleCount, 0);
}

TEST(ResourceCache, AllocateAndInsertFailsWithoutMemoryOrForACachedKey)
{
    EmptyAllocator empty;
    DefaultResourceCache starved(&empty);
    EXPECT_EQ(starved.allocateAndInsert(1, kTexture, 64, 8), 0u);
    EXPECT_EQ(starved.count(), 0u);
    bool created = true;
    EXPECT_EQ(starved.acquireOrCreate(1, kTexture, 64, 8, created), 0u);
    EXPECT_FALSE(created);

    DefaultResourceCache cache;
    const u32 handle = cacheResource(cache, 1, kTexture);
    EXPECT_EQ(cache.allocateAndInsert(1, kTexture, 64, 8), 0u);
    EXPECT_EQ(cache.find(1)->handleCount, 1);
    cache.release(handle);
}

TEST(ResourceCache, ReleaseByKeyRefusesWhatIsStillInUse)
{
    ResourceCounters counters;
    DefaultResourceCache cache;
    const u32 withHandle = cacheResource(cache, 1, kTexture, &counters);
    cache.release(cacheResource(cache, 2, ResourceType::Font, &counters));
    cache.release(cacheResource(cache, 3, kTexture, &counters));
    cache.release(cacheResource(cache, 4, kTexture, &counters));
    Ref holder(static_cast<CountingResource*>(cache.find(3)->resource)); // someone else keeps the object

    EXPECT_FALSE(cache.releaseByKey(1)) << "a handle is outstanding";
    EXPECT_FALSE(cache.releaseByKey(2)) << "fonts are never released by key";
    EXPECT_FALSE(cache.releaseByKey(3)) << "another holder references it";
    EXPECT_FALSE(cache.releaseByKey(77)) << "not cached";
    EXPECT_EQ(counters.destroyed, 0);

    EXPECT_TRUE(cache.releaseByKey(4));
    EXPECT_EQ(counters.destroyed, 1);
    EXPECT_EQ(cache.find(4), nullptr);

    holder.drop(); // back to the cache's reference only
    EXPECT_TRUE(cache.releaseByKey(3));
    cache.release(withHandle);
    EXPECT_TRUE(cache.releaseByKey(1));
    EXPECT_EQ(counters.destroyed, 3);
    EXPECT_EQ(cache.count(), 1u);
}

TEST(ResourceCache, PurgeKeepsReferencedResourcesAndRemovesTheRest)
{
    ResourceCounters counters;
    DefaultResourceCache cache;
    const u32 handle = cacheResource(cache, 1, kTexture, &counters);
    cache.release(cacheResource(cache, 2, kTexture, &counters));
    cache.release(cacheResource(cache, 3, ResourceType::Font, &counters));
    cache.release(cacheResource(cache, 4, kTexture, &counters));
    Ref holder(static_cast<CountingResource*>(cache.find(4)->resource));

    cache.purgeUnreferenced();
    EXPECT_EQ(counters.destroyed, 2); // 2 and the font
    EXPECT_NE(cache.find(1), nullptr);
    EXPECT_EQ(cache.find(2), nullptr);
    EXPECT_EQ(cache.find(3), nullptr);
    EXPECT_NE(cache.find(4), nullptr);
    cache.release(handle);
    holder.drop();
}

TEST(ResourceCache, ClearDestroysEverythingWhateverItsCounts)
{
    ResourceCounters counters;
    {
        DefaultResourceCache cache;
        const u32 handle = cacheResource(cache, 1, kTexture, &counters);
        cacheResource(cache, 2, kTexture, &counters);
        cache.clear();
        EXPECT_EQ(counters.destroyed, 2);
        EXPECT_EQ(cache.count(), 0u);
        EXPECT_EQ(cache.handlesInUse(), 0u);
        u64 type = 0;
        EXPECT_EQ(cache.entry(handle, type), nullptr);

        cacheResource(cache, 3, kTexture, &counters); // the cache is usable again
    }
    EXPECT_EQ(counters.destroyed, 3); // the destructor clears
}

TEST(ResourceCache, EnumerateWalksEveryResourceOfATypeOnceInBatches)
{
    DefaultResourceCache cache;
    std::set<void*> expected;
    for (u64 i = 0; i < 600; ++i) {
        cache.release(cacheResource(cache, i * 2 + 1, kTexture));
        expected.insert(cache.find(i * 2 + 1)->resource);
        cache.release(cacheResource(cache, i * 2 + 2, ResourceType::Mesh));
    }

    std::vector<u64> batches;
    std::set<void*> seen;
    u64 cursor = 0;
    void* out[256];
    for (;;) {
        const u64 n = cache.enumerate(kTexture, cursor, out, 256);
        batches.push_back(n);
        if (n == 0)
            break;
        for (u64 i = 0; i < n; ++i)
            EXPECT_TRUE(seen.insert(out[i]).second) << "returned twice";
    }
    EXPECT_EQ(batches, (std::vector<u64>{256, 256, 88, 0}));
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(cache.enumerate(kTexture, cursor, out, 256), 0u); // stays at the end
}

TEST(ResourceCache, ProvidersAreFoundByNameAndByTheirEntryNames)
{
    ResourceCounters counters;
    DefaultResourceCache cache;
    CountingResource* first = new CountingResource(&counters);
    first->setEntry(Ref(new ResourceEntry("lighting", "shaders/lighting.txt", 0)));
    CountingResource* second = new CountingResource(&counters);
    Ref keep(second);

    cache.addProvider("main", first);
    cache.addProvider("main", first); // listed once
    cache.addProvider("other", second);
    cache.addProvider("lighting", second); // the entry name is taken already: kept
    EXPECT_EQ(cache.findProvider("main"), first);
    EXPECT_EQ(cache.findProvider("shaders/lighting.txt"), first);
    EXPECT_EQ(cache.findProvider("lighting"), second) << "an explicit name replaces the mapping";
    EXPECT_EQ(cache.findProvider("missing"), nullptr);

    quern::containers::Array list(sizeof(void*), alignof(void*));
    cache.listProviders(list);
    ASSERT_EQ(list.count(), 2u);
    EXPECT_EQ(list.at<void*>(0), first);
    EXPECT_EQ(list.at<void*>(1), second);

    EXPECT_TRUE(cache.removeProvider(first));
    EXPECT_EQ(counters.destroyed, 1) << "the cache held the only reference";
    EXPECT_EQ(cache.findProvider("main"), nullptr);
    EXPECT_EQ(cache.findProvider("shaders/lighting.txt"), nullptr);
    EXPECT_FALSE(cache.removeProvider(first));

    cache.clear();
    EXPECT_EQ(cache.findProvider("other"), nullptr);
    EXPECT_EQ(second->refCount(), 1) << "clear released the cache's reference";
}

TEST(ResourceCache, CacheStackNamesTheCurrentCache)
{
    EXPECT_EQ(ResourceCache::current(), nullptr);
    DefaultResourceCache first;
    DefaultResourceCache second;
    quern::containers::Array& stack = ResourceCache::cacheStack();
    stack.append<ResourceCache*>(&first);
    stack.append<ResourceCache*>(&second);
    EXPECT_EQ(ResourceCache::current(), &second);
    stack.removeValue(static_cast<ResourceCache*>(&second));
    EXPECT_EQ(ResourceCache::current(), &first);
    stack.removeValue(static_cast<ResourceCache*>(&first));
    EXPECT_EQ(ResourceCache::current(), nullptr);
}

struct BuildContext {
    std::atomic<int>* constructions;
    u64 value;
};

void buildCounting(void* memory, void* context)
{
    BuildContext* build = static_cast<BuildContext*>(context);
    build->constructions->fetch_add(1);
    quern::RefCounted::retain(new (memory) CountingResource(nullptr, build->value));
}

TEST(ResourceCache, LoadersRacingForOneKeyShareOneResource)
{
    constexpr int kThreads = 8;
    constexpr u64 kKeys = 64;
    DefaultResourceCache cache;
    std::atomic<int> constructions{0};
    std::vector<std::vector<u32>> handles(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (u64 key = 1; key <= kKeys; ++key) {
                BuildContext build{&constructions, key};
                bool created = false;
                const u32 handle = cache.acquireOrCreate(key, kTexture, sizeof(CountingResource),
                                                         alignof(CountingResource), created, buildCounting, &build);
                EXPECT_EQ(cachedResource(cache, handle)->value(), key);
                handles[t].push_back(handle);
            }
        });
    for (std::thread& thread : threads)
        thread.join();

    EXPECT_EQ(constructions.load(), static_cast<int>(kKeys));
    EXPECT_EQ(cache.count(), kKeys);
    for (u64 key = 1; key <= kKeys; ++key) {
        EXPECT_EQ(cache.find(key)->handleCount, kThreads);
        EXPECT_EQ(static_cast<CountingResource*>(cache.find(key)->resource)->refCount(), 1);
    }
    for (const auto& list : handles)
        for (u32 handle : list)
            cache.release(handle);
    for (u64 key = 1; key <= kKeys; ++key)
        EXPECT_EQ(cache.find(key)->handleCount, 0);
    cache.purgeUnreferenced();
    EXPECT_EQ(cache.count(), 0u);
}

TEST(ResourceCache, AcquireAndReleaseFromManyThreadsKeepCountsExact)
{
    DefaultResourceCache cache;
    for (u64 key = 1; key <= 16; ++key)
        cache.release(cacheResource(cache, key, kTexture));
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&cache, t] {
            for (int i = 0; i < 5000; ++i) {
                const u64 key = static_cast<u64>((i + t) % 16) + 1;
                const u32 handle = cache.acquire(key);
                EXPECT_NE(handle, 0u);
                cache.release(handle);
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    for (u64 key = 1; key <= 16; ++key)
        EXPECT_EQ(cache.find(key)->handleCount, 0);
    EXPECT_EQ(cache.handlesInUse(), 0u);
}

void exhaustHandles(bool throughInsert)
{
    DefaultResourceCache cache;
    cacheResource(cache, 1, kTexture);
    for (u64 i = 1; i < ResourceCache::kMaxHandles; ++i)
        cache.acquire(1);
    if (throughInsert) {
        CountingResource extra;
        cache.insert(2, kTexture, &extra);
    } else {
        cache.acquire(1);
    }
}

TEST(ResourceCacheDeathTest, RunningOutOfHandlesIsFatalOnEveryPath)
{
    EXPECT_DEATH(exhaustHandles(false), "Out of resource handles");
    EXPECT_DEATH(exhaustHandles(true), "Out of resource handles");
}

} // namespace

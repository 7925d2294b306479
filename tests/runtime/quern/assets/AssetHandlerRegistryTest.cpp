#include "quern/assets/AssetHandlerRegistry.h"

#include "AssetLoadingTestSupport.h"
#include "support/ExactAlignmentAllocator.h"
#include "support/ExactAlignmentLoading.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>

namespace {

using quern::u32;
using quern::u64;
using quern::assets::AssetHandlerRegistry;
using quern::assets::loadAsset;
using quern::assets::resourceKey;
using quern::test::assetId;
using quern::test::CountingResource;
using quern::test::HandlerSetup;
using quern::test::kTestType;
using quern::test::LoadingFixture;
namespace ResourceType = quern::assets::ResourceType;

using AssetLoading = LoadingFixture;

TEST_F(AssetLoading, FindHandlerTakesTheFirstNativeHandlerOfTheType)
{
    addHandler({ .name = "other", .typeId = ResourceType::Mesh });
    addHandler({ .name = "foreign", .typeId = kTestType, .format = "dds" });
    auto* first = addHandler({ .name = "first" });
    addHandler({ .name = "second" });
    EXPECT_EQ(registry.findHandler(kTestType), first);
    EXPECT_EQ(registry.findHandler(ResourceType::Texture), nullptr);
    EXPECT_EQ(registry.findHandler(0x1234), nullptr);
    EXPECT_EQ(registry.count(), 4u);
}

TEST_F(AssetLoading, LoadRunsEveryStageInOrderAndClosesTheEntry)
{
    buildDepot({ { "rock", "rock bytes" } });
    addHandler({ .name = "first", .scratchBytes = 24 });
    addHandler({ .name = "second" });

    const u64 key = loadAsset(assetId("rock"), kTestType, *depot, cache);
    EXPECT_EQ(key, resourceKey(assetId("rock"), kTestType));
    EXPECT_EQ(log.stages,
        (std::vector<std::string> { "first:prepare", "first:preload", "first:load", "first:finalize", "first:link" }));
    EXPECT_EQ(log.loadedBytes, std::vector<std::string> { "rock bytes" });
    EXPECT_TRUE(log.scratchWasZero);
    EXPECT_EQ(depot->openCount(), 0u);

    // The loader gave its handle back: the cache alone keeps the resource.
    ASSERT_NE(cache.find(key), nullptr);
    EXPECT_EQ(cache.find(key)->handleCount, 0);
    EXPECT_EQ(static_cast<CountingResource*>(cache.find(key)->resource)->refCount(), 1);
}

TEST_F(AssetLoading, ScratchIsZeroedForEveryLoad)
{
    buildDepot({ { "a", "1" }, { "b", "2" } });
    addHandler({ .scratchBytes = 64 });
    loadAsset(assetId("a"), kTestType, *depot, cache);
    loadAsset(assetId("b"), kTestType, *depot, cache);
    EXPECT_EQ(log.loads, 2);
    EXPECT_TRUE(log.scratchWasZero);
}

// Handlers keep pointers and 64-bit fields in their scratch memory; an
// allocator that gives no more alignment than it is asked for shows whether
// the loader asks for enough.
TEST_F(AssetLoading, ScratchIsAlignedForPointersAndSixtyFourBitFields)
{
    buildDepot({ { "a", "1" } });
    addHandler({ .scratchBytes = 24 });
    quern::testing::ExactAlignmentAllocator exact;
    EXPECT_EQ(quern::testing::loadAssetFrom(exact, assetId("a"), kTestType, *depot, cache),
        resourceKey(assetId("a"), kTestType));
    ASSERT_EQ(log.scratchBlocks.size(), 1u);
    const auto address = reinterpret_cast<std::uintptr_t>(log.scratchBlocks[0]);
    EXPECT_EQ(address % alignof(quern::u64), 0u);
    EXPECT_EQ(address % quern::assets::DefaultAssetLoaderContext::kScratchAlignment, 0u);
    EXPECT_TRUE(log.scratchWasZero);
    EXPECT_EQ(exact.live, 0); // the scratch went back to where it came from
}

TEST_F(AssetLoading, LoadReturnsTheKeyOfTheFirstResourceCreated)
{
    buildDepot({ { "atlas", "pages" } });
    addHandler({ .subIndices = { 1, 0 } });
    const u64 key = loadAsset(assetId("atlas"), kTestType, *depot, cache);
    EXPECT_EQ(key, resourceKey(assetId("atlas"), kTestType, 1));
    EXPECT_EQ(cache.count(), 2u);
    EXPECT_EQ(cache.find(key)->handleCount, 0);
    // The second resource's handle belongs to the handler.
    EXPECT_EQ(cache.find(resourceKey(assetId("atlas"), kTestType, 0))->handleCount, 1);
}

TEST_F(AssetLoading, AHandlerThatMakesNothingGivesKeyZero)
{
    buildDepot({ { "empty", "" } });
    addHandler({ .subIndices = {} });
    EXPECT_EQ(loadAsset(assetId("empty"), kTestType, *depot, cache), 0u);
    EXPECT_EQ(log.loadedBytes, std::vector<std::string> { "" });
}

TEST_F(AssetLoading, LoadersOnManyThreadsShareOneResourcePerKey)
{
    buildDepot({ { "shared", "shared bytes" } });
    addHandler();
    std::vector<u64> keys(8);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < keys.size(); ++t)
        threads.emplace_back([&, t] { keys[t] = loadAsset(assetId("shared"), kTestType, *depot, cache); });
    for (std::thread& thread : threads)
        thread.join();

    const u64 key = resourceKey(assetId("shared"), kTestType);
    for (u64 k : keys)
        EXPECT_EQ(k, key);
    EXPECT_EQ(log.loads, 8);
    EXPECT_EQ(log.created, 1);
    EXPECT_EQ(cache.count(), 1u);
    EXPECT_EQ(cache.find(key)->handleCount, 0);
    EXPECT_EQ(static_cast<CountingResource*>(cache.find(key)->resource)->refCount(), 1);
}

TEST_F(AssetLoading, RegistryDestroysItsHandlers)
{
    struct Counted : quern::assets::AssetHandler {
        explicit Counted(int& destroyed)
            : destroyed(destroyed)
        {
        }
        ~Counted() override { ++destroyed; }
        void load(quern::ByteSource&, quern::assets::AssetLoaderContext&) override { }
        void describe(quern::assets::AssetHandlerInfo&) override { }
        int& destroyed;
    };
    int destroyed = 0;
    {
        AssetHandlerRegistry local;
        local.create<Counted>(destroyed);
        local.create<Counted>(destroyed);
    }
    EXPECT_EQ(destroyed, 2);
}

using AssetLoadingDeathTest = LoadingFixture;

TEST_F(AssetLoadingDeathTest, AnUnregisteredTypeIsFatalAndNamed)
{
    addHandler();
    buildDepot({ { "rock", "x" } });
    EXPECT_DEATH(loadAsset(assetId("rock"), ResourceType::Texture, *depot, cache),
        "No asset handler for type Texture \\(0x31c29021f71f2f49\\)");
    EXPECT_DEATH(loadAsset(assetId("rock"), 0x1234, *depot, cache),
        "No asset handler for type <Unknown ResourceType> \\(0x0000000000001234\\)");
}

TEST(AssetLoadingWithoutRegistryDeathTest, LoadingBeforeTheRegistryExistsIsFatal)
{
    quern::assets::DefaultResourceCache cache;
    quern::assets::BlobDepot depot;
    EXPECT_DEATH(loadAsset(1, kTestType, depot, cache), "No asset handler registry installed");
}

} // namespace

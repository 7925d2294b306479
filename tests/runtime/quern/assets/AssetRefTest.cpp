#include "quern/assets/AssetRef.h"

#include "AssetLoadingTestSupport.h"

#include <gtest/gtest.h>

namespace {

using quern::u32;
using quern::u64;
using quern::assets::AssetRef;
using quern::assets::resourceKey;
using quern::test::assetId;
using quern::test::cachedResource;
using quern::test::cacheResource;
using quern::test::kTestType;
using quern::test::LoadingFixture;

using AssetRefResolve = LoadingFixture;

TEST_F(AssetRefResolve, ACachedAssetIsNotLoadedAgain)
{
    buildDepot({{"stone", "s"}});
    addHandler();
    const u64 key = resourceKey(assetId("stone"), kTestType);
    cache.release(cacheResource(cache, key, kTestType, nullptr, 99));

    AssetRef ref{assetId("stone")};
    ref.resolve(kTestType, *depot, cache);
    EXPECT_EQ(log.loads, 0);
    ASSERT_NE(ref.handle, 0u);
    EXPECT_EQ(cachedResource(cache, ref.handle)->value(), 99u);
    EXPECT_EQ(cache.find(key)->handleCount, 1);
    cache.release(ref.handle);
}

TEST_F(AssetRefResolve, AMissingAssetIsLoadedOnceAndHeld)
{
    buildDepot({{"stone", "s"}});
    addHandler();
    AssetRef ref{assetId("stone")};
    ref.resolve(kTestType, *depot, cache);
    EXPECT_EQ(log.loads, 1);
    const u64 key = resourceKey(assetId("stone"), kTestType);
    EXPECT_EQ(cache.find(key)->handleCount, 1);

    const u32 handle = ref.handle;
    ref.resolve(kTestType, *depot, cache); // resolved already
    EXPECT_EQ(ref.handle, handle);
    EXPECT_EQ(log.loads, 1);
    EXPECT_EQ(cache.find(key)->handleCount, 1);
    cache.release(ref.handle);
}

TEST_F(AssetRefResolve, TheHandlersFirstResourceIsTheOneReferenced)
{
    buildDepot({{"atlas", "a"}});
    addHandler({.subIndices = {3}});
    AssetRef ref{assetId("atlas")};
    ref.resolve(kTestType, *depot, cache);
    EXPECT_EQ(cachedResource(cache, ref.handle)->value(), 3u);
    cache.release(ref.handle);
}

using AssetRefResolveDeathTest = LoadingFixture;

TEST_F(AssetRefResolveDeathTest, AHandlerThatMakesNoResourceIsFatal)
{
    buildDepot({{"empty", "e"}});
    addHandler({.subIndices = {}});
    AssetRef ref{assetId("empty")};
    EXPECT_DEATH(ref.resolve(kTestType, *depot, cache), "Failed to load asset");
}

} // namespace

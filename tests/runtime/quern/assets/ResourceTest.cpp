#include "quern/assets/Resource.h"

#include "ResourceTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

namespace {

using quern::Ref;
using quern::u32;
using quern::assets::Resource;
using quern::assets::ResourceEntry;
using quern::test::CountingResource;
using quern::test::ResourceCounters;

TEST(Resource, StartsNewWithAFreshStampAndNoName)
{
    const u32 before = Resource::nextChangeStamp();
    CountingResource resource;
    EXPECT_EQ(resource.state(), Resource::New);
    EXPECT_GT(resource.changeStamp(), before);
    EXPECT_EQ(resource.refCount(), 0);
    EXPECT_STREQ(resource.getName(), "");
}

TEST(Resource, SuspendAndResumeIgnoreResourcesInOtherStates)
{
    ResourceCounters counters;
    CountingResource resource(&counters);
    const u32 stamp = resource.changeStamp();
    resource.suspend();
    resource.resume();
    EXPECT_EQ(resource.state(), Resource::New);
    EXPECT_EQ(resource.changeStamp(), stamp);
    EXPECT_EQ(counters.released, 0);
    EXPECT_EQ(counters.restored, 0);

    resource.setState(Resource::Loaded);
    resource.resume(); // loaded, not suspended
    EXPECT_EQ(resource.state(), Resource::Loaded);
    EXPECT_EQ(counters.restored, 0);
}

TEST(Resource, SuspendThenResumeReleasesAndRestoresWithNewStamps)
{
    ResourceCounters counters;
    CountingResource resource(&counters);
    resource.setState(Resource::Loaded);
    const u32 first = resource.changeStamp();
    CountingResource other; // someone else took a stamp in between

    resource.suspend();
    EXPECT_EQ(resource.state(), Resource::Suspended);
    EXPECT_EQ(counters.released, 1);
    const u32 second = resource.changeStamp();
    EXPECT_GT(second, other.changeStamp());

    resource.suspend(); // already suspended
    EXPECT_EQ(counters.released, 1);
    EXPECT_EQ(resource.changeStamp(), second);

    resource.resume();
    EXPECT_EQ(resource.state(), Resource::Loaded);
    EXPECT_EQ(counters.restored, 1);
    EXPECT_GT(resource.changeStamp(), second);
    EXPECT_GT(second, first);
}

TEST(Resource, CopySharesTheEntryAndStartsNewWithANewerStamp)
{
    ResourceEntry* names = new ResourceEntry("stone", "textures/stone.dds", 128);
    Ref entry(names);
    CountingResource original;
    original.setEntry(entry);
    original.setState(Resource::Loaded);
    EXPECT_EQ(names->refCount(), 2);

    CountingResource copy(original);
    EXPECT_EQ(copy.entryObject(), names);
    EXPECT_EQ(names->refCount(), 3);
    EXPECT_EQ(copy.state(), Resource::New);
    EXPECT_GT(copy.changeStamp(), original.changeStamp());
    EXPECT_STREQ(copy.getName(), "stone");
}

TEST(Resource, DestructionReleasesTheEntry)
{
    ResourceEntry* names = new ResourceEntry("stone", "", 0);
    Ref entry(names);
    {
        CountingResource resource;
        resource.setEntry(entry);
        EXPECT_EQ(names->refCount(), 2);
    }
    EXPECT_EQ(names->refCount(), 1);
}

TEST(Resource, StampsTakenOnManyThreadsAreAllDistinct)
{
    constexpr int kThreads = 8;
    constexpr int kStamps = 20000;
    std::vector<std::vector<u32>> stamps(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&stamps, t] {
            for (int i = 0; i < kStamps; ++i)
                stamps[t].push_back(CountingResource().changeStamp());
        });
    for (std::thread& thread : threads)
        thread.join();
    std::vector<u32> all;
    for (const auto& list : stamps)
        all.insert(all.end(), list.begin(), list.end());
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
}

} // namespace

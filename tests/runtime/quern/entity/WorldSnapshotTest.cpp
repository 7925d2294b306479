#include "quern/entity/WorldSnapshot.h"

#include "quern/entity/World.h"
#include "quern/io/StringSource.h"

#include "WorldTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace quern;
using namespace quern::entity;
using quern::entity::testing::Journal;
using quern::entity::testing::RecordingSystem;

constexpr u16 kSizes[] = { 4, 8, 2 };

struct SnapshotFixture {
    explicit SnapshotFixture(u64 capacity = 8)
    {
        world.addSystem(new RecordingSystem("A", journal));
        world.addSystem(new RecordingSystem("B", journal));
        world.allocateComponentStore(kSizes, 3, capacity, nullptr);
    }
    ~SnapshotFixture() { release(snapshot, nullptr); }

    // An entity with the given components, each filled with `fill`; activated
    // unless asked otherwise.
    EntityHandle make(std::initializer_list<u32> types, u8 fill, bool activate = true)
    {
        const EntityHandle h = world.createEntity();
        for (u32 t : types) {
            world.getComponentMask(h.index()).set(t);
            std::memset(world.getComponent(h.index(), t), fill, kSizes[t]);
        }
        if (activate)
            world.activateEntities(&h, 1);
        return h;
    }

    Journal journal;
    World world;
    WorldSnapshot snapshot;
};

// The stream form a quick save writes, built by hand so broken variants are easy.
std::vector<u8> encodeStream(u32 slotCount, u64 storeSize, const u8* store, const u8* states, const ComponentMask* masks)
{
    std::vector<u8> bytes;
    for (u32 i = 0; i < 4; ++i)
        bytes.push_back(static_cast<u8>(slotCount >> (8 * i)));
    for (u32 i = 0; i < 8; ++i)
        bytes.push_back(static_cast<u8>(storeSize >> (8 * i)));
    bytes.insert(bytes.end(), store, store + storeSize);
    bytes.insert(bytes.end(), states, states + slotCount);
    for (u32 s = 0; s < slotCount; ++s)
        for (u64 word : masks[s].words)
            for (u32 i = 0; i < 8; ++i)
                bytes.push_back(static_cast<u8>(word >> (8 * i)));
    return bytes;
}

std::vector<u8> encodeWorld(World& world)
{
    return encodeStream(static_cast<u32>(world.getSlotCount()), world.storeSize, world.store,
                        world.states.dataAs<u8>(), world.enabledMasks.dataAs<ComponentMask>());
}

TEST(WorldSnapshot, RestoringIntoTheUnchangedWorldCallsNoSystem)
{
    SnapshotFixture f;
    f.make({ 0, 1 }, 0x11);
    f.make({ 2 }, 0x22, false);
    f.world.takeSnapshot(f.snapshot, nullptr);
    const u32 before = f.world.worldChecksum();
    f.journal.clear();

    // Only component bytes change: no entity differs, so no system hears of it.
    std::memset(f.world.getComponent(0, 1), 0x99, 8);
    f.world.restoreSnapshot(f.snapshot);
    EXPECT_TRUE(f.journal.empty()) << f.journal.front();
    EXPECT_EQ(f.world.worldChecksum(), before);
    EXPECT_EQ(f.world.liveEntityCount, 2u);
}

TEST(WorldSnapshot, EntityCreatedAfterwardsIsDeactivatedThenDestroyed)
{
    SnapshotFixture f;
    f.make({ 0 }, 1);
    f.world.takeSnapshot(f.snapshot, nullptr);
    const EntityHandle late = f.make({ 1 }, 2);
    f.journal.clear();

    f.world.restoreSnapshot(f.snapshot);
    EXPECT_EQ(f.journal, (Journal { "A:deactivated[1:1]", "A:destroyed[1:1]", "B:deactivated[1:1]", "B:destroyed[1:1]" }));
    EXPECT_FALSE(f.world.isValid(late));
    EXPECT_EQ(f.world.liveEntityCount, 1u);
}

TEST(WorldSnapshot, EntityDestroyedAfterwardsComesBackActive)
{
    SnapshotFixture f;
    const EntityHandle h = f.make({ 0, 2 }, 7);
    f.world.takeSnapshot(f.snapshot, nullptr);
    f.world.destroyEntities(&h, 1);
    ASSERT_FALSE(f.world.isValid(h));
    f.journal.clear();

    f.world.restoreSnapshot(f.snapshot);
    EXPECT_EQ(f.journal, (Journal { "A:created[0:1]", "A:activated[0:1]", "B:created[0:1]", "B:activated[0:1]" }));
    EXPECT_TRUE(f.world.isActive(h));
    EXPECT_EQ(*static_cast<u8*>(f.world.getComponent(0, 2)), 7);
}

TEST(WorldSnapshot, ReusedSlotSwapsTheNewEntityForTheOldOne)
{
    SnapshotFixture f;
    const EntityHandle old = f.make({ 0 }, 1);
    f.world.takeSnapshot(f.snapshot, nullptr);
    f.world.destroyEntities(&old, 1);
    const EntityHandle reused = f.make({ 1 }, 2);
    ASSERT_EQ(reused.index(), old.index());
    f.journal.clear();

    f.world.restoreSnapshot(f.snapshot);
    EXPECT_EQ(f.journal,
              (Journal { "A:deactivated[0:2]", "A:destroyed[0:2]", "B:deactivated[0:2]", "B:destroyed[0:2]",
                         "A:created[0:1]", "A:activated[0:1]", "B:created[0:1]", "B:activated[0:1]" }));
    EXPECT_TRUE(f.world.isValid(old));
    EXPECT_FALSE(f.world.isValid(reused));
}

TEST(WorldSnapshot, AnEntityThatComesBackInAReusedSlotComesBackWithItsName)
{
    SnapshotFixture f;
    const EntityHandle player = f.make({ 0 }, 1);
    f.world.setInternedEntityName(player, "player");
    const EntityHandle door = f.make({ 1 }, 2);
    f.world.setInternedEntityName(door, "door");
    f.world.takeSnapshot(f.snapshot, nullptr);
    f.world.destroyEntities(&player, 1);
    const EntityHandle splash = f.make({ 2 }, 3);
    f.world.setInternedEntityName(splash, "splash");
    ASSERT_EQ(splash.index(), player.index());
    f.world.setInternedEntityName(door, "renamed");

    f.world.restoreSnapshot(f.snapshot);
    EXPECT_STREQ(f.world.getEntityName(player), "player");
    EXPECT_STREQ(f.world.getEntityName(door), "door");
}

TEST(WorldSnapshot, StateChangesAloneAreReportedAsActivationChanges)
{
    struct Case {
        bool activeThen;
        bool activeNow;
        Journal expected;
    };
    const Case cases[] = {
        { true, false, { "A:activated[0:1]", "B:activated[0:1]" } },
        { false, true, { "A:deactivated[0:1]", "B:deactivated[0:1]" } },
    };
    for (const Case& c : cases) {
        SnapshotFixture f;
        const EntityHandle h = f.make({ 0 }, 1, false);
        f.world.start(); // Created -> Inactive, told to the systems
        if (c.activeThen)
            f.world.activateEntities(&h, 1);
        f.world.takeSnapshot(f.snapshot, nullptr);
        if (c.activeNow)
            f.world.activateEntities(&h, 1);
        else
            f.world.deactivateEntity(h);
        f.journal.clear();

        f.world.restoreSnapshot(f.snapshot);
        EXPECT_EQ(f.journal, c.expected) << "active then " << c.activeThen;
        EXPECT_EQ(f.world.isActive(h), c.activeThen);
    }
}

TEST(WorldSnapshot, ChangedComponentMaskIsReportedAsAnotherEntity)
{
    SnapshotFixture f;
    const EntityHandle h = f.make({ 0 }, 1);
    f.world.takeSnapshot(f.snapshot, nullptr);
    f.world.getComponentMask(h.index()).set(1);
    f.journal.clear();

    f.world.restoreSnapshot(f.snapshot);
    EXPECT_EQ(f.journal,
              (Journal { "A:deactivated[0:1]", "A:destroyed[0:1]", "B:deactivated[0:1]", "B:destroyed[0:1]",
                         "A:created[0:1]", "A:activated[0:1]", "B:created[0:1]", "B:activated[0:1]" }));
    EXPECT_FALSE(f.world.getComponentMask(h.index()).test(1));
}

TEST(WorldSnapshot, FreeSlotsGetNewGenerationsSoOldHandlesStayStale)
{
    SnapshotFixture f;
    const EntityHandle gone = f.make({ 0 }, 1);
    f.world.destroyEntities(&gone, 1);
    f.world.takeSnapshot(f.snapshot, nullptr);
    f.world.restoreSnapshot(f.snapshot);
    EXPECT_FALSE(f.world.isValid(gone));
    const EntityHandle next = f.world.createEntity();
    EXPECT_EQ(next.index(), gone.index());
    EXPECT_NE(next.generation(), gone.generation());
}

TEST(WorldSnapshot, RestoreIntoAFreshWorldOfTheSameLayoutRecreatesEverything)
{
    SnapshotFixture source;
    const EntityHandle a = source.make({ 0 }, 3);
    const EntityHandle b = source.make({ 1, 2 }, 4);
    source.world.setEntityName(a, "alpha");
    source.world.takeSnapshot(source.snapshot, nullptr);

    SnapshotFixture target;
    target.world.restoreSnapshot(source.snapshot);
    EXPECT_EQ(target.journal, (Journal { "A:created[0:1,1:1]", "A:activated[0:1,1:1]", "B:created[0:1,1:1]",
                                         "B:activated[0:1,1:1]" }));
    EXPECT_TRUE(target.world.isActive(a));
    EXPECT_TRUE(target.world.isActive(b));
    EXPECT_EQ(target.world.worldChecksum(), source.world.worldChecksum());
    EXPECT_EQ(target.world.liveEntityCount, 2u);
    // Names belong to the world that took the snapshot: slots new to this
    // world are unnamed, never garbage.
    EXPECT_STREQ(target.world.getEntityName(a), "");
    EXPECT_STREQ(target.world.getEntityName(b), "");
    // The world goes on handing out slots after the restored ones.
    EXPECT_EQ(target.world.createEntity().index(), 2);
}

TEST(WorldSnapshot, TakingAgainReusesTheStoreCopy)
{
    SnapshotFixture f;
    f.make({ 0 }, 1);
    f.world.takeSnapshot(f.snapshot, nullptr);
    const u8* storeCopy = f.snapshot.store;
    f.make({ 1 }, 2);
    f.world.takeSnapshot(f.snapshot, nullptr);
    EXPECT_EQ(f.snapshot.store, storeCopy);
    EXPECT_EQ(f.snapshot.slotCount, 2u);
    EXPECT_EQ(f.snapshot.world, &f.world);
}

TEST(WorldSnapshot, ReleaseZeroesTheRecord)
{
    SnapshotFixture f;
    f.make({ 0 }, 1);
    f.world.takeSnapshot(f.snapshot, nullptr);
    release(f.snapshot, nullptr);
    EXPECT_FALSE(f.snapshot.holdsStore());
    EXPECT_EQ(f.snapshot.states, nullptr);
    EXPECT_EQ(f.snapshot.slotCount, 0u);
}

TEST(WorldSnapshotDeathTest, RestoringWhatCannotFitIsFatal)
{
    SnapshotFixture f;
    EXPECT_DEATH(f.world.restoreSnapshot(f.snapshot), "Can't restore an empty world snapshot");

    SnapshotFixture big(16);
    big.make({ 0 }, 1);
    big.world.takeSnapshot(big.snapshot, nullptr);
    EXPECT_DEATH(f.world.restoreSnapshot(big.snapshot), "World snapshot doesn't fit this world");
}

TEST(WorldSnapshotStream, ReadStreamRestoresTheSavedState)
{
    SnapshotFixture f;
    const EntityHandle kept = f.make({ 0, 1 }, 5);
    const EntityHandle gone = f.make({ 2 }, 6);
    const u32 saved = f.world.worldChecksum();
    const std::vector<u8> stream = encodeWorld(f.world);

    f.world.destroyEntities(&gone, 1);
    std::memset(f.world.getComponent(kept.index(), 0), 0xee, 4);
    const EntityHandle added = f.make({ 1 }, 9);
    f.journal.clear();

    StringSource source(stream.data(), stream.size());
    readWorldSnapshot(source, f.snapshot, nullptr, f.world);
    EXPECT_EQ(source.position, stream.size());
    f.world.restoreSnapshot(f.snapshot);
    EXPECT_EQ(f.world.worldChecksum(), saved);
    EXPECT_TRUE(f.world.isActive(kept));
    EXPECT_FALSE(f.world.isValid(added));
    EXPECT_TRUE(f.world.getComponentMask(kept.index()).test(1));
}

TEST(WorldSnapshotStream, AStreamKeepsNamesOnlyOfTheEntitiesStillInTheirSlots)
{
    // The stream carries no names: an entity that is still there keeps its
    // own, and one brought back in a slot another took is left unnamed
    // rather than named after that other.
    SnapshotFixture f;
    const EntityHandle kept = f.make({ 0 }, 1);
    f.world.setInternedEntityName(kept, "kept");
    const EntityHandle player = f.make({ 1 }, 2);
    const std::vector<u8> stream = encodeWorld(f.world);
    f.world.destroyEntities(&player, 1);
    const EntityHandle splash = f.make({ 2 }, 3);
    f.world.setInternedEntityName(splash, "splash");
    ASSERT_EQ(splash.index(), player.index());

    StringSource source(stream.data(), stream.size());
    readWorldSnapshot(source, f.snapshot, nullptr, f.world);
    f.world.restoreSnapshot(f.snapshot);
    EXPECT_STREQ(f.world.getEntityName(kept), "kept");
    const EntityHandle back = EntityHandle::make(static_cast<u16>(player.index()), f.world.getGeneration(player.index()));
    EXPECT_TRUE(f.world.isActive(back));
    EXPECT_STREQ(f.world.getEntityName(back), "");
}

TEST(WorldSnapshotStream, StreamOfTheUnchangedWorldRestoresWithoutNotifications)
{
    // Generations and component masks are not in the stream; rebuilt from the
    // world they compare equal, so nothing is reported and nothing is lost.
    SnapshotFixture f;
    f.make({ 0, 1 }, 5);
    const EntityHandle inactive = f.make({ 2 }, 6);
    f.world.deactivateEntity(inactive);
    const std::vector<u8> stream = encodeWorld(f.world);
    f.journal.clear();

    StringSource source(stream.data(), stream.size());
    readWorldSnapshot(source, f.snapshot, nullptr, f.world);
    f.world.restoreSnapshot(f.snapshot);
    EXPECT_TRUE(f.journal.empty()) << f.journal.front();
    EXPECT_TRUE(f.world.getComponentMask(inactive.index()).test(2));
    EXPECT_TRUE(f.world.isValid(inactive));
}

TEST(WorldSnapshotStream, StreamIntoAFreshWorldCreatesItsEntities)
{
    SnapshotFixture saved;
    saved.make({ 0 }, 1);
    saved.make({ 1, 2 }, 2);
    const std::vector<u8> stream = encodeWorld(saved.world);

    SnapshotFixture f;
    StringSource source(stream.data(), stream.size());
    readWorldSnapshot(source, f.snapshot, nullptr, f.world);
    f.world.restoreSnapshot(f.snapshot);
    EXPECT_EQ(f.journal, (Journal { "A:created[0:1,1:1]", "A:activated[0:1,1:1]", "B:created[0:1,1:1]",
                                    "B:activated[0:1,1:1]" }));
    EXPECT_EQ(f.world.worldChecksum(), saved.world.worldChecksum());
    EXPECT_TRUE(f.world.getComponentMask(1).test(2));
}

struct StreamCase {
    const char* name;
    std::vector<u8> bytes;
    const char* reason;
};

// Streams that cannot belong to a world of capacity 4 with the fixture's types.
std::vector<StreamCase> faultyStreams(const World& world)
{
    std::vector<u8> store(world.storeSize, 0);
    u8 states[8] = { 3, 3, 3, 3, 3, 0, 0, 0 };
    ComponentMask masks[8];
    ComponentMask foreign;
    foreign.set(5);
    ComponentMask farType;
    farType.set(100);
    ComponentMask secondForeign[2];
    secondForeign[1].set(3);
    u8 badState[1] = { 7 };
    std::vector<u8> truncated = encodeStream(2, store.size(), store.data(), states, masks);
    truncated.resize(truncated.size() - 1);
    std::vector<u8> header = encodeStream(0, store.size(), store.data(), states, masks);
    header.resize(11);
    return {
        { "too many entities", encodeStream(5, store.size(), store.data(), states, masks),
          "5 entities for a world of capacity 4" },
        { "other store size", encodeStream(1, 8, store.data(), states, masks),
          "store of 8 bytes for a world whose store has" },
        { "truncated", truncated, "the stream ends early" },
        { "header cut short", header, "the stream ends early" },
        { "unknown state", encodeStream(1, store.size(), store.data(), badState, masks),
          "slot 0 has the unknown state 7" },
        { "unknown component type", encodeStream(1, store.size(), store.data(), states, &foreign),
          "slot 0 enables component type 5" },
        { "type in the high word", encodeStream(1, store.size(), store.data(), states, &farType),
          "slot 0 enables component type 100" },
        { "second slot", encodeStream(2, store.size(), store.data(), states, secondForeign),
          "slot 1 enables component type 3" },
    };
}

TEST(WorldSnapshotStream, FaultsAreNamedWithoutEndingTheProcess)
{
    SnapshotFixture f(4);
    const std::vector<u8> good = encodeWorld(f.world);
    for (u64 at : { u64 { 0 }, u64 { 3 } }) {
        // The stream may start anywhere in its source; the position comes back.
        std::vector<u8> bytes(at, 0xaa);
        bytes.insert(bytes.end(), good.begin(), good.end());
        StringSource source(bytes.data(), bytes.size());
        source.position = at;
        EXPECT_STREQ(findWorldSnapshotFault(source, f.world).c_str(), "");
        EXPECT_EQ(source.position, at);
    }
    for (const StreamCase& c : faultyStreams(f.world)) {
        SCOPED_TRACE(c.name);
        StringSource source(c.bytes.data(), c.bytes.size());
        EXPECT_THAT(findWorldSnapshotFault(source, f.world).c_str(), ::testing::HasSubstr(c.reason));
        EXPECT_EQ(source.position, 0u);
    }
    World storeless;
    StringSource source(good.data(), good.size());
    EXPECT_STREQ(findWorldSnapshotFault(source, storeless).c_str(), "the world has no component store");
}

TEST(WorldSnapshotStreamDeathTest, StreamsThatCannotBelongToTheWorldAreRejected)
{
    SnapshotFixture f(4);
    for (const StreamCase& c : faultyStreams(f.world)) {
        SCOPED_TRACE(c.name);
        EXPECT_DEATH(
            {
                StringSource source(c.bytes.data(), c.bytes.size());
                readWorldSnapshot(source, f.snapshot, nullptr, f.world);
            },
            std::string("Invalid world snapshot: ") + c.reason);
    }
}

} // namespace

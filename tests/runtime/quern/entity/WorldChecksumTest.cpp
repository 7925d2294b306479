#include "quern/entity/World.h"
#include "quern/entity/WorldSnapshot.h"
#include "quern/strings/Hashes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using namespace quern;
using namespace quern::entity;

constexpr u16 kSizes[] = { 4, 8, 2 };

struct ChecksumFixture {
    ChecksumFixture() { world.allocateComponentStore(kSizes, 3, 8, nullptr); }

    // An active entity whose component t holds the bytes base + t, base + t + 1, ...
    EntityHandle make(std::initializer_list<u32> types, u8 base)
    {
        const EntityHandle h = world.createEntity();
        for (u32 t : types) {
            world.getComponentMask(h.index()).set(t);
            u8* bytes = static_cast<u8*>(world.getComponent(h.index(), t));
            for (u32 i = 0; i < kSizes[t]; ++i)
                bytes[i] = static_cast<u8>(base + t * 16 + i);
        }
        world.activateEntities(&h, 1);
        return h;
    }

    std::vector<u8> component(EntityHandle h, u32 t)
    {
        const u8* bytes = static_cast<u8*>(world.getComponent(h.index(), t));
        return std::vector<u8>(bytes, bytes + kSizes[t]);
    }

    World world;
};

u32 crcOf(const std::vector<std::vector<u8>>& pieces)
{
    std::vector<u8> all;
    for (const auto& piece : pieces)
        all.insert(all.end(), piece.begin(), piece.end());
    return strings::crc32(all.data(), all.size());
}

TEST(WorldChecksum, CoversEnabledComponentsTypeByTypeThenSlotBySlot)
{
    ChecksumFixture f;
    const EntityHandle a = f.make({ 0, 2 }, 0x10);
    const EntityHandle b = f.make({ 1 }, 0x40);
    const EntityHandle c = f.make({ 0, 1 }, 0x80);
    EXPECT_EQ(f.world.worldChecksum(),
              crcOf({ f.component(a, 0), f.component(c, 0), f.component(b, 1), f.component(c, 1), f.component(a, 2) }));
    EXPECT_EQ(f.world.entityChecksum(c), crcOf({ f.component(c, 0), f.component(c, 1) }));
}

TEST(WorldChecksum, RunsOfEnabledSlotsAcrossManySlotsMatchTheDefinition)
{
    // Enough slots for runs to cross every 64-slot boundary, with masks from
    // all-on to sparse, and types on both words of the mask.
    std::vector<u16> sizes(70, 3);
    sizes[0] = 1;
    sizes[69] = 5;
    sizes[68] = 200; // 80 dense slots of it make one run longer than the gathering buffer
    World world;
    world.allocateComponentStore(sizes.data(), sizes.size(), 300, nullptr);
    u32 seed = 99;
    const auto next = [&seed] { return seed = seed * 1664525u + 1013904223u, seed >> 8; };
    for (u64 i = 0; i < world.storeSize; ++i)
        world.store[i] = static_cast<u8>(next());
    for (u32 e = 0; e < 300; ++e) {
        const EntityHandle h = world.createEntity();
        for (u32 t = 0; t < sizes.size(); ++t) {
            const bool dense = t % 3 == 0 || (e >= 60 && e < 140);
            if (dense || next() % 4 == 0)
                world.getComponentMask(h.index()).set(t);
        }
        world.activateEntities(&h, 1);
    }
    std::vector<u8> all;
    for (u32 t = 0; t < sizes.size(); ++t)
        for (u64 s = 0; s < world.getSlotCount(); ++s)
            if (world.getEnabledMask(s).test(t)) {
                const u8* bytes = static_cast<u8*>(world.getComponent(s, t));
                all.insert(all.end(), bytes, bytes + sizes[t]);
            }
    EXPECT_EQ(world.worldChecksum(), strings::crc32(all.data(), all.size()));
}

TEST(WorldChecksum, DisabledComponentsDoNotCountEvenWithUnchangedBytes)
{
    ChecksumFixture f;
    const EntityHandle a = f.make({ 0, 1 }, 1);
    const u32 before = f.world.worldChecksum();
    const u32 entityBefore = f.world.entityChecksum(a);
    f.world.setComponentEnabled(a, 1, false);
    EXPECT_NE(f.world.worldChecksum(), before);
    EXPECT_EQ(f.world.worldChecksum(), crcOf({ f.component(a, 0) }));
    EXPECT_NE(f.world.entityChecksum(a), entityBefore);
}

TEST(WorldChecksum, OneChangedByteChangesTheChecksum)
{
    ChecksumFixture f;
    f.make({ 0, 1, 2 }, 1);
    const EntityHandle b = f.make({ 1 }, 2);
    const u32 before = f.world.worldChecksum();
    static_cast<u8*>(f.world.getComponent(b.index(), 1))[7] ^= 1;
    EXPECT_NE(f.world.worldChecksum(), before);
}

TEST(WorldChecksum, WorldWithoutComponentTypesAndInvalidHandlesGiveZero)
{
    World empty;
    EXPECT_EQ(empty.worldChecksum(), 0u);
    empty.allocateComponentStore(nullptr, 0, 4, nullptr);
    empty.createEntity();
    EXPECT_EQ(empty.worldChecksum(), 0u);

    ChecksumFixture f;
    const EntityHandle a = f.make({ 0 }, 1);
    f.world.destroyEntities(&a, 1);
    EXPECT_EQ(f.world.entityChecksum(a), 0u);
}

TEST(EntityComponentCopy, SkipsComponentsThatNoLongerFitAndReportsTheFullSize)
{
    ChecksumFixture f;
    const EntityHandle a = f.make({ 0, 1, 2 }, 0x20);
    EXPECT_EQ(f.world.copyEntityComponents(a, nullptr, 0), 14u);

    struct Case {
        u64 capacity;
        std::vector<std::vector<u8>> expected;
    };
    const Case cases[] = {
        { 14, { f.component(a, 0), f.component(a, 1), f.component(a, 2) } },
        { 12, { f.component(a, 0), f.component(a, 1) } },
        // Too small for the 4-byte component but room for the 2-byte one after it.
        { 3, { f.component(a, 2) } },
        { 1, {} },
    };
    for (const Case& c : cases) {
        std::vector<u8> buffer(16, 0xcd);
        EXPECT_EQ(f.world.copyEntityComponents(a, buffer.data(), c.capacity), 14u);
        std::vector<u8> expected;
        for (const auto& piece : c.expected)
            expected.insert(expected.end(), piece.begin(), piece.end());
        EXPECT_EQ(std::vector<u8>(buffer.begin(), buffer.begin() + expected.size()), expected) << c.capacity;
        EXPECT_EQ(buffer[expected.size()], 0xcd) << c.capacity;
    }
}

TEST(EntityComponentCompare, FindsTheFirstDifferingByteAndItsComponent)
{
    ChecksumFixture f;
    const EntityHandle a = f.make({ 0, 1 }, 0x30);
    std::vector<u8> copy(12);
    ASSERT_EQ(f.world.copyEntityComponents(a, copy.data(), copy.size()), 12u);

    const ComponentDifference same = f.world.compareEntityComponents(a, copy.data(), copy.size());
    EXPECT_FALSE(same.found());
    EXPECT_EQ(same.data, nullptr);
    EXPECT_EQ(same.byteIndex, 0u);

    u8* changed = static_cast<u8*>(f.world.getComponent(a.index(), 1));
    changed[5] ^= 0xff;
    const ComponentDifference diff = f.world.compareEntityComponents(a, copy.data(), copy.size());
    EXPECT_EQ(diff.component, changed);
    EXPECT_EQ(diff.data, copy.data() + 4);
    EXPECT_EQ(diff.byteIndex, 5u);
    EXPECT_EQ(diff.type, 1);
}

TEST(EntityComponentCompare, ComponentsLargerThanTheRestOfTheCopyAreSkipped)
{
    ChecksumFixture f;
    const EntityHandle a = f.make({ 1, 2 }, 0x30);
    // A 2-byte copy: the 8-byte component does not fit and is passed over
    // without consuming the data, so the copy is compared with component 2.
    std::vector<u8> copy = f.component(a, 2);
    EXPECT_FALSE(f.world.compareEntityComponents(a, copy.data(), copy.size()).found());
    copy[1] ^= 1;
    const ComponentDifference diff = f.world.compareEntityComponents(a, copy.data(), copy.size());
    EXPECT_EQ(diff.type, 2);
    EXPECT_EQ(diff.byteIndex, 1u);
}

TEST(Crc32Append, ContinuesAChecksumOverPieces)
{
    std::vector<u8> bytes(300);
    for (u32 i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<u8>(i * 7 + 3);
    const u32 whole = strings::crc32(bytes.data(), bytes.size());
    for (u64 split : { 0, 1, 63, 64, 65, 200, 300 }) {
        const u32 first = strings::crc32(bytes.data(), split);
        EXPECT_EQ(strings::crc32Append(first, bytes.data() + split, bytes.size() - split), whole) << split;
    }
}

} // namespace

#include "harmonize/systems/SanityChecksumSystem.h"

#include "harmonize/Scenario.h"
#include "harmonize/components/Components.h"

#include "quern/strings/Hashes.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

namespace harmonize {
namespace {

using testing::Scenario;

struct ChecksumWorld {
    explicit ChecksumWorld(u64 capacity = 64)
        : scene(capacity)
    {
        scene.addSystem(system);
    }

    // A prefab template: nothing enabled, inactive at start.
    EntityHandle addTemplate(const char* name, EntityHandle parent = {})
    {
        const EntityHandle e = scene.add(name, { "Transform", "Renderer", "Race" }, parent, true);
        scene.get<Race>(e).value = static_cast<i32>(e.index()) + 5;
        scene.get<Transform>(e).position = { 1.0f, static_cast<f32>(e.index()), 3.0f };
        return e;
    }
    u32 checksum(EntityHandle e) const { return system->checksums().at<u32>(e.index()); }

    // The CRC-32 of the entity's components laid end to end in type order.
    u32 expected(EntityHandle e)
    {
        std::vector<u8> bytes;
        for (u32 type = 0; type < kComponentTypeCount; ++type) {
            if (!scene.world().getComponentMask(e.index()).test(type))
                continue;
            const auto* record = static_cast<const u8*>(scene.bytes(e, type));
            bytes.insert(bytes.end(), record, record + ComponentSizeTable[type]);
        }
        return quern::strings::crc32(bytes.data(), bytes.size());
    }

    Scenario scene;
    SanityChecksumSystem* system = new SanityChecksumSystem;
};

TEST(SanityChecksumSystem, ATemplateGetsTheCrcOfItsComponentBytesInTypeOrder)
{
    ChecksumWorld w;
    const EntityHandle root = w.addTemplate("root");
    const EntityHandle child = w.addTemplate("child", root);
    w.scene.start();
    ASSERT_EQ(w.system->checksums().count(), w.scene.world().getSlotCount());
    EXPECT_EQ(w.checksum(root), w.expected(root));
    EXPECT_EQ(w.checksum(child), w.expected(child));
    EXPECT_NE(w.checksum(root), w.checksum(child));
}

TEST(SanityChecksumSystem, RecordsOfAnyTotalLengthAreCheckedAsOneRun)
{
    // Totals below, at and past the 64-byte blocks the checksum works in.
    const std::initializer_list<const char*> sets[] = {
        { "Race" }, // 4 bytes
        { "Transform", "CameraZone" }, // 64
        { "Transform", "CameraZone", "Race" }, // 68
        { "Transform", "Renderer", "Race", "Collider", "BoxShape" }, // 136
        { "Animation", "PlayerMovement" }, // 1,444
    };
    ChecksumWorld w;
    std::vector<EntityHandle> entities;
    for (const auto& components : sets) {
        const EntityHandle e = w.scene.add("set", components, {}, true);
        for (u32 type = 0; type < kComponentTypeCount; ++type)
            if (w.scene.world().getComponentMask(e.index()).test(type))
                static_cast<u8*>(w.scene.bytes(e, type))[0] ^= static_cast<u8>(0x5a + type);
        entities.push_back(e);
    }
    w.scene.start();
    for (EntityHandle e : entities)
        EXPECT_EQ(w.checksum(e), w.expected(e)) << e.index();
}

TEST(SanityChecksumSystem, AnEntityWithEveryComponentIsCheckedOverAllItsBytes)
{
    ChecksumWorld w;
    const EntityHandle e = w.scene.add("everything", {}, {}, true);
    u32 total = 0;
    for (u32 type = 0; type < kComponentTypeCount; ++type) {
        w.scene.world().getComponentMask(e.index()).set(type);
        auto* bytes = static_cast<u8*>(w.scene.bytes(e, type));
        for (u32 i = 0; i < ComponentSizeTable[type]; ++i)
            bytes[i] = static_cast<u8>(type * 31 + i);
        total += ComponentSizeTable[type];
    }
    ASSERT_GT(total, 4096u); // more than one gathering pass
    w.scene.start();
    EXPECT_EQ(w.checksum(e), w.expected(e));
}

TEST(SanityChecksumSystem, EntitiesThatAreNotDormantGetZero)
{
    ChecksumWorld w;
    const EntityHandle active = w.scene.add("active", { "Transform", "Race" });
    const EntityHandle enabled = w.addTemplate("enabled");
    w.scene.world().getEnabledMask(enabled.index()).set(Race::kType);
    const EntityHandle empty = w.scene.add("empty", {}, {}, true);
    const EntityHandle underActive = w.addTemplate("underActive", active);
    const EntityHandle underEnabled = w.addTemplate("underEnabled", enabled);
    w.scene.start();
    // An active entity with nothing enabled still is no template.
    const EntityHandle emptied = w.scene.add("emptied", { "Transform" });
    w.scene.world().activateEntities(&emptied, 1);
    w.scene.world().getEnabledMask(emptied.index()).clear();
    const EntityHandle underEmptied = w.addTemplate("underEmptied", emptied);
    w.system->worldStarted(w.scene.world(), nullptr);
    for (EntityHandle e : { active, enabled, empty, underActive, underEnabled, emptied, underEmptied })
        EXPECT_EQ(w.checksum(e), 0u) << w.scene.world().getEntityName(e);
}

TEST(SanityChecksumSystem, AParentOutsideTheWorldEndsTheChainLikeARoot)
{
    ChecksumWorld w;
    const EntityHandle e = w.addTemplate("orphan");
    w.scene.get<Transform>(e).parent = EntityHandle::make(60000, 3);
    const EntityHandle none = w.addTemplate("none");
    w.scene.get<Transform>(none).parent = EntityHandle::make(0xffff, 3);
    w.scene.start();
    EXPECT_EQ(w.checksum(e), w.expected(e));
    EXPECT_EQ(w.checksum(none), w.expected(none));
}

TEST(SanityChecksumSystem, AnswersDoNotDependOnTheOrderOfTheSlots)
{
    // Children before and after their parents, and a template whose parent is
    // active below a dormant grandparent: the grandparent stays dormant.
    ChecksumWorld w;
    const EntityHandle child = w.addTemplate("child");
    const EntityHandle middle = w.scene.add("middle", { "Transform" });
    const EntityHandle grandparent = w.addTemplate("grandparent");
    const EntityHandle late = w.addTemplate("late", child);
    w.scene.setParent(child, middle);
    w.scene.setParent(middle, grandparent);
    w.scene.start();
    EXPECT_EQ(w.checksum(child), 0u);
    EXPECT_EQ(w.checksum(late), 0u);
    EXPECT_EQ(w.checksum(middle), 0u);
    EXPECT_EQ(w.checksum(grandparent), w.expected(grandparent));
}

TEST(SanityChecksumSystem, AParentCycleEndsTheWalkWithoutADormantMember)
{
    ChecksumWorld w;
    const EntityHandle a = w.addTemplate("a");
    const EntityHandle b = w.addTemplate("b", a);
    w.scene.setParent(a, b);
    const EntityHandle self = w.addTemplate("self");
    w.scene.setParent(self, self);
    const EntityHandle tail = w.addTemplate("tail", b); // hangs below the cycle
    const EntityHandle free = w.addTemplate("free");
    w.scene.start();
    for (EntityHandle e : { a, b, self, tail })
        EXPECT_EQ(w.checksum(e), 0u) << w.scene.world().getEntityName(e);
    EXPECT_EQ(w.checksum(free), w.expected(free));
}

TEST(SanityChecksumSystem, AChainAsLongAsTheWorldIsStillDormant)
{
    ChecksumWorld w(40);
    EntityHandle parent = w.addTemplate("link");
    const EntityHandle root = parent;
    for (int i = 1; i < 40; ++i)
        parent = w.addTemplate("link", parent);
    w.scene.start();
    EXPECT_EQ(w.checksum(parent), w.expected(parent));
    EXPECT_EQ(w.checksum(root), w.expected(root));
}

} // namespace
} // namespace harmonize

#include "harmonize/components/ComponentFields.h"
#include "harmonize/components/Components.h"

#include "harmonize/Scenario.h"

#include "quern/entity/WorldModel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

using namespace harmonize;
using quern::entity::ComponentDescriptor;
using quern::entity::WorldModel;
using quern::serialize::PODKind;

namespace {

TEST(ComponentFields, EveryLayoutCoversItsRecordByteForByte)
{
    for (u32 type = 0; type < kComponentTypeCount; ++type) {
        const ComponentLayout& layout = componentLayout(type);
        SCOPED_TRACE(layout.name);
        EXPECT_EQ(layout.size, ComponentSizeTable[type]);
        EXPECT_EQ(findComponentType(layout.name), static_cast<i32>(type));
        u32 end = 0;
        for (u32 f = 0; f < layout.fieldCount; ++f) {
            const ComponentField& field = layout.fields[f];
            EXPECT_EQ(field.offset, end) << field.name;
            EXPECT_GT(field.count, 0u) << field.name;
            end = field.offset + field.count * fieldElementSize(field.kind);
        }
        EXPECT_EQ(end, layout.size);
    }
}

// The model the content tool writes must put every field where the struct has
// it once the engine lays the attributes out by its own alignment rule.
TEST(ComponentFields, ModelLaysOutEveryFieldWhereTheRecordHasIt)
{
    WorldModel model;
    describeComponentModel(model, "test");
    ASSERT_EQ(model.typeCount(), kComponentTypeCount);
    std::vector<u16> sizes(kComponentTypeCount);
    quern::entity::computeComponentSizes(model, sizes.data());
    EXPECT_TRUE(matchesComponentSizeTable(sizes.data(), sizes.size()));

    ComponentDescriptor descriptor;
    for (u32 type = 0; type < kComponentTypeCount; ++type) {
        const ComponentLayout& layout = componentLayout(type);
        SCOPED_TRACE(layout.name);
        quern::entity::buildComponentDescriptor(model.type(type), descriptor);
        u32 offset = 0;
        u32 next = 0;
        for (u16 d = 0; d < descriptor.descriptor.componentCount; ++d) {
            const auto& part = descriptor.descriptor.components[d];
            if (part.kind != PODKind::Skip) {
                ASSERT_LT(next, layout.fieldCount);
                EXPECT_EQ(offset, layout.fields[next].offset) << layout.fields[next].name;
                ++next;
            }
            offset += part.count * part.bits / 8;
        }
        EXPECT_EQ(next, layout.fieldCount);
        EXPECT_EQ(offset, layout.size);
    }
}

// The menu's records are read by place: each field a level source can name
// sits where the menu reads it, with its kind and count.
TEST(ComponentFields, MenuRecordsNameEveryFieldTheMenuReads)
{
    struct Case {
        u32 type;
        const char* field;
        FieldKind kind;
        u16 offset;
        u16 count;
    };
    const Case cases[] = {
        { MenuButton::kType, "neighbourUp", FieldKind::Entity, 0, 1 },
        { MenuButton::kType, "neighbourRight", FieldKind::Entity, 12, 1 },
        { MenuButton::kType, "selectedClip", FieldKind::UInt64, 16, 1 },
        { MenuButton::kType, "activatedClip", FieldKind::UInt64, 40, 1 },
        { MenuButton::kType, "targets", FieldKind::Entity, 48, 8 },
        { MenuButton::kType, "transaction", FieldKind::Int32, 80, 1 },
        { MenuButton::kType, "levelNumber", FieldKind::Int32, 84, 1 },
        { MenuButton::kType, "worldButton", FieldKind::UInt8, 112, 1 },
        { MenuButton::kType, "hasValueArrows", FieldKind::UInt8, 115, 1 },
        { MenuPage::kType, "pageId", FieldKind::Int32, 0, 1 },
        { MenuPage::kType, "worldIndex", FieldKind::Int32, 4, 1 },
        { MenuPage::kType, "buttons", FieldKind::Entity, 8, 30 },
        { MenuPage::kType, "previouslySelectedButton", FieldKind::Entity, 132, 1 },
        { MenuPage::kType, "locked", FieldKind::UInt8, 137, 1 },
        { MenuTransitionRig::kType, "background", FieldKind::EntityIndex, 0, 1 },
        { MenuTransitionRig::kType, "animated", FieldKind::Entity, 4, 2 },
        { MenuTransitionRig::kType, "reopenedClip", FieldKind::UInt64, 28, 1 },
        { MenuOptionRow::kType, "optionType", FieldKind::Int32, 0, 1 },
        { MenuOption::kType, "action", FieldKind::Int32, 0, 1 },
        { MenuOption::kType, "optionType", FieldKind::Int32, 4, 1 },
        { StartHidden::kType, "hidden", FieldKind::UInt8, 0, 1 },
        { OverlayLayer::kType, "worldIndex", FieldKind::Int32, 0, 1 },
        { OverlayLayer::kType, "savedPosition", FieldKind::Float32, 4, 3 },
        { LevelStatisticsDisplay::kType, "rankText", FieldKind::Entity, 12, 1 },
        { TextureScroll::kType, "timeOffset", FieldKind::Float32, 4, 1 },
    };
    for (const Case& c : cases) {
        const ComponentLayout& layout = componentLayout(c.type);
        SCOPED_TRACE(std::string(layout.name) + "." + c.field);
        const ComponentField* field = findComponentField(layout, c.field);
        ASSERT_NE(field, nullptr);
        EXPECT_EQ(field->kind, c.kind);
        EXPECT_EQ(field->offset, c.offset);
        EXPECT_EQ(field->count, c.count);
    }
    const std::pair<u32, const char*> names[]
        = { { 43, "MenuButton" }, { 64, "StartHidden" }, { 74, "MenuTransitionRig" }, { 75, "MenuOptionRow" },
              { 76, "MenuPage" }, { 84, "MenuOption" }, { 98, "OverlayLayer" } };
    for (const auto& [type, name] : names)
        EXPECT_EQ(findComponentType(name), static_cast<i32>(type)) << name;
}

// A slot index is two bytes: writing one leaves the bytes after it alone.
TEST(ComponentFields, EntityIndexFieldsHoldSixteenBits)
{
    u8 record[sizeof(MenuTransitionRig)];
    std::memset(record, 0xee, sizeof record);
    const ComponentField* background = findComponentField(componentLayout(MenuTransitionRig::kType), "background");
    ASSERT_NE(background, nullptr);
    writeFieldInteger(*background, record, 0, 0x12345);
    EXPECT_EQ(record[0], 0x45);
    EXPECT_EQ(record[1], 0x23);
    EXPECT_EQ(record[2], 0xee);
    EXPECT_EQ(fieldElementSize(FieldKind::EntityIndex), 2u);
}

TEST(ComponentSizeTable, AcceptsOnlyTheGamesModel)
{
    std::vector<u16> sizes(ComponentSizeTable, ComponentSizeTable + kComponentTypeCount);
    EXPECT_TRUE(matchesComponentSizeTable(sizes.data(), 110));
    EXPECT_FALSE(matchesComponentSizeTable(sizes.data(), 109));
    sizes.push_back(4);
    EXPECT_FALSE(matchesComponentSizeTable(sizes.data(), 111));
    sizes.pop_back();
    for (u32 type : { 0u, 23u, 109u }) {
        sizes[type] += 4;
        EXPECT_FALSE(matchesComponentSizeTable(sizes.data(), 110)) << type;
        sizes[type] -= 4;
    }
}

TEST(ComponentMasks, PlayerNeedsAllSixTypesWhateverElseItHas)
{
    const u32 playerTypes[] = { 5, 18, 23, 28, 41, 90 };
    ComponentMask full = makeComponentMask({ 5, 18, 23, 28, 41, 90, 3, 36, 99 });
    EXPECT_TRUE(full.containsAll(kPlayerMask));
    for (u32 missing : playerTypes) {
        ComponentMask mask = full;
        mask.reset(missing);
        EXPECT_FALSE(mask.containsAll(kPlayerMask)) << missing;
    }
    EXPECT_TRUE(ComponentMask {}.containsAll(ComponentMask {}));
    EXPECT_TRUE(full.containsAll(ComponentMask {}));
}

TEST(ComponentMasks, IsPlayerEntityTestsTheComponentMask)
{
    harmonize::testing::Scenario scene;
    const EntityHandle player
        = scene.add("player", { "Collider", "RigidBody", "Transform", "PlayerState", "PlayerMovement", "Race" });
    const EntityHandle camera = scene.add("camera", { "CameraLens", "Transform", "GameCameraRig" });
    EXPECT_TRUE(isPlayerEntity(scene.world(), player));
    EXPECT_FALSE(isPlayerEntity(scene.world(), camera));
    EXPECT_FALSE(isPlayerEntity(scene.world(), EntityHandle::make(0xffff, player.generation())));
    EXPECT_FALSE(isPlayerEntity(scene.world(), EntityHandle::make(player.index(), 0)));
    EXPECT_FALSE(isPlayerEntity(scene.world(), EntityHandle::make(60, 1))); // past the slots
}

TEST(Race, OnlyZeroAndTwoOpposeInEitherOrder)
{
    struct Case {
        i32 a, b;
        bool opposed;
    };
    const Case cases[] = { { 0, 2, true }, { 2, 0, true }, { 0, 0, false }, { 2, 2, false }, { 1, 0, false },
        { 0, 1, false }, { 1, 2, false }, { 2, 1, false }, { 1, 1, false }, { 3, 0, false } };
    for (const Case& c : cases)
        EXPECT_EQ(racesOppose(c.a, c.b), c.opposed) << c.a << " " << c.b;
}

TEST(EntityHandles, PredicatesTellNoneStaleDeadAndInactiveApart)
{
    harmonize::testing::Scenario scene;
    const EntityHandle active = scene.add("active", { "Transform" });
    const EntityHandle dormant = scene.add("dormant", { "Transform" }, {}, true);
    const EntityHandle dead = scene.add("dead", { "Transform" });
    scene.start();
    scene.world().destroyEntities(&dead, 1);
    auto& world = scene.world();
    struct Case {
        EntityHandle handle;
        bool some, valid, alive, isActive;
    };
    const Case cases[] = {
        { active, true, true, true, true },
        { dormant, true, true, true, false },
        { dead, true, false, false, false }, // the slot's generation moved on
        { EntityHandle::make(dead.index(), world.getGeneration(dead.index())), true, true, false, false },
        { EntityHandle {}, false, false, false, false },
        { EntityHandle::make(0xffff, 1), false, false, false, false },
        { EntityHandle::make(active.index(), 0), false, false, false, false },
        { EntityHandle::make(200, 1), true, false, false, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.handle.value);
        EXPECT_EQ(isSomeEntity(c.handle), c.some);
        EXPECT_EQ(isValidEntity(world, c.handle), c.valid);
        EXPECT_EQ(isAliveEntity(world, c.handle), c.alive);
        EXPECT_EQ(isActiveEntity(world, c.handle), c.isActive);
    }
}

// u64 fields at offsets that are not multiples of 8 read back what was written
// through the field table, record after record in the store.
TEST(ComponentRecords, UnalignedWideFieldsRoundTripInTheStore)
{
    harmonize::testing::Scenario scene;
    EntityHandle entities[3];
    for (u64 i = 0; i < 3; ++i) {
        entities[i] = scene.add("e", { "PlatformWarning", "Detonator", "AlarmMachine", "SavePointTrigger" });
        const ComponentField* clip = findComponentField(componentLayout(PlatformWarning::kType), "clip");
        writeFieldInteger(*clip, scene.bytes(entities[i], PlatformWarning::kType), 0, 0x0102030405060708ull + i);
        scene.get<AlarmMachine>(entities[i]).coolDownClip = 0xa0b0c0d0e0f00010ull + i;
        scene.get<SavePointTrigger>(entities[i]).respawnSound = ~i;
        scene.get<Detonator>(entities[i]).clip = i << 40;
    }
    for (u64 i = 0; i < 3; ++i) {
        // Copies, never references: a packed u64 may sit off its natural alignment.
        const u64 warningClip = scene.get<PlatformWarning>(entities[i]).clip;
        EXPECT_EQ(warningClip, 0x0102030405060708ull + i);
        u64 raw = 0;
        std::memcpy(&raw, static_cast<u8*>(scene.bytes(entities[i], AlarmMachine::kType)) + 28, 8);
        EXPECT_EQ(raw, 0xa0b0c0d0e0f00010ull + i);
        const u64 respawnSound = scene.get<SavePointTrigger>(entities[i]).respawnSound;
        EXPECT_EQ(respawnSound, ~i);
        const u64 detonatorClip = scene.get<Detonator>(entities[i]).clip;
        EXPECT_EQ(detonatorClip, i << 40);
    }
}

TEST(ComponentFields, TransformDefaultsToIdentityRotationAndUnitScale)
{
    harmonize::testing::Scenario scene;
    const EntityHandle e = scene.add("e", { "Transform", "Race" });
    const Transform& t = scene.get<Transform>(e);
    EXPECT_EQ(t.rotation, quern::math::Quaternion(0, 0, 0, 1));
    EXPECT_EQ(t.scale.x, 1.0f);
    EXPECT_EQ(t.scale.z, 1.0f);
    EXPECT_EQ(t.position.y, 0.0f);
    EXPECT_EQ(t.parent.value, 0u);
    EXPECT_EQ(scene.get<Race>(e).value, 0);
}

} // namespace

#include "harmonize/systems/TransformHierarchySystem.h"

#include "harmonize/components/Components.h"

#include "harmonize/Scenario.h"
#include "harmonize/TransformExpectations.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace harmonize;
using quern::math::Matrix4;
using quern::math::Quaternion;
using quern::math::Vector3;
using Scenario = harmonize::testing::Scenario;

namespace {

// A scene whose first system is the hierarchy, as in every game world.
struct HierarchyScene {
    Scenario scene;
    TransformHierarchySystem* hierarchy = new TransformHierarchySystem;

    explicit HierarchyScene(quern::u64 capacity = 32)
        : scene(capacity)
    {
        scene.addSystem(hierarchy);
    }
    std::vector<quern::u16> childIndices(EntityHandle parent) const
    {
        quern::u64 count = 0;
        const EntityHandle* list = hierarchy->children(parent.index(), count);
        std::vector<quern::u16> out;
        for (quern::u64 i = 0; i < count; ++i)
            out.push_back(list[i].index());
        return out;
    }
};

TEST(TransformHierarchySystem, ChildrenAreListedInDescendingIndexOrder)
{
    HierarchyScene h;
    std::vector<EntityHandle> e;
    for (int i = 0; i < 10; ++i)
        e.push_back(h.scene.add("e", { "Transform" }));
    for (int child : { 4, 7, 9 })
        h.scene.setParent(e[child], e[1]);
    h.scene.setParent(e[2], e[4]);
    h.scene.start();
    EXPECT_EQ(h.childIndices(e[1]), (std::vector<quern::u16> { 9, 7, 4 }));
    EXPECT_EQ(h.childIndices(e[4]), (std::vector<quern::u16> { 2 }));
    EXPECT_TRUE(h.childIndices(e[0]).empty());
}

TEST(TransformHierarchySystem, DestroyingMarksTheListsDirtyUntilTheNextFixedTick)
{
    HierarchyScene h;
    const EntityHandle parent = h.scene.add("parent", { "Transform" });
    const EntityHandle a = h.scene.add("a", { "Transform" }, parent);
    const EntityHandle b = h.scene.add("b", { "Transform" }, parent);
    h.scene.start();
    h.scene.world().destroyEntities(&a, 1);
    EXPECT_TRUE(h.hierarchy->childListsDirty());
    h.scene.tick();
    EXPECT_FALSE(h.hierarchy->childListsDirty());
    EXPECT_EQ(h.childIndices(parent), (std::vector<quern::u16> { b.index() }));
}

// Parents that name no entity (none in either half, or past the slots) are
// roots for the child lists too, so no count lands outside the ranges.
TEST(TransformHierarchySystem, ChildListsIgnoreParentsNamingNoEntity)
{
    HierarchyScene h(8);
    const EntityHandle root = h.scene.add("root", { "Transform" });
    const quern::u32 parents[] = { EntityHandle::make(0xffff, 2).value, EntityHandle::make(0, 0).value,
        EntityHandle::make(7, 1).value, EntityHandle::make(0xfff0, 1).value };
    for (quern::u32 parent : parents)
        h.scene.get<Transform>(h.scene.add("odd", { "Transform" })).parent.value = parent;
    const EntityHandle child = h.scene.add("child", { "Transform" }, root);
    h.scene.start();
    EXPECT_EQ(h.childIndices(root), (std::vector<quern::u16> { child.index() }));
    for (quern::u16 i = 1; i < 8; ++i)
        EXPECT_TRUE(h.childIndices(EntityHandle::make(i, 1)).empty()) << i;
}

Matrix4 localOf(const Transform& t) { return harmonize::testing::expectedLocalMatrix(t); }

Matrix4 withColumnsDivided(Matrix4 m, Vector3 s)
{
    const quern::f32 scale[3] = { s.x, s.y, s.z };
    for (int c = 0; c < 3; ++c)
        if (scale[c] != 0.0f)
            for (int r = 0; r < 3; ++r)
                m.m[c * 4 + r] /= scale[c];
    return m;
}

void expectNear(const Matrix4& actual, const Matrix4& expected)
{
    harmonize::testing::expectMatrixNear(actual, expected);
}

TEST(TransformHierarchySystem, FlagsChooseWhatTheWorldMatrixTakes)
{
    HierarchyScene h;
    const EntityHandle root = h.scene.add("root", { "Transform" });
    const EntityHandle parent = h.scene.add("parent", { "Transform" }, root);
    const EntityHandle leaf = h.scene.add("leaf", { "Transform" }, parent);
    auto t = [&](EntityHandle e) -> Transform& { return h.scene.get<Transform>(e); };
    t(root) = Transform { { 1, 2, 3 }, Quaternion::fromAxisAngle(0.4f, { 0, 0, 1 }), { 2, 2, 2 }, {} };
    t(parent) = Transform { { 0, 3, 0 }, Quaternion::fromAxisAngle(1.1f, { 1, 0, 0 }), { 1, 4, 1 }, root };
    t(leaf) = Transform { { 1, 0, 1 }, Quaternion::fromAxisAngle(-0.2f, { 0, 1, 0 }), { 3, 1, 0.5f }, parent };
    const Matrix4 parentWorld = localOf(t(root)) * localOf(t(parent));
    const Matrix4 leafWorld = parentWorld * localOf(t(leaf));
    const Vector3 leafChainScale { 2 * 1 * 3, 2 * 4 * 1, 2 * 1 * 0.5f };
    const Vector3 parentChainScale { 2, 8, 2 };
    Transform unscaled = t(leaf);
    unscaled.scale = { 1, 1, 1 };

    struct Case {
        quern::u8 flags;
        Matrix4 expected;
    };
    const Case cases[] = {
        { 0, leafWorld },
        { kParentOnly, parentWorld },
        { kNoParent, localOf(t(leaf)) },
        { kParentOnly | kNoParent, Matrix4 {} },
        { kNoScale, withColumnsDivided(leafWorld, leafChainScale) },
        { kNoParent | kNoScale, localOf(unscaled) },
        { kParentOnly | kNoScale, withColumnsDivided(parentWorld, parentChainScale) },
        { kParentOnly | kNoParent | kNoScale, Matrix4 {} },
    };
    h.scene.start();
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.flags));
        h.hierarchy->flags(leaf.index()) = c.flags;
        h.hierarchy->updateWorldMatrices(h.scene.world());
        expectNear(h.hierarchy->worldMatrix(leaf.index()), c.expected);
    }
    // Only the entity's own flags count: the parent keeps its chain.
    h.hierarchy->flags(root.index()) = kParentOnly | kNoParent;
    h.hierarchy->flags(leaf.index()) = 0;
    h.hierarchy->updateWorldMatrices(h.scene.world());
    expectNear(h.hierarchy->worldMatrix(leaf.index()), leafWorld);
    expectNear(h.hierarchy->worldMatrix(root.index()), Matrix4 {});
}

TEST(TransformHierarchySystem, NoScaleKeepsColumnsOfAZeroScaleAxis)
{
    HierarchyScene h;
    const EntityHandle e = h.scene.add("flat", { "Transform" });
    Transform& t = h.scene.get<Transform>(e);
    t.scale = { 0, 2, 4 };
    h.scene.start();
    h.hierarchy->flags(e.index()) = kNoScale;
    h.hierarchy->updateWorldMatrices(h.scene.world());
    const Matrix4& m = h.hierarchy->worldMatrix(e.index());
    EXPECT_EQ(m.m[0], 0.0f); // x column as computed
    EXPECT_FLOAT_EQ(m.m[5], 1.0f);
    EXPECT_FLOAT_EQ(m.m[10], 1.0f);
}

TEST(TransformHierarchySystem, WorldBoundsFollowTheMatrixAndTheLargestAxis)
{
    HierarchyScene h;
    const EntityHandle e = h.scene.add("e", { "Transform" });
    const EntityHandle dead = h.scene.add("dead", { "Transform" });
    Transform& t = h.scene.get<Transform>(e);
    t.position = { 10, 0, 0 };
    t.scale = { 1, 3, 2 };
    h.scene.start();
    h.hierarchy->localBounds(e.index()) = { { 1, 1, 0 }, 2 };
    h.hierarchy->localBounds(dead.index()) = { { 1, 1, 0 }, 2 };
    h.scene.world().destroyEntities(&dead, 1);
    h.hierarchy->updateWorldMatrices(h.scene.world());
    const BoundingSphere& b = h.hierarchy->worldBounds(e.index());
    EXPECT_FLOAT_EQ(b.centre[0], 11);
    EXPECT_FLOAT_EQ(b.centre[1], 3);
    EXPECT_FLOAT_EQ(b.radius, 6);
    const BoundingSphere& gone = h.hierarchy->worldBounds(dead.index());
    EXPECT_EQ(gone.radius, 0);
    EXPECT_EQ(gone.centre[0], 0);
    expectNear(h.hierarchy->worldMatrix(dead.index()), Matrix4 {});

    // Flags 3 give the identity: the world sphere is the local one.
    h.hierarchy->flags(e.index()) = kParentOnly | kNoParent;
    h.hierarchy->updateWorldMatrices(h.scene.world());
    EXPECT_FLOAT_EQ(h.hierarchy->worldBounds(e.index()).centre[0], 1);
    EXPECT_FLOAT_EQ(h.hierarchy->worldBounds(e.index()).radius, 2);
}

TEST(TransformHierarchySystem, SetSubtreeActiveTurnsChildrenBeforeTheirParent)
{
    struct Order : quern::entity::System {
        std::vector<quern::u16> deactivated;
        void entitiesDeactivated(const EntityHandle* handles, quern::u64 count, quern::entity::World&) override
        {
            for (quern::u64 i = 0; i < count; ++i)
                deactivated.push_back(handles[i].index());
        }
    };
    HierarchyScene h;
    Order* order = new Order;
    h.scene.addSystem(order);
    const EntityHandle root = h.scene.add("root", { "Transform" });
    const EntityHandle a = h.scene.add("a", { "Transform" }, root);
    const EntityHandle b = h.scene.add("b", { "Transform" }, root);
    const EntityHandle grand = h.scene.add("grand", { "Transform" }, a);
    const EntityHandle outside = h.scene.add("outside", { "Transform" });
    h.scene.start();
    h.hierarchy->setSubtreeActive(root, false, h.scene.world());
    EXPECT_EQ(order->deactivated, (std::vector<quern::u16> { b.index(), grand.index(), a.index(), root.index() }));
    EXPECT_TRUE(h.scene.world().isActive(outside));
    h.hierarchy->setSubtreeActive(root, true, h.scene.world());
    for (EntityHandle e : { root, a, b, grand })
        EXPECT_TRUE(h.scene.world().isActive(e));
    // A handle that is not valid changes nothing, not even below it.
    h.hierarchy->setSubtreeActive(EntityHandle::make(0xffff, 1), false, h.scene.world());
    EXPECT_TRUE(h.scene.world().isActive(root));
}

} // namespace

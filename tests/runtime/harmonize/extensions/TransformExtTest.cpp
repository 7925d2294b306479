#include "harmonize/components/Components.h"
#include "harmonize/systems/TransformHierarchySystem.h"

#include "harmonize/Scenario.h"

#include "support/LogCapture.h"

#include "quern/containers/Array.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace harmonize;
using quern::containers::Array;
using quern::math::Vector3;
using Scenario = harmonize::testing::Scenario;

namespace {

// root (0) -> a (1) -> a1 (3)
//          -> b (2)
// other (4) -> c (5)
struct Tree {
    Scenario scene;
    TransformHierarchySystem* hierarchy = new TransformHierarchySystem;
    EntityHandle root, a, b, a1, other, c;

    explicit Tree(quern::u64 capacity = 16)
        : scene(capacity)
    {
        scene.addSystem(hierarchy);
        root = scene.add("root", { "Transform" });
        a = scene.add("a", { "Transform", "Race" }, root);
        b = scene.add("b", { "Transform" }, root);
        a1 = scene.add("a1", { "Transform", "Race" }, a);
        other = scene.add("other", { "Transform" });
        c = scene.add("c", { "Transform" }, other);
        scene.get<Transform>(a).position = { 1, 0, 0 };
        scene.get<Transform>(a1).position = { 0, 2, 0 };
    }
    Transform& operator[](EntityHandle e) { return scene.get<Transform>(e); }
    quern::entity::World& world() { return scene.world(); }
};

std::vector<quern::u16> indices(const Array& handles)
{
    std::vector<quern::u16> out;
    for (quern::u64 i = 0; i < handles.count(); ++i)
        out.push_back(handles.at<EntityHandle>(i).index());
    return out;
}

TEST(TransformExt, IsDescendantOfFollowsTheParentChain)
{
    Tree t;
    struct Case {
        EntityHandle entity, ancestor;
        bool expected;
    };
    const Case cases[]
        = { { t.a1, t.root, true }, { t.a1, t.a, true }, { t.b, t.root, true }, { t.root, t.root, false },
              { t.a, t.a, false }, { t.c, t.root, false }, { t.root, t.a1, false }, { t.b, t.a, false } };
    for (const Case& c : cases)
        EXPECT_EQ(Transform::isDescendantOf(t[c.entity], t[c.ancestor], t.world()), c.expected)
            << c.entity.index() << " below " << c.ancestor.index();
}

TEST(TransformExt, CollectDescendantsInIndexOrderWithTheMask)
{
    Tree t;
    Array all(sizeof(EntityHandle), alignof(EntityHandle));
    Transform::collectDescendants(t[t.root], all, ComponentMask {}, t.world());
    EXPECT_EQ(indices(all), (std::vector<quern::u16> { 1, 2, 3 }));
    Array races(sizeof(EntityHandle), alignof(EntityHandle));
    Transform::collectDescendants(t[t.root], races, makeComponentMask({ Race::kType }), t.world());
    EXPECT_EQ(indices(races), (std::vector<quern::u16> { 1, 3 }));
}

// Entities whose parent names no entity of the world hang below nothing.
TEST(TransformExt, SubtreeScansSkipParentsNamingNoEntity)
{
    Tree t;
    const quern::u32 parents[] = { EntityHandle::make(0xffff, 1).value, EntityHandle::make(t.root.index(), 0).value,
        EntityHandle::make(200, 1).value };
    for (quern::u32 parent : parents)
        t[t.scene.add("odd", { "Transform" })].parent.value = parent;
    Array below(sizeof(EntityHandle), alignof(EntityHandle));
    Transform::collectDescendants(t[t.root], below, ComponentMask {}, t.world());
    EXPECT_EQ(indices(below), (std::vector<quern::u16> { 1, 2, 3 }));
    t.scene.start();
    Transform::destroySubtree(t[t.root], t.world());
    EXPECT_EQ(t.world().liveEntityCount, 5u); // other, c and the three odd ones
}

TEST(TransformExt, CloneSubtreeRemapsParentsAndActivatesTheClones)
{
    Tree t;
    t.scene.start();
    const EntityHandle clone = Transform::cloneSubtree(t[t.root], t.world(), t.other);
    ASSERT_FALSE(clone.isNull());
    EXPECT_EQ(t[clone].parent, t.other);
    EXPECT_STREQ(t.world().getEntityName(clone), "root");
    t.scene.tick(); // the clones made the child lists dirty
    Array clones(sizeof(EntityHandle), alignof(EntityHandle));
    Transform::collectDescendants(t[clone], clones, ComponentMask {}, t.world());
    ASSERT_EQ(clones.count(), 3u);
    for (quern::u64 i = 0; i < clones.count(); ++i) {
        const EntityHandle e = clones.at<EntityHandle>(i);
        EXPECT_TRUE(t.world().isActive(e));
        EXPECT_GE(e.index(), 6u);
    }
    // The clone of a1 sits under the clone of a, which sits under the root's clone.
    const EntityHandle a1Clone = Transform::findByPath(t[clone], "a/a1", t.world(), *t.hierarchy);
    ASSERT_TRUE(isSomeEntity(a1Clone));
    EXPECT_NE(a1Clone, t.a1);
    const Vector3 expected = Transform::localToWorld(t[t.a1], {}, t.world());
    t[t.other].position = { 0, 0, 5 };
    const Vector3 moved = Transform::localToWorld(t[a1Clone], {}, t.world());
    EXPECT_FLOAT_EQ(moved.x, expected.x);
    EXPECT_FLOAT_EQ(moved.z, 5.0f);
    // The originals are untouched.
    EXPECT_EQ(t[t.a1].parent, t.a);
    EXPECT_EQ(t[t.root].parent.value, 0u);
}

TEST(TransformExt, CloneNeedsOneFreeSlotPerEntity)
{
    for (quern::u64 spare : { 4u, 3u }) {
        SCOPED_TRACE(spare);
        Tree t(6 + spare); // six entities, then the spare slots
        t.scene.start();
        const quern::u64 before = t.world().liveEntityCount;
        quern::testing::LogCapture warnings(2);
        const EntityHandle clone = Transform::cloneSubtree(t[t.root], t.world(), EntityHandle {});
        if (spare >= 4) {
            EXPECT_FALSE(clone.isNull());
            EXPECT_EQ(t.world().liveEntityCount, before + 4);
            EXPECT_FALSE(warnings.contains("Not enough space"));
        } else {
            EXPECT_TRUE(warnings.contains("Not enough space to clone 4 entities")) << warnings.text();
            EXPECT_TRUE(clone.isNull());
            EXPECT_EQ(t.world().liveEntityCount, before);
        }
    }
}

TEST(TransformExt, CloneWhoseParentIsOutsideTheSubtreeGetsNoParent)
{
    Tree t;
    t.scene.start();
    // a1 names a by an old generation: still below a by index, but no clone
    // carries that handle.
    t[t.a1].parent = EntityHandle::make(t.a.index(), static_cast<quern::u16>(t.a.generation() + 1));
    const EntityHandle clone = Transform::cloneSubtree(t[t.a], t.world(), t.b);
    ASSERT_FALSE(clone.isNull());
    EXPECT_EQ(t[clone].parent, t.b);
    const EntityHandle a1Clone = EntityHandle::make(static_cast<quern::u16>(clone.index() + 1), 1);
    ASSERT_TRUE(t.world().isValid(a1Clone));
    EXPECT_EQ(t[a1Clone].parent.value, 0u);
}

TEST(TransformExt, DestroySubtreeTakesTheEntityAndEverythingBelowIt)
{
    Tree t;
    t.scene.start();
    Transform::destroySubtree(t[t.a], t.world());
    EXPECT_FALSE(t.world().isValid(t.a));
    EXPECT_FALSE(t.world().isValid(t.a1));
    for (EntityHandle e : { t.root, t.b, t.other, t.c })
        EXPECT_TRUE(t.world().isValid(e)) << e.index();
}

TEST(TransformExt, SubtreeActivationAndComponentSwitching)
{
    Tree t;
    t.scene.start();
    Transform::setSubtreeActive(t[t.root], false, t.world(), *t.hierarchy);
    for (EntityHandle e : { t.root, t.a, t.b, t.a1 })
        EXPECT_FALSE(t.world().isActive(e)) << e.index();
    EXPECT_TRUE(t.world().isActive(t.c));
    Transform::setSubtreeActive(t[t.a], true, t.world(), *t.hierarchy);
    EXPECT_TRUE(t.world().isActive(t.a));
    EXPECT_TRUE(t.world().isActive(t.a1));
    EXPECT_FALSE(t.world().isActive(t.root));

    Transform::setSubtreeActive(t[t.root], true, t.world(), *t.hierarchy);
    Transform::setComponentEnabledInSubtree(t[t.root], Race::kType, false, t.world(), *t.hierarchy);
    EXPECT_FALSE(t.world().getEnabledMask(t.a.index()).test(Race::kType));
    EXPECT_FALSE(t.world().getEnabledMask(t.a1.index()).test(Race::kType));
    EXPECT_TRUE(t.world().getEnabledMask(t.a.index()).test(Transform::kType));
    Transform::setComponentEnabledInSubtree(t[t.root], Race::kType, true, t.world(), *t.hierarchy);
    EXPECT_TRUE(t.world().getEnabledMask(t.a1.index()).test(Race::kType));
    // Only entities that have the component get its bit.
    EXPECT_FALSE(t.world().getEnabledMask(t.b.index()).test(Race::kType));
}

TEST(TransformExt, MatchesPathClimbsFromTheCandidate)
{
    Tree t;
    struct Case {
        const char* path;
        EntityHandle entity;
        bool expected;
    };
    const Case cases[] = {
        { "a1", t.a1, true },
        { "a/a1", t.a1, true },
        { "root/a/a1", t.a1, true },
        { "root/a1", t.a1, false },
        { "x/a/a1", t.a1, false }, // root has no parent to match "x"
        { "a", t.a1, false },
        { "ba1", t.a1, false }, // no '/' before the name
        { "b", t.b, true },
        { "", t.b, false },
        { "a1/", t.a1, false },
    };
    for (const Case& c : cases)
        EXPECT_EQ(Transform::matchesPath(c.path, std::string(c.path).size(), c.entity, t.world()), c.expected)
            << c.path;
    // A parent that names no entity cannot match a longer path.
    t[t.b].parent = EntityHandle::make(0xffff, 1);
    EXPECT_FALSE(Transform::matchesPath("root/b", 6, t.b, t.world()));
}

TEST(TransformExt, FindByPathSearchesChildrenInListOrderEachBeforeItsSubtree)
{
    Tree t;
    // A second "a1", directly below the root at a higher index: the root's
    // children are listed in descending index order, so it comes first.
    const EntityHandle late = t.scene.add("a1", { "Transform" }, t.root);
    t.scene.start();
    EXPECT_EQ(Transform::findByPath(t[t.root], "", t.world(), *t.hierarchy), t.root);
    EXPECT_EQ(Transform::findByPath(t[t.root], "a1", t.world(), *t.hierarchy), late);
    EXPECT_EQ(Transform::findByPath(t[t.root], "a/a1", t.world(), *t.hierarchy), t.a1);
    EXPECT_EQ(Transform::findByPath(t[t.a], "root/a/a1", t.world(), *t.hierarchy), t.a1);
    EXPECT_EQ(Transform::findByPath(t[t.root], "c", t.world(), *t.hierarchy).value, 0u);
    EXPECT_EQ(Transform::findByPath(t[t.root], "zz", t.world(), *t.hierarchy).value, 0u);
}

using TransformExtDeathTest = ::testing::Test;

TEST(TransformExtDeathTest, ParentCyclesAreFatalInEveryWalk)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto run = [](int which) {
        Tree t;
        t.scene.start();
        t[t.root].parent = t.a1; // root -> a -> a1 -> root
        t.hierarchy->rebuildChildLists(t.world());
        Array handles(sizeof(EntityHandle), alignof(EntityHandle));
        switch (which) {
        case 0:
            Transform::isDescendantOf(t[t.a1], t[t.other], t.world());
            break;
        case 1:
            Transform::collectDescendants(t[t.other], handles, ComponentMask {}, t.world());
            break;
        case 2:
            t.hierarchy->setSubtreeActive(t.root, false, t.world());
            break;
        case 3:
            Transform::setSubtreeActive(t[t.root], false, t.world(), *t.hierarchy);
            break;
        case 4:
            Transform::findByPath(t[t.root], "nothing", t.world(), *t.hierarchy);
            break;
        case 5:
            t.hierarchy->updateWorldMatrices(t.world());
            break;
        }
    };
    for (int which = 0; which < 6; ++which)
        EXPECT_DEATH(run(which), "Transform parents of entity [0-9]+ \"[a-z0-9]+\" form a cycle") << which;
}

} // namespace

#include "harmonize/components/Components.h"

#include "harmonize/Scenario.h"
#include "harmonize/TransformExpectations.h"

#include "quern/entity/World.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace harmonize;
using quern::math::Matrix3;
using quern::math::Matrix4;
using quern::math::Quaternion;
using quern::math::Vector3;
using Scenario = harmonize::testing::Scenario;

namespace {

constexpr f32 kHalfPi = 1.57079632679f;

using harmonize::testing::expectedLocalMatrix;

void expectNear(const Matrix4& actual, const Matrix4& expected)
{
    harmonize::testing::expectMatrixNear(actual, expected);
}

void expectNear(const Vector3& actual, const Vector3& expected)
{
    EXPECT_NEAR(actual.x, expected.x, 1e-5f);
    EXPECT_NEAR(actual.y, expected.y, 1e-5f);
    EXPECT_NEAR(actual.z, expected.z, 1e-5f);
}

// A chain root -> middle -> leaf with distinct rotations, scales and offsets.
struct Chain {
    Scenario scene;
    EntityHandle root, middle, leaf;

    Chain()
    {
        root = scene.add("root", { "Transform" });
        middle = scene.add("middle", { "Transform" }, root);
        leaf = scene.add("leaf", { "Transform" }, middle);
        place(root, { 1, 2, 3 }, Quaternion::fromAxisAngle(kHalfPi, { 0, 0, 1 }), { 2, 2, 2 });
        place(middle, { 0, 1, 0 }, Quaternion::fromAxisAngle(0.3f, { 1, 0, 0 }), { 1, 3, 1 });
        place(leaf, { 0.5f, 0, -1 }, Quaternion::fromAxisAngle(-0.7f, { 0, 1, 1 }), { 1, 1, 0.5f });
    }
    void place(EntityHandle e, Vector3 position, Quaternion rotation, Vector3 scale)
    {
        Transform& t = scene.get<Transform>(e);
        t.position = position;
        t.rotation = rotation;
        t.scale = scale;
    }
    Transform& operator[](EntityHandle e) { return scene.get<Transform>(e); }
    quern::entity::World& world() { return scene.world(); }
};

TEST(TransformChain, WorldMatrixIsTheProductOfLocalMatricesRootFirst)
{
    Chain chain;
    const Matrix4 rootLocal = expectedLocalMatrix(chain[chain.root]);
    const Matrix4 middleWorld = rootLocal * expectedLocalMatrix(chain[chain.middle]);
    const Matrix4 leafWorld = middleWorld * expectedLocalMatrix(chain[chain.leaf]);
    struct Case {
        EntityHandle entity;
        Matrix4 expected;
    };
    for (const Case& c :
        { Case { chain.root, rootLocal }, Case { chain.middle, middleWorld }, Case { chain.leaf, leafWorld } }) {
        Matrix4 m;
        Transform::accumulateWorldMatrix(chain[c.entity], m, EntityHandle {}, chain.world());
        expectNear(m, c.expected);
    }
    // Accumulation multiplies onto what the caller passes in.
    Matrix4 start;
    start.m[12] = 10.0f;
    Transform::accumulateWorldMatrix(chain[chain.leaf], start, EntityHandle {}, chain.world());
    Matrix4 shift;
    shift.m[12] = 10.0f;
    expectNear(start, shift * leafWorld);
}

TEST(TransformChain, AncestorHandleStopsTheWalkAfterTheTransformStoringIt)
{
    Chain chain;
    // The middle stores the root as its parent: the walk takes middle and leaf.
    Matrix4 m;
    Transform::accumulateWorldMatrix(chain[chain.leaf], m, chain.root, chain.world());
    expectNear(m, expectedLocalMatrix(chain[chain.middle]) * expectedLocalMatrix(chain[chain.leaf]));
    Quaternion q;
    Transform::accumulateWorldRotation(chain[chain.leaf], q, chain.middle, chain.world());
    EXPECT_EQ(q, chain[chain.leaf].rotation);
}

TEST(TransformChain, QuarterTurnOfTheParentTakesXToY)
{
    Scenario scene;
    const EntityHandle parent = scene.add("parent", { "Transform" });
    const EntityHandle child = scene.add("child", { "Transform" }, parent);
    scene.get<Transform>(parent).rotation = Quaternion::fromAxisAngle(kHalfPi, { 0, 0, 1 });
    scene.get<Transform>(child).position = { 1, 0, 0 };
    expectNear(Transform::localToWorld(scene.get<Transform>(child), {}, scene.world()), { 0, 1, 0 });
    expectNear(Transform::localToWorld(scene.get<Transform>(child), { 1, 0, 0 }, scene.world()), { 0, 2, 0 });
}

TEST(TransformChain, WorldRotationIsTheRotationOfTheWorldMatrix)
{
    Chain chain;
    for (EntityHandle e : { chain.root, chain.middle, chain.leaf }) {
        chain[e].scale = { 1, 1, 1 };
    }
    Matrix4 m;
    Transform::accumulateWorldMatrix(chain[chain.leaf], m, EntityHandle {}, chain.world());
    Quaternion q;
    Transform::accumulateWorldRotation(chain[chain.leaf], q, EntityHandle {}, chain.world());
    const Matrix4 rotation = q.toMatrix4();
    for (int column = 0; column < 3; ++column)
        for (int row = 0; row < 3; ++row)
            EXPECT_NEAR(rotation.m[column * 4 + row], m.m[column * 4 + row], 1e-5f);
}

TEST(TransformChain, WorldBasisColumnsAreTheLocalAxesInWorldSpace)
{
    Chain chain;
    Matrix4 m;
    Transform::accumulateWorldMatrix(chain[chain.leaf], m, EntityHandle {}, chain.world());
    Matrix3 basis;
    TransformComponent::worldBasis(chain[chain.leaf], basis, EntityHandle {}, chain.world());
    for (int column = 0; column < 3; ++column)
        for (int row = 0; row < 3; ++row)
            EXPECT_NEAR(basis.m[column * 3 + row], m.m[column * 4 + row], 1e-5f);
    const Vector3 v { 0.3f, -2, 5 };
    expectNear(TransformComponent::vectorToWorld(chain[chain.leaf], v, chain.world()), m.transformVector(v));
    expectNear(Transform::vectorToLocal(chain[chain.leaf],
                   TransformComponent::vectorToWorld(chain[chain.leaf], v, chain.world()), chain.world()),
        v);
}

TEST(TransformChain, VectorToLocalUsesASingularBasisAsItIs)
{
    Scenario scene;
    const EntityHandle flat = scene.add("flat", { "Transform" });
    scene.get<Transform>(flat).scale = { 2, 0, 1 };
    expectNear(Transform::vectorToLocal(scene.get<Transform>(flat), { 1, 1, 1 }, scene.world()), { 2, 0, 1 });
}

TEST(TransformChain, SetWorldPositionPlacesTheOriginAtThePoint)
{
    Chain chain;
    const Vector3 point { -4, 7, 0.5f };
    Transform::setWorldPosition(chain[chain.root], point, chain.world());
    expectNear(chain[chain.root].position, point);
    const Quaternion rotation = chain[chain.leaf].rotation;
    Transform::setWorldPosition(chain[chain.leaf], point, chain.world());
    expectNear(Transform::localToWorld(chain[chain.leaf], {}, chain.world()), point);
    EXPECT_EQ(chain[chain.leaf].rotation, rotation);

    // A singular parent matrix is used uninverted.
    chain[chain.middle].scale = { 0, 1, 1 };
    Matrix4 parent;
    Transform::accumulateWorldMatrix(chain[chain.middle], parent, EntityHandle {}, chain.world());
    Transform::setWorldPosition(chain[chain.leaf], point, chain.world());
    expectNear(chain[chain.leaf].position, parent.transformPoint(point));
}

// Parents that name no entity of the world end a walk as a root would; none
// of them may read outside the store or another entity's record.
TEST(TransformChain, ParentsNamingNoEntityEndTheWalk)
{
    const quern::u32 parents[] = {
        EntityHandle::make(0xffff, 3).value, // no index, with a generation
        EntityHandle::make(1, 0).value, // an index without a generation
        EntityHandle::make(0xffff, 0).value, EntityHandle::make(40, 1).value, // past the world's slots
        EntityHandle::make(0xfffe, 1).value, // far past the store
    };
    for (quern::u32 parent : parents) {
        SCOPED_TRACE(parent);
        Scenario scene(8);
        const EntityHandle other = scene.add("other", { "Transform" });
        scene.get<Transform>(other).position = { 100, 100, 100 };
        const EntityHandle e = scene.add("e", { "Transform" });
        Transform& t = scene.get<Transform>(e);
        t.position = { 1, 2, 3 };
        t.parent.value = parent;
        Matrix4 m;
        Transform::accumulateWorldMatrix(t, m, EntityHandle {}, scene.world());
        expectNear(m, expectedLocalMatrix(t));
        Quaternion q;
        Transform::accumulateWorldRotation(t, q, EntityHandle {}, scene.world());
        EXPECT_EQ(q, t.rotation);
        Transform::setWorldPosition(t, { 5, 6, 7 }, scene.world());
        expectNear(t.position, { 5, 6, 7 });
    }
}

using TransformChainDeathTest = ::testing::Test;

TEST(TransformChainDeathTest, ParentCycleIsFatalNamingTheEntity)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto walkCycle = [](int which) {
        Scenario scene(8);
        const EntityHandle a = scene.add("alpha", { "Transform" });
        const EntityHandle b = scene.add("beta", { "Transform" }, a);
        scene.setParent(a, b);
        const Transform& t = scene.get<Transform>(a);
        Matrix4 m;
        Quaternion q;
        Matrix3 basis;
        switch (which) {
        case 0:
            Transform::accumulateWorldMatrix(t, m, EntityHandle {}, scene.world());
            break;
        case 1:
            Transform::accumulateWorldRotation(t, q, EntityHandle {}, scene.world());
            break;
        case 2:
            TransformComponent::worldBasis(t, basis, EntityHandle {}, scene.world());
            break;
        }
    };
    for (int which = 0; which < 3; ++which)
        EXPECT_DEATH(walkCycle(which), "Transform parents of entity 0 \"alpha\" form a cycle") << which;
}

} // namespace

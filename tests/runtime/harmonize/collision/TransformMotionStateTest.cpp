// The motion state between a body and its entity's transform chain.

#include "harmonize/collision/TransformMotionState.h"

#include "harmonize/components/Components.h"

#include "harmonize/Scenario.h"

#include <gtest/gtest.h>

using namespace harmonize;
using harmonize::testing::Scenario;

namespace {

btTransform offsetBy(f32 x, f32 y, f32 z)
{
    return btTransform(btQuaternion::getIdentity(), btVector3(-x, -y, -z));
}

// A parent at (10, 0, 0) scaled (2, 2, 1) and turned a quarter about Z, a
// child at (1, 0, 0) in it with a scale of its own.
struct Chain {
    Chain()
    {
        parent = scene.add("parent", { "Transform" });
        child = scene.add("child", { "Transform" }, parent);
        Transform& p = scene.get<Transform>(parent);
        p.position = { 10, 0, 0 };
        p.scale = { 2, 2, 1 };
        p.rotation = { 0, 0, 0.70710678f, 0.70710678f };
        scene.get<Transform>(child).position = { 1, 0, 0 };
        scene.get<Transform>(child).scale = { 1, 3, 1 };
    }
    Transform& transform() { return scene.get<Transform>(child); }

    Scenario scene;
    EntityHandle parent, child;
};

TEST(TransformMotionState, ThePlacementHasTheChainsRotationWithoutItsScaleAndTheOffsetAdded)
{
    Chain c;
    const TransformMotionState state(c.transform(), c.scene.world(), offsetBy(0, 0, 0.5f));
    btTransform placement;
    state.getWorldTransform(placement);
    // (1, 0, 0) scaled by 2 and turned onto +Y: (10, 2, 0), then the offset.
    EXPECT_NEAR(placement.getOrigin().x(), 10.0f, 1e-5f);
    EXPECT_NEAR(placement.getOrigin().y(), 2.0f, 1e-5f);
    EXPECT_NEAR(placement.getOrigin().z(), 0.5f, 1e-5f);
    const btVector3 x = placement.getBasis().getColumn(0);
    const btVector3 y = placement.getBasis().getColumn(1);
    EXPECT_NEAR(x.y(), 1.0f, 1e-5f) << "local +X points along world +Y";
    EXPECT_NEAR(x.length(), 1.0f, 1e-5f);
    EXPECT_NEAR(y.x(), -1.0f, 1e-5f);
    EXPECT_NEAR(y.length(), 1.0f, 1e-5f);
    EXPECT_EQ(accumulatedScale(c.transform(), c.scene.world()), (quern::math::Vector3 { 2, 6, 1 }));
}

TEST(TransformMotionState, AZeroScaleFlattensItsAxisInsteadOfDividingByIt)
{
    Chain c;
    c.transform().scale = { 1, 0, 1 };
    const TransformMotionState state(c.transform(), c.scene.world(), offsetBy(0, 0, 0));
    btTransform placement;
    state.getWorldTransform(placement);
    EXPECT_EQ(placement.getBasis().getColumn(1), btVector3(0, 0, 0));
    EXPECT_NEAR(placement.getBasis().getColumn(0).length(), 1.0f, 1e-5f);
}

TEST(TransformMotionState, WritingBackMovesTheEntityInItsParentsSpaceAndKeepsItsRotation)
{
    Chain c;
    TransformMotionState state(c.transform(), c.scene.world(), offsetBy(0, 0, 0.5f));
    btTransform placement;
    state.getWorldTransform(placement);
    // What Bullet read comes back unchanged.
    state.setWorldTransform(placement);
    EXPECT_NEAR(c.transform().position.x, 1.0f, 1e-5f);
    EXPECT_NEAR(c.transform().position.y, 0.0f, 1e-5f);
    EXPECT_NEAR(c.transform().position.z, 0.0f, 1e-5f);
    // Up by 4 in the world: up by 2 along the parent's turned, doubled x.
    placement.setOrigin(placement.getOrigin() + btVector3(0, 4, 0));
    placement.setRotation(btQuaternion(btVector3(1, 0, 0), 1.0f));
    state.setWorldTransform(placement);
    EXPECT_NEAR(c.transform().position.x, 3.0f, 1e-5f);
    EXPECT_NEAR(c.transform().position.y, 0.0f, 1e-5f);
    EXPECT_EQ(c.transform().rotation.w, 1.0f);
}

} // namespace

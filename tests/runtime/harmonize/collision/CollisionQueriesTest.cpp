// Rays and sphere sweeps against a world of still boxes: what each query
// hits, its fixed or given length, its layer filter, and the hits it leaves
// out.

#include "CollisionWorld.h"

#include <gtest/gtest.h>

using namespace harmonize;
using harmonize::testing::CollisionWorld;
using quern::containers::Array;
using quern::math::Vector3;

namespace {

Array hitArray() { return Array(sizeof(CollisionHit), alignof(CollisionHit)); }

// Unit boxes on the +x axis: layer 0 at 10, layer 9 at 20, layer 8 at 30.
struct Corridor {
    Corridor()
    {
        near = w.box("near", { 10, 0, 0 }, { 1, 1, 1 });
        hidden = w.box("hidden", { 20, 0, 0 }, { 1, 1, 1 });
        w.setLayer(hidden, 9);
        player = w.box("player", { 30, 0, 0 }, { 1, 1, 1 });
        w.setLayer(player, 8);
        w.start();
    }
    CollisionWorld w;
    EntityHandle near, hidden, player;
};

TEST(CollisionQueries, RayCastReportsTheClosestHitWithItsPointAndNormal)
{
    Corridor c;
    CollisionHit hit {};
    ASSERT_TRUE(c.w.collision->rayCast({ 0, 0, 0 }, { 1, 0, 0 }, hit));
    EXPECT_EQ(hit.entity, c.near.value);
    EXPECT_NEAR(hit.point.x, 9.5f, 1e-4f);
    EXPECT_NEAR(hit.normal.x, -1.0f, 1e-4f);
    EXPECT_FALSE(c.w.collision->rayCast({ 0, 0, 0 }, { -1, 0, 0 }, hit));
}

TEST(CollisionQueries, ALayerNineBodyIsNeverHit)
{
    Corridor c;
    CollisionHit hit {};
    ASSERT_TRUE(c.w.collision->rayCast({ 15, 0, 0 }, { 1, 0, 0 }, hit));
    EXPECT_EQ(hit.entity, c.player.value);
    Array hits = hitArray();
    EXPECT_TRUE(c.w.collision->rayCastAll({ 15, 0, 0 }, { 1, 0, 0 }, hits, 100));
    ASSERT_EQ(hits.count(), 1u);
    EXPECT_EQ(hits.at<CollisionHit>(0).entity, c.player.value);
}

TEST(CollisionQueries, RayCastLooks2000AlongTheDirectionWhateverItsLength)
{
    struct Case {
        f32 boxAt, directionLength;
        bool hit;
    };
    const Case cases[] = { { 1500, 1, true }, { 2500, 1, false }, { 2500, 2, true }, { 4500, 2, false } };
    for (const Case& k : cases) {
        CollisionWorld w;
        w.box("far", { k.boxAt, 0, 0 }, { 1, 1, 1 });
        w.start();
        CollisionHit hit {};
        EXPECT_EQ(w.collision->rayCast({ 0, 0, 0 }, { k.directionLength, 0, 0 }, hit), k.hit) << k.boxAt;
    }
}

TEST(CollisionQueries, RayCastAllAppendsEveryHitWithinItsLength)
{
    Corridor c;
    Array hits = hitArray();
    const CollisionHit kept { 7, { 1, 2, 3 }, { 0, 1, 0 } };
    hits.push(&kept);
    EXPECT_TRUE(c.w.collision->rayCastAll({ 0, 0, 0 }, { 1, 0, 0 }, hits, 15));
    ASSERT_EQ(hits.count(), 2u);
    EXPECT_EQ(hits.at<CollisionHit>(0).entity, 7u) << "appended, not cleared";
    EXPECT_EQ(hits.at<CollisionHit>(1).entity, c.near.value);
    EXPECT_NEAR(hits.at<CollisionHit>(1).point.x, 9.5f, 1e-4f);

    // Twice the direction, twice the reach.
    hits.clear();
    EXPECT_TRUE(c.w.collision->rayCastAll({ 0, 0, 0 }, { 2, 0, 0 }, hits, 15));
    EXPECT_EQ(hits.count(), 2u);
    EXPECT_FALSE(c.w.collision->rayCastAll({ 0, 0, 0 }, { 0, 1, 0 }, hits, 100));
}

TEST(CollisionQueries, SphereCastSeesOnlyLayerEight)
{
    Corridor c;
    CollisionHit hit {};
    ASSERT_TRUE(c.w.collision->sphereCast({ 0, 0, 0 }, 0.5f, { 1, 0, 0 }, hit, 100));
    EXPECT_EQ(hit.entity, c.player.value);
    EXPECT_NEAR(hit.point.x, 29.5f, 1e-3f);
    EXPECT_FALSE(c.w.collision->sphereCast({ 0, 0, 0 }, 0.5f, { 1, 0, 0 }, hit, 20)) << "layer 0 and 9 only";
    EXPECT_TRUE(c.w.collision->sphereCast({ 0, 0, 0 }, 0.5f, { 2, 0, 0 }, hit, 20));
}

TEST(CollisionQueries, SphereCastFollowsLayerEightBodiesAsTheyLeaveComeBackAndMove)
{
    Corridor c;
    const EntityHandle second = c.w.box("second", { 40, 0, 0 }, { 1, 1, 1 });
    c.w.setLayer(second, 8);
    c.w.world().activateEntities(&second, 1);
    c.w.tick();
    CollisionHit hit {};
    c.w.collision->removeBody(c.player);
    ASSERT_TRUE(c.w.collision->sphereCast({ 0, 0, 0 }, 0.5f, { 1, 0, 0 }, hit, 100));
    EXPECT_EQ(hit.entity, second.value) << "the removed body is no longer swept";
    c.w.collision->restoreSnapshot(c.w.world());
    ASSERT_TRUE(c.w.collision->sphereCast({ 0, 0, 0 }, 0.5f, { 1, 0, 0 }, hit, 100));
    EXPECT_EQ(hit.entity, c.player.value);
    // A sweep that passes the body finds nothing, one that grazes it does.
    EXPECT_FALSE(c.w.collision->sphereCast({ 0, 5, 0 }, 0.5f, { 1, 0, 0 }, hit, 100));
    EXPECT_TRUE(c.w.collision->sphereCast({ 0, 0.9f, 0 }, 0.5f, { 1, 0, 0 }, hit, 100));
}

TEST(CollisionQueries, SphereCastAllSweepsARadiusOfTwoTenthsWhateverItIsGiven)
{
    CollisionWorld w;
    // Their lower faces 0.1 and 0.3 above the sweep's line.
    const EntityHandle grazed = w.box("grazed", { 10, 0.6f, 0 }, { 1, 1, 1 });
    w.box("missed", { 20, 0.8f, 0 }, { 1, 1, 1 });
    w.start();
    Array hits = hitArray();
    EXPECT_TRUE(w.collision->sphereCastAll({ 0, 0, 0 }, 5.0f, { 1, 0, 0 }, hits, 30));
    ASSERT_EQ(hits.count(), 1u);
    EXPECT_EQ(hits.at<CollisionHit>(0).entity, grazed.value);
    // The sweep catches the box's lower front edge: a normal facing back and down.
    EXPECT_LT(hits.at<CollisionHit>(0).normal.x, 0.0f);
    EXPECT_LT(hits.at<CollisionHit>(0).normal.y, 0.0f);
    EXPECT_NEAR(hits.at<CollisionHit>(0).point.x, 9.5f, 0.05f);

    hits.clear();
    EXPECT_FALSE(w.collision->sphereCastAll({ 0, 0, 0 }, 5.0f, { 1, 0, 0 }, hits, 5));
    EXPECT_TRUE(w.collision->sphereCastAll({ 0, 0, 0 }, 5.0f, { 2, 0, 0 }, hits, 5));
}

// Bullet drops any hit farther than the callback's closest fraction, so a
// collector that lowered it would lose bodies behind the first one it met.
TEST(CollisionQueries, SphereCastAllReportsEveryBodyOnThePathWhateverTheOrderMade)
{
    const int orders[][5] = { { 0, 1, 2, 3, 4 }, { 4, 3, 2, 1, 0 }, { 2, 0, 4, 1, 3 }, { 3, 4, 0, 2, 1 } };
    for (const auto& order : orders) {
        CollisionWorld w;
        for (int i : order)
            w.box("box", { 5.0f + 5.0f * static_cast<f32>(i), 0, 0 }, { 1, 1, 1 });
        w.start();
        Array hits = hitArray();
        EXPECT_TRUE(w.collision->sphereCastAll({ 0, 0, 0 }, 0.2f, { 1, 0, 0 }, hits, 40));
        EXPECT_EQ(hits.count(), 5u) << "made in order " << order[0] << order[1] << order[2] << order[3] << order[4];
    }
}

TEST(CollisionQueries, ParticleBodiesAreHitButNeverReported)
{
    CollisionWorld w;
    f32 px[1] = { 5 }, py[1] = { 0 }, pz[1] = { 0 }, vx[1] = {}, vy[1] = {}, vz[1] = {};
    const u32 slots[1] = { 0 };
    ParticlePoolView pool { px, py, pz, vx, vy, vz, slots, 1, 1 };
    w.start();
    w.collision->registerParticlePool(&pool, &pool, nullptr);
    w.tick();
    CollisionHit hit {};
    EXPECT_FALSE(w.collision->rayCast({ 0, 0, 0 }, { 1, 0, 0 }, hit));
    EXPECT_EQ(hit.entity, 0xffffffffu) << "the handle is written even when it is not valid";
    Array hits = hitArray();
    EXPECT_TRUE(w.collision->rayCastAll({ 0, 0, 0 }, { 1, 0, 0 }, hits, 10));
    EXPECT_EQ(hits.count(), 0u);
    EXPECT_FALSE(w.collision->sphereCastAll({ 0, 0, 0 }, 0, { 1, 0, 0 }, hits, 10));
}

TEST(CollisionQueries, QueriesOutsideALevelFindNothing)
{
    CollisionWorld w;
    CollisionHit hit {};
    Array hits = hitArray();
    EXPECT_FALSE(w.collision->rayCast({ 0, 0, 0 }, { 1, 0, 0 }, hit));
    EXPECT_FALSE(w.collision->rayCastAll({ 0, 0, 0 }, { 1, 0, 0 }, hits, 10));
    EXPECT_FALSE(w.collision->sphereCast({ 0, 0, 0 }, 1, { 1, 0, 0 }, hit, 10));
    EXPECT_FALSE(w.collision->sphereCastAll({ 0, 0, 0 }, 1, { 1, 0, 0 }, hits, 10));
}

TEST(CollisionQueries, TheValidHandleRule)
{
    EXPECT_TRUE(isValidHitHandle(0x00010000u));
    EXPECT_TRUE(isValidHitHandle(0xfffffffeu));
    EXPECT_FALSE(isValidHitHandle(0xffffffffu)) << "index 0xffff";
    EXPECT_FALSE(isValidHitHandle(0x0000fffeu)) << "generation 0";
    EXPECT_FALSE(isValidHitHandle(0u));
}

} // namespace

#include "harmonize/systems/ParticleSimulation.h"

#include "quern/memory/DefaultAllocator.h"
#include "quern/physics/particles/ParticlePool.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace harmonize {
namespace {

using quern::math::Matrix3;
using quern::particles::ParticlePool;

// A pool whose particle i sits at (i, 0, 0) with a life of its own.
struct SimulationPool : ::testing::Test {
    ~SimulationPool() override { pool.release(); }

    void fill(std::initializer_list<f32> remaining, bool withRects = false)
    {
        pool.init(quern::memory::getDefaultAllocator(), 8, withRects);
        for (f32 life : remaining) {
            const u64 i = pool.count++;
            for (f32* channel : { pool.x, pool.y, pool.z, pool.vx, pool.vy, pool.vz, pool.rotation, pool.spin, pool.r,
                     pool.g, pool.b, pool.a })
                channel[i] = 0.0f;
            pool.x[i] = static_cast<f32>(i);
            pool.size[i] = 1.0f;
            pool.lifetime[i] = 1.0f;
            pool.remaining[i] = life;
            if (withRects)
                for (int k = 0; k < 4; ++k)
                    pool.uvRects[i * 4 + k] = static_cast<f32>(i * 10 + k);
        }
    }

    ParticlePool pool;
};

TEST(ParticleEmission, AccumulatorCarriesFractionsToLaterFrames)
{
    // 2.5 per second at 0.1 s: one particle every fourth frame.
    f32 accumulator = 0.0f;
    int emittedOn[3] = {};
    int emitted = 0;
    for (int frame = 1; frame <= 12; ++frame)
        if (const u64 n = takeEmission(accumulator, 2.5f, 0.1f, 100); n > 0) {
            EXPECT_EQ(n, 1u);
            emittedOn[emitted++] = frame;
        }
    EXPECT_EQ(emitted, 3);
    EXPECT_EQ(emittedOn[0], 4);
    EXPECT_EQ(emittedOn[1], 8);
    EXPECT_EQ(emittedOn[2], 12);
}

TEST(ParticleEmission, WholeParticlesBeyondTheRoomAreDropped)
{
    struct Case {
        f32 accumulator, rate, dt;
        u64 room;
        u64 expected;
        f32 left;
    };
    const Case cases[] = {
        { 0.0f, 30.0f, 0.1f, 100, 3, 0.0f },
        { 0.0f, 30.0f, 0.1f, 2, 2, 0.0f }, // the third is lost, not carried
        { 0.5f, 10.0f, 0.1f, 0, 0, 0.5f },
        { 0.25f, 0.0f, 0.1f, 10, 0, 0.25f },
    };
    for (const Case& c : cases) {
        f32 accumulator = c.accumulator;
        EXPECT_EQ(takeEmission(accumulator, c.rate, c.dt, c.room), c.expected) << c.rate << " " << c.room;
        EXPECT_NEAR(accumulator, c.left, 1e-5f);
    }
}

TEST_F(SimulationPool, AgeingReplacesADeadParticleByTheLastInTheSameFrame)
{
    fill({ 0.5f, 0.05f, 0.5f, 0.05f }, true);
    ageParticles(pool, 0.1f);
    // Particle 1 died and particle 3 (also dead after its step) came first,
    // then particle 2 took the place.
    ASSERT_EQ(pool.count, 2u);
    EXPECT_EQ(pool.x[0], 0.0f);
    EXPECT_EQ(pool.x[1], 2.0f);
    EXPECT_FLOAT_EQ(pool.remaining[1], 0.4f);
    EXPECT_EQ(pool.uvRects[4], 20.0f);
    EXPECT_EQ(pool.uvRects[7], 23.0f);
    // The slot indices stay a permutation: live slots first, then the free ones.
    EXPECT_EQ(pool.indices[0], 0u);
    EXPECT_EQ(pool.indices[1], 2u);
    std::vector<bool> seen(8, false);
    for (u64 i = 0; i < pool.capacity; ++i)
        seen[pool.indices[i]] = true;
    for (bool s : seen)
        EXPECT_TRUE(s);
}

TEST_F(SimulationPool, AgeingAgesEveryParticleOnceAndKillsNotANumber)
{
    fill({ 1.0f, std::numeric_limits<f32>::quiet_NaN(), 0.3f });
    ageParticles(pool, 0.25f);
    ASSERT_EQ(pool.count, 2u);
    EXPECT_FLOAT_EQ(pool.remaining[0], 0.75f);
    EXPECT_FLOAT_EQ(pool.remaining[1], 0.05f);
    EXPECT_EQ(pool.x[1], 2.0f);
}

TEST_F(SimulationPool, SizeIsCappedAndNeverNegativeWhileBoundsUseTheGrownSize)
{
    struct Case {
        f32 growth, maxSize;
        f32 size, halfWidth;
    };
    const Case cases[] = {
        { 10.0f, 3.0f, 3.0f, 3.0f }, // grown to 6, capped to 3; the box uses 6
        { -20.0f, 50.0f, 0.0f, 0.0f }, // shrunk below 0: held at 0, the box a point
        { 0.0f, 50.0f, 1.0f, 0.5f },
    };
    for (const Case& c : cases) {
        fill({ 1.0f });
        ParticleMotion motion;
        motion.dt = 0.5f;
        motion.growth = c.growth;
        motion.maxSize = c.maxSize;
        const ParticleBounds bounds = moveParticles(pool, motion);
        EXPECT_EQ(pool.size[0], c.size) << c.growth;
        EXPECT_FLOAT_EQ(bounds.max.x, c.halfWidth) << c.growth;
        pool.release();
    }
}

TEST_F(SimulationPool, MotionKeepsVelocityAddsAccelerationAndSpins)
{
    fill({ 1.0f });
    pool.vx[0] = 2.0f;
    pool.spin[0] = 180.0f;
    ParticleSettings settings {};
    settings.velocityKept = 0.5f;
    settings.acceleration = { 0.0f, -10.0f, 0.0f };
    settings.swirl = { 0.0f, 0.0f, 90.0f };
    u64 random = 1234567;
    const ParticleMotion motion = makeParticleMotion(settings, Matrix3::identity(), 0.1f, 50.0f, random);
    EXPECT_NE(random, 1234567u);
    EXPECT_FLOAT_EQ(motion.keep, 0.95f);
    moveParticles(pool, motion);
    // v = (1.9, -1, 0), then a quarter turn about z: (1, 1.9, 0).
    EXPECT_NEAR(pool.vx[0], 1.0f, 1e-5f);
    EXPECT_NEAR(pool.vy[0], 1.9f, 1e-5f);
    EXPECT_NEAR(pool.x[0], 0.1f, 1e-5f);
    EXPECT_NEAR(pool.rotation[0], 3.1415927f * 0.1f, 1e-6f);
}

TEST(ParticleMotion, JitterStaysInsideItsRangeAndAdvancesThreeSteps)
{
    ParticleSettings settings {};
    settings.randomAcceleration = { -2.0f, 0.0f, 4.0f }; // the sign is ignored
    u64 random = 99;
    u64 expected = 99;
    for (int k = 0; k < 3; ++k)
        expected = expected * 4561u + 51349u;
    for (int n = 0; n < 50; ++n) {
        const u64 before = random;
        const ParticleMotion m = makeParticleMotion(settings, Matrix3::identity(), 1.0f, 50.0f, random);
        if (n == 0) {
            EXPECT_EQ(random, expected);
        }
        EXPECT_NE(before, random);
        EXPECT_LE(std::fabs(m.acceleration.x), 2.0f);
        EXPECT_EQ(m.acceleration.y, 0.0f);
        EXPECT_LE(std::fabs(m.acceleration.z), 4.0f);
    }
}

TEST_F(SimulationPool, ColourOverLifeBlendsNeighbouringKeysAndTints)
{
    fill({ 1.0f, 0.5f, 0.0f });
    ParticleSettings settings {};
    settings.colourKeyCount = 2;
    const f32 first[4] = { 1, 0, 0, 1 };
    const f32 second[4] = { 0, 0, 1, 0 };
    std::copy(first, first + 4, settings.colourKeys[0]);
    std::copy(second, second + 4, settings.colourKeys[1]);
    const f32 tint[4] = { 0.5f, 1, 1, 0.25f };
    applyColourOverLife(pool, settings, tint);
    EXPECT_FLOAT_EQ(pool.r[0], 0.5f);
    EXPECT_FLOAT_EQ(pool.a[0], 1.0f); // alpha is not tinted
    EXPECT_FLOAT_EQ(pool.r[1], 0.25f);
    EXPECT_FLOAT_EQ(pool.b[1], 0.5f);
    EXPECT_FLOAT_EQ(pool.a[1], 0.5f);
    EXPECT_FLOAT_EQ(pool.b[2], 1.0f);
    EXPECT_FLOAT_EQ(pool.a[2], 0.0f);
}

TEST_F(SimulationPool, ColourKeyCountsOutsideTheirRangeReadNoFurtherThanTheKeys)
{
    // Counts of 0 or below read key 0; counts above 8 read keys 0 to 7; a
    // particle at its end reads the last key, never the one past it.
    struct Case {
        i32 count;
        f32 redAtEnd;
    };
    const Case cases[] = { { 0, 0.0f }, { -5, 0.0f }, { 1, 0.0f }, { 8, 7.0f }, { 1000, 7.0f } };
    for (const Case& c : cases) {
        fill({ 0.0f, 1.0f });
        ParticleSettings settings {};
        for (int k = 0; k < 8; ++k)
            settings.colourKeys[k][0] = static_cast<f32>(k);
        settings.colourKeyCount = c.count;
        const f32 tint[4] = { 1, 1, 1, 1 };
        applyColourOverLife(pool, settings, tint);
        EXPECT_EQ(pool.r[0], c.redAtEnd) << c.count;
        EXPECT_EQ(pool.r[1], 0.0f) << c.count;
        pool.release();
    }
}

TEST_F(SimulationPool, SpriteCellsFollowTheAgeAcrossTheSheet)
{
    // A 2 x 2 sheet once over the life: ages 0, 0.25, 0.5 and 0.75 show the
    // four cells in reading order.
    fill({ 1.0f, 0.75f, 0.5f, 0.25f }, true);
    ParticleAppearance appearance {};
    appearance.tilesAcross = 2;
    appearance.tilesDown = 2;
    appearance.sheetCycles = 1.0f;
    applySpriteCells(pool, appearance);
    const f32 expected[4][4] = { { 0, 0, 0.5f, 0.5f }, { 0.5f, 0, 1, 0.5f }, { 0, 0.5f, 0.5f, 1 }, { 0.5f, 0.5f, 1, 1 } };
    for (u64 i = 0; i < 4; ++i)
        for (int k = 0; k < 4; ++k)
            EXPECT_FLOAT_EQ(pool.uvRects[i * 4 + k], expected[i][k]) << i << " " << k;
}

TEST_F(SimulationPool, SpriteSheetWithoutTilesOneWayKeepsToTheSheet)
{
    fill({ 0.5f }, true);
    ParticleAppearance appearance {};
    appearance.tilesAcross = 4;
    appearance.tilesDown = 0;
    appearance.sheetCycles = -0.75f;
    applySpriteCells(pool, appearance);
    for (int k = 0; k < 4; ++k) {
        EXPECT_TRUE(std::isfinite(pool.uvRects[k]));
        EXPECT_GE(pool.uvRects[k], 0.0f);
        EXPECT_LE(pool.uvRects[k], 1.0f);
    }
}

TEST(ParticleBoundsSphere, EmptyPoolGivesUnitSphereAtOrigin)
{
    f32 centre[3] = { 5, 5, 5 };
    f32 radius = 0;
    boundingSphereOf(ParticleBounds {}, 0, centre, radius);
    EXPECT_EQ(centre[0], 0.0f);
    EXPECT_EQ(radius, 1.0f);
    ParticleBounds box;
    box.min = { 0, 0, 0 };
    box.max = { 2, 4, 4 };
    boundingSphereOf(box, 3, centre, radius);
    EXPECT_EQ(centre[1], 2.0f);
    EXPECT_FLOAT_EQ(radius, 3.0f);
}

} // namespace
} // namespace harmonize

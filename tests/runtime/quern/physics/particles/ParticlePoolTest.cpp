#include "quern/physics/particles/ParticlePool.h"
#include "quern/graphics/BatchVertex.h"
#include "quern/physics/particles/ParticleEmitter.h"
#include "support/CountingAllocator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace quern::test {
namespace {

using graphics::BatchVertex;
using particles::EllipsoidEmitter;
using particles::EmissionSettings;
using particles::ParticleEmitter;
using particles::ParticlePool;
using particles::SphereEmitter;

struct PoolFixture : ::testing::Test {
    ~PoolFixture() override { pool.release(); }
    testing::CountingAllocator allocator;
    ParticlePool pool;
};

using ParticlePoolTest = PoolFixture;

TEST_F(ParticlePoolTest, InitTakesSeparateAlignedChannelsAndReleaseGivesThemBack)
{
    pool.init(&allocator, 10, true);
    EXPECT_EQ(allocator.live, 17);
    for (const void* p : { (void*)pool.x, (void*)pool.vz, (void*)pool.a, (void*)pool.uvRects, (void*)pool.remaining,
             (void*)pool.indices })
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 16, 0u);
    for (u32 i = 0; i < 10; ++i)
        EXPECT_EQ(pool.indices[i], i);
    EXPECT_EQ(pool.count, 0u);
    pool.release();
    EXPECT_EQ(allocator.live, 0);

    pool.init(&allocator, 4, false);
    EXPECT_EQ(pool.uvRects, nullptr);
    EXPECT_EQ(allocator.live, 16);
}

TEST_F(ParticlePoolTest, EmitStopsAtTheFreeRoom)
{
    pool.init(&allocator, 4, false);
    ParticleEmitter emitter;
    EmissionSettings settings;
    EXPECT_EQ(emitter.emit(settings, 3, pool), 3u);
    const u64 stateAfterThree = emitter.random;
    EXPECT_EQ(emitter.emit(settings, 5, pool), 1u);
    EXPECT_EQ(pool.count, 4u);
    EXPECT_EQ(emitter.emit(settings, 2, pool), 0u);
    EXPECT_EQ(pool.count, 4u);
    // One more particle drew its attributes, nothing beyond it.
    u64 expected = stateAfterThree;
    for (int draw = 0; draw < 6; ++draw)
        particles::nextUnit(expected);
    EXPECT_EQ(emitter.random, expected);
}

TEST_F(ParticlePoolTest, AttributesFollowTheSettingsAndTheOrderOfDraws)
{
    pool.init(&allocator, 4, false);
    EmissionSettings settings;
    settings.lifetimeMinimum = settings.lifetimeMaximum = 2.5f;
    settings.velocityBase[0] = 1;
    settings.velocityBase[1] = -2;
    settings.velocityBase[2] = 3;
    settings.spinBase = 0.75f;
    settings.colour[1] = 0.25f;
    ParticleEmitter emitter;
    emitter.emit(settings, 1, pool);
    EXPECT_EQ(pool.lifetime[0], 2.5f);
    EXPECT_EQ(pool.remaining[0], 2.5f);
    EXPECT_EQ(pool.vx[0], 1.0f);
    EXPECT_EQ(pool.vy[0], -2.0f);
    EXPECT_EQ(pool.vz[0], 3.0f);
    EXPECT_EQ(pool.spin[0], 0.75f);
    EXPECT_EQ(pool.rotation[0], 0.0f);
    EXPECT_EQ(pool.g[0], 0.25f);
    EXPECT_EQ(pool.x[0], 0.0f);

    // Maximum below minimum: the lifetime is the first unit number itself.
    settings.lifetimeMinimum = 5;
    settings.lifetimeMaximum = 1;
    u64 state = emitter.random;
    const f32 unit = particles::nextUnit(state);
    emitter.emit(settings, 1, pool);
    EXPECT_EQ(pool.lifetime[1], unit);

    // The rotation flag adds exactly one draw per particle.
    ParticleEmitter plain, rotating;
    settings.randomRotation = 1;
    rotating.emit(settings, 1, pool);
    settings.randomRotation = 0;
    plain.emit(settings, 1, pool);
    particles::nextUnit(plain.random);
    EXPECT_EQ(rotating.random, plain.random);
    EXPECT_GE(pool.rotation[2], 0.0f);
    EXPECT_LT(pool.rotation[2], 6.2831855f);
}

TEST_F(ParticlePoolTest, SameSeedGivesTheSameStream)
{
    pool.init(&allocator, 8, false);
    EmissionSettings settings;
    settings.lifetimeMaximum = 4;
    settings.velocitySpread[0] = settings.velocitySpread[1] = settings.velocitySpread[2] = 2;
    SphereEmitter a, b;
    a.emit(settings, 4, pool);
    b.emit(settings, 4, pool);
    for (u64 i = 0; i < 4; ++i) {
        EXPECT_EQ(pool.x[i], pool.x[i + 4]);
        EXPECT_EQ(pool.vy[i], pool.vy[i + 4]);
        EXPECT_EQ(pool.lifetime[i], pool.lifetime[i + 4]);
    }
}

TEST_F(ParticlePoolTest, SpherePointsLieInTheBallAroundPositionAndOffset)
{
    pool.init(&allocator, 500, false);
    SphereEmitter emitter;
    emitter.radius = 2.0f;
    emitter.position[0] = 10;
    emitter.offset[2] = -5;
    emitter.emit(EmissionSettings {}, 500, pool);
    f32 farthest = 0;
    for (u64 i = 0; i < pool.count; ++i) {
        const f32 d = std::sqrt(
            (pool.x[i] - 10) * (pool.x[i] - 10) + pool.y[i] * pool.y[i] + (pool.z[i] + 5) * (pool.z[i] + 5));
        EXPECT_LE(d, 2.0001f);
        farthest = std::max(farthest, d);
    }
    EXPECT_GT(farthest, 1.5f);
}

TEST_F(ParticlePoolTest, EllipsoidPointsLieInTheEllipsoidAroundTheSettingsPosition)
{
    pool.init(&allocator, 500, false);
    EllipsoidEmitter emitter;
    emitter.extents[0] = 4;
    emitter.extents[1] = 1;
    emitter.extents[2] = 0.5f;
    EmissionSettings settings;
    settings.position[1] = 3;
    emitter.emit(settings, 500, pool);
    f32 widest = 0;
    for (u64 i = 0; i < pool.count; ++i) {
        const f32 x = pool.x[i] / 4, y = (pool.y[i] - 3) / 1, z = pool.z[i] / 0.5f;
        EXPECT_LE(x * x + y * y + z * z, 1.0001f);
        widest = std::max(widest, std::fabs(pool.x[i]));
    }
    EXPECT_GT(widest, 2.0f);
}

TEST_F(ParticlePoolTest, BuildQuadsMakesTurnedSquaresWithPackedColours)
{
    pool.init(&allocator, 2, true);
    pool.count = 2;
    for (u64 i = 0; i < 2; ++i) {
        pool.x[i] = 1;
        pool.y[i] = 2;
        pool.z[i] = 3;
        pool.size[i] = 2;
        pool.r[i] = 1;
        pool.g[i] = 0.5f;
        pool.b[i] = 0;
        pool.a[i] = 1;
    }
    pool.rotation[0] = 0;
    pool.rotation[1] = 1.5707964f;
    const f32 rect[4] = { 0.25f, 0.5f, 0.75f, 1.0f };
    for (int k = 0; k < 4; ++k)
        pool.uvRects[4 + k] = rect[k];
    pool.uvRects[0] = pool.uvRects[1] = 0;
    pool.uvRects[2] = pool.uvRects[3] = 1;

    BatchVertex v[8];
    pool.buildQuads(v);
    const f32 unturned[4][2] = { { 0, 1 }, { 2, 1 }, { 2, 3 }, { 0, 3 } };
    const f32 turned[4][2] = { { 2, 1 }, { 2, 3 }, { 0, 3 }, { 0, 1 } };
    const f32 uvs[4][2] = { { 0.25f, 0.5f }, { 0.75f, 0.5f }, { 0.75f, 1.0f }, { 0.25f, 1.0f } };
    for (int k = 0; k < 4; ++k) {
        EXPECT_FLOAT_EQ(v[k].x, unturned[k][0]);
        EXPECT_FLOAT_EQ(v[k].y, unturned[k][1]);
        EXPECT_NEAR(v[4 + k].x, turned[k][0], 1e-5f);
        EXPECT_NEAR(v[4 + k].y, turned[k][1], 1e-5f);
        EXPECT_EQ(v[k].z, 3.0f);
        EXPECT_EQ(v[4 + k].u, uvs[k][0]);
        EXPECT_EQ(v[4 + k].v, uvs[k][1]);
        EXPECT_EQ(v[k].colour[0], 255);
        EXPECT_EQ(v[k].colour[1], 128);
        EXPECT_EQ(v[k].colour[2], 0);
        EXPECT_EQ(v[k].colour[3], 255);
    }
}

TEST_F(ParticlePoolTest, QuadsWithoutRectanglesCoverTheWholeTexture)
{
    pool.init(&allocator, 1, false);
    pool.count = 1;
    pool.x[0] = pool.y[0] = pool.z[0] = pool.rotation[0] = 0;
    pool.size[0] = 1;
    pool.r[0] = pool.g[0] = pool.b[0] = pool.a[0] = 1;
    BatchVertex v[4];
    pool.buildQuads(v);
    const f32 uvs[4][2] = { { 0, 0 }, { 1, 0 }, { 1, 1 }, { 0, 1 } };
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(v[k].u, uvs[k][0]);
        EXPECT_EQ(v[k].v, uvs[k][1]);
    }
}

// Blocks of eight (where the processor has them), of four and the particles
// after them must give the same bits as the one-particle sine, cosine and
// colour bytes, whatever the angle.
TEST_F(ParticlePoolTest, EveryParticleTurnsByTheSameBitsInBlocksAndAfterThem)
{
    constexpr u64 kCount = 15; // eight, four and three
    for (const bool rectangles : { false, true }) {
        SCOPED_TRACE(rectangles ? "with texture rectangles" : "plain");
        pool.release();
        pool.init(&allocator, kCount, rectangles);
        pool.count = kCount;
        const f32 angles[kCount] = { 0, -0.5f, 1.5707964f, -1.5707964f, 3.1415927f, -3.1415927f, 7.853982f, -40.3f,
            100.0f, 2.3561945f, -2.3561945f, 0.75f, -7.853982f, 1000.0f, 4.712389f };
        for (u64 i = 0; i < kCount; ++i) {
            const f32 f = static_cast<f32>(i);
            pool.x[i] = f;
            pool.y[i] = -f * 0.5f;
            pool.z[i] = 1 + f;
            pool.size[i] = 0.25f + f;
            pool.rotation[i] = angles[i];
            pool.r[i] = f / 14;
            pool.g[i] = 1 - f / 14;
            pool.b[i] = 0.5f;
            pool.a[i] = f / 17;
            if (rectangles)
                for (u64 k = 0; k < 4; ++k)
                    pool.uvRects[i * 4 + k] = f / 16 + static_cast<f32>(k) / 4;
        }
        BatchVertex v[kCount * 4];
        pool.buildQuads(v);
        for (u64 i = 0; i < kCount; ++i) {
            f32 s, c;
            particles::fastSinCos(angles[i], s, c);
            const f32 h = 0.5f * pool.size[i];
            const f32 ax = c * h, ay = s * h, bx = -s * h, by = c * h;
            const f32 corners[4][2] = { { pool.x[i] - ax - bx, pool.y[i] - ay - by },
                { pool.x[i] + ax - bx, pool.y[i] + ay - by }, { pool.x[i] + ax + bx, pool.y[i] + ay + by },
                { pool.x[i] - ax + bx, pool.y[i] - ay + by } };
            const f32 plain[4] = { 0, 0, 1, 1 };
            const f32* rect = rectangles ? pool.uvRects + i * 4 : plain;
            const f32 uvs[4][2] = { { rect[0], rect[1] }, { rect[2], rect[1] }, { rect[2], rect[3] }, { rect[0], rect[3] } };
            u8 colour[4];
            graphics::packColour(colour, pool.r[i], pool.g[i], pool.b[i], pool.a[i]);
            for (int k = 0; k < 4; ++k) {
                const BatchVertex& got = v[i * 4 + k];
                SCOPED_TRACE(::testing::Message() << "particle " << i << " corner " << k);
                EXPECT_EQ(got.x, corners[k][0]);
                EXPECT_EQ(got.y, corners[k][1]);
                EXPECT_EQ(got.z, pool.z[i]);
                EXPECT_EQ(std::memcmp(got.colour, colour, 4), 0);
                EXPECT_EQ(got.u, uvs[k][0]);
                EXPECT_EQ(got.v, uvs[k][1]);
            }
        }
    }
}

TEST(FastSinCos, MatchesTheLibraryOverSeveralTurns)
{
    struct Case {
        f32 angle, sine, cosine;
    };
    const Case exact[] = { { 0, 0, 1 }, { 3.1415927f, 0, -1 }, { 1.5707964f, 1, 0 } };
    for (const Case& c : exact) {
        f32 s, co;
        particles::fastSinCos(c.angle, s, co);
        EXPECT_NEAR(s, c.sine, 1e-6f) << c.angle;
        EXPECT_NEAR(co, c.cosine, 1e-6f) << c.angle;
    }
    for (f32 angle = -20.0f; angle <= 20.0f; angle += 0.01f) {
        f32 s, co;
        particles::fastSinCos(angle, s, co);
        ASSERT_NEAR(s, std::sin(angle), 2e-6f) << angle;
        ASSERT_NEAR(co, std::cos(angle), 2e-6f) << angle;
    }
}

} // namespace
} // namespace quern::test

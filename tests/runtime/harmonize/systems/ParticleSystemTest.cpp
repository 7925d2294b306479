#include "harmonize/systems/ParticleSystem.h"

#include "harmonize/collision/CollisionSystem.h"

#include "harmonize/tasks/TaskDispatcher.h"
#include "quern/graphics/BatchVertex.h"
#include "quern/graphics/IndexBuffer.h"
#include "quern/visuals/SubMesh.h"
#include "quern/visuals/Visual.h"

#include "RenderWorld.h"

#include <gtest/gtest.h>

#include <btBulletDynamicsCommon.h>

#include <cstring>
#include <vector>

namespace harmonize {
namespace {

using testing::RenderWorld;
using Lock = quern::containers::BufferBase::Lock;

constexpr f32 kFrame = 0.1f;

// The render test world with a particle system after the render system.
struct ParticleWorld {
    explicit ParticleWorld(TaskDispatcher* dispatcher = nullptr, bool colliding = false)
        : w(32, dispatcher)
    {
        // The collision system stands before the particles, as in the game.
        if (colliding) {
            collision = new CollisionSystem(w.context);
            w.context.collision = collision;
            w.scene.addSystem(collision);
        }
        particles = new ParticleSystem(w.context);
        w.scene.addSystem(particles);
    }

    // An emitter of `rate` particles a second living `lifetime` seconds.
    EntityHandle addEmitter(f32 rate, f32 lifetime, bool withSettings = true, EntityHandle parent = {})
    {
        std::initializer_list<const char*> plain = { "Transform", "Renderer", "ParticleSpawner", "ParticleAppearance" };
        std::initializer_list<const char*> full
            = { "Transform", "Renderer", "ParticleSpawner", "ParticleAppearance", "ParticleSettings" };
        const EntityHandle e = w.scene.add("emitter", withSettings ? full : plain, parent);
        ParticleSpawner& spawner = w.scene.get<ParticleSpawner>(e);
        spawner.emissionRateLower = spawner.emissionRateUpper = rate;
        spawner.lifetimeLower = spawner.lifetimeUpper = lifetime;
        spawner.sizeLower = spawner.sizeUpper = 1.0f;
        spawner.emit = 1;
        if (withSettings) {
            ParticleSettings& settings = w.scene.get<ParticleSettings>(e);
            settings.velocityKept = 1.0f;
            settings.colourKeyCount = 1;
        }
        return e;
    }

    void frame(f32 dt = kFrame)
    {
        w.world().clock.deltaSeconds = dt;
        time += static_cast<u64>(dt * 1e6f);
        w.updateAt(time);
    }

    u64 live(EntityHandle e) const
    {
        const ParticleEmitterRecord* record = particles->emitter(e.index());
        return record ? record->pool.count : 0;
    }

    RenderWorld w;
    ParticleSystem* particles;
    CollisionSystem* collision = nullptr;
    u64 time = 0;
};

class ParticleSystemTest : public testing::RenderWorldTest {
protected:
    void SetUp() override
    {
        RenderWorldTest::SetUp();
        w.reset();
        Settings::Threading.enabled = false;
        Settings::Renderer.renderParticles = true;
        Settings::Renderer.maxParticleSize = 50.0f;
    }
};

TEST(ParticleSystemCapacity, MeanRateTimesMeanLifetimeOrMeanRateForABurst)
{
    struct Case {
        f32 rateLower, rateUpper, lifeLower, lifeUpper;
        u8 burst;
        u64 expected;
    };
    const Case cases[] = {
        { 10, 30, 1, 3, 0, 40 },
        { 10, 30, 1, 3, 1, 20 },
        { 2.5f, 2.5f, 1, 1, 0, 3 }, // rounded up
        { 2.5f, 2.5f, 1, 1, 1, 3 },
        { -10, -10, 1, 1, 0, 0 }, // nonsense gives an empty pool
        { 0, 0, 5, 5, 0, 0 },
    };
    for (const Case& c : cases) {
        ParticleSpawner spawner {};
        spawner.emissionRateLower = c.rateLower;
        spawner.emissionRateUpper = c.rateUpper;
        spawner.lifetimeLower = c.lifeLower;
        spawner.lifetimeUpper = c.lifeUpper;
        spawner.burst = c.burst;
        EXPECT_EQ(ParticleSystem::poolCapacity(spawner), c.expected) << c.rateLower << " " << int(c.burst);
    }
}

TEST_F(ParticleSystemTest, ContinuousEmitterEmitsOneParticleEveryFourthFrame)
{
    ParticleWorld p;
    const EntityHandle e = p.addEmitter(2.5f, 100.0f);
    p.w.start();
    std::vector<u64> counts;
    for (int i = 0; i < 8; ++i) {
        p.frame();
        counts.push_back(p.live(e));
    }
    EXPECT_EQ(counts, (std::vector<u64> { 0, 0, 0, 1, 1, 1, 1, 2 }));
}

TEST_F(ParticleSystemTest, TimeScaleMultipliesTheStep)
{
    ParticleWorld p;
    const EntityHandle e = p.addEmitter(10.0f, 100.0f);
    p.w.start();
    p.particles->timeScale = 2.0f;
    p.frame(); // 10 a second over 0.2 s
    EXPECT_EQ(p.live(e), 2u);
}

TEST_F(ParticleSystemTest, BurstEmitsItsPoolOnceAndOneShotDestroysTheSubtreeAfterTheLastParticle)
{
    ParticleWorld p;
    const EntityHandle e = p.addEmitter(4.0f, 0.25f);
    p.w.scene.get<ParticleSpawner>(e).burst = 1;
    p.w.scene.get<ParticleSettings>(e).oneShot = 1;
    const EntityHandle child = p.w.scene.add("child", { "Transform" }, e);
    p.w.start();
    p.frame();
    EXPECT_EQ(p.live(e), 4u);
    p.frame();
    EXPECT_EQ(p.live(e), 4u);
    p.frame(); // 0.3 s: all dead, none emitted again
    EXPECT_EQ(p.live(e), 0u);
    EXPECT_TRUE(isValidEntity(p.w.world(), e));
    p.frame(); // finished
    ASSERT_NE(p.particles->emitter(e.index()), nullptr);
    EXPECT_EQ(p.particles->emitter(e.index())->finished, 1);
    p.frame(); // the subtree goes
    EXPECT_FALSE(isValidEntity(p.w.world(), e));
    EXPECT_FALSE(isValidEntity(p.w.world(), child));
    EXPECT_EQ(p.particles->emitter(e.index()), nullptr);
    p.particles->releaseFrameResources();
}

TEST_F(ParticleSystemTest, BurstWithoutOneShotNeverEmitsAgain)
{
    ParticleWorld p;
    const EntityHandle e = p.addEmitter(3.0f, 0.15f);
    p.w.scene.get<ParticleSpawner>(e).burst = 1;
    p.w.start();
    u64 most = 0;
    for (int i = 0; i < 10; ++i) {
        p.frame();
        most = std::max(most, p.live(e));
        if (i >= 2) {
            EXPECT_EQ(p.live(e), 0u) << i;
        }
    }
    EXPECT_EQ(most, 3u);
    EXPECT_TRUE(isValidEntity(p.w.world(), e));
}

TEST_F(ParticleSystemTest, NothingIsCreatedSimulatedOrDrawnWhileRenderParticlesIsOff)
{
    Settings::Renderer.renderParticles = false;
    ParticleWorld p;
    const EntityHandle e = p.addEmitter(10.0f, 1.0f);
    p.w.start();
    p.frame();
    EXPECT_EQ(p.particles->emitter(e.index()), nullptr);
    EXPECT_TRUE(p.particles->frameList().empty());
    EXPECT_EQ(p.w.render->visual(e.index()), nullptr);

    // Switched off after creation: the emitter stands still.
    Settings::Renderer.renderParticles = true;
    ParticleWorld q;
    const EntityHandle f = q.addEmitter(10.0f, 1.0f);
    q.w.start();
    q.frame();
    ASSERT_EQ(q.live(f), 1u);
    Settings::Renderer.renderParticles = false;
    q.frame();
    q.frame();
    EXPECT_EQ(q.live(f), 1u);
}

TEST_F(ParticleSystemTest, WorldSpaceParticlesStartAtTheEmitterWhateverItsShape)
{
    ParticleWorld p;
    const EntityHandle parent = p.w.scene.add("parent", { "Transform" });
    p.w.scene.get<Transform>(parent).position = { 5.0f, 2.0f, 0.0f };
    const EntityHandle point = p.addEmitter(10.0f, 1.0f, true, parent);
    const EntityHandle ball = p.addEmitter(10.0f, 1.0f, true, parent);
    p.w.scene.set(ball, "Component6", "halfExtents", { 0.5f, 0.5f, 0.5f });
    const EntityHandle local = p.addEmitter(10.0f, 1.0f, true, parent);
    for (EntityHandle e : { point, ball })
        p.w.scene.get<ParticleSpawner>(e).worldSpace = 1;
    p.w.start();
    p.frame(0.1f);
    const quern::particles::ParticlePool& a = p.particles->emitter(point.index())->pool;
    const quern::particles::ParticlePool& b = p.particles->emitter(ball.index())->pool;
    const quern::particles::ParticlePool& c = p.particles->emitter(local.index())->pool;
    ASSERT_EQ(a.count, 1u);
    ASSERT_EQ(b.count, 1u);
    ASSERT_EQ(c.count, 1u);
    EXPECT_EQ(a.x[0], 5.0f);
    EXPECT_EQ(a.y[0], 2.0f);
    EXPECT_NEAR(b.x[0], 5.0f, 0.5f);
    EXPECT_NEAR(b.y[0], 2.0f, 0.5f);
    EXPECT_EQ(c.x[0], 0.0f); // local particles live in the emitter's space
}

TEST_F(ParticleSystemTest, EmittersWithoutSettingsStillEmitAndGetBoundsOnce)
{
    ParticleWorld p;
    const EntityHandle e = p.addEmitter(10.0f, 1.0f, false);
    p.w.start();
    p.frame();
    EXPECT_EQ(p.live(e), 1u);
    EXPECT_EQ(p.particles->emitter(e.index())->firstSimulation, 0);
}

// Three emitters with random motion; their particles after a few frames.
std::vector<f32> runJitteryEmitters(TaskDispatcher* dispatcher)
{
    ParticleWorld p(dispatcher);
    std::vector<EntityHandle> emitters;
    for (int k = 0; k < 3; ++k) {
        const EntityHandle e = p.addEmitter(20.0f + k, 2.0f);
        ParticleSettings& settings = p.w.scene.get<ParticleSettings>(e);
        settings.randomAcceleration = { 5.0f, 5.0f, 1.0f };
        settings.swirl = { 0.0f, 0.0f, 10.0f };
        settings.sizeGrowth = 0.5f;
        ParticleSpawner& spawner = p.w.scene.get<ParticleSpawner>(e);
        spawner.velocitySpread = { 1.0f, 1.0f, 0.0f };
        spawner.randomRotation = 1;
        emitters.push_back(e);
    }
    p.w.start();
    for (int i = 0; i < 12; ++i) {
        p.frame();
        EXPECT_TRUE(p.particles->tasksComplete()) << "frame " << i;
    }
    std::vector<f32> out;
    for (EntityHandle e : emitters) {
        const quern::particles::ParticlePool& pool = p.particles->emitter(e.index())->pool;
        for (u64 i = 0; i < pool.count; ++i)
            out.insert(out.end(), { pool.x[i], pool.y[i], pool.vx[i], pool.vy[i], pool.size[i], pool.rotation[i] });
    }
    return out;
}

TEST_F(ParticleSystemTest, WorkersChangeNoParticleAndEveryTaskEndsWithTheUpdate)
{
    const std::vector<f32> inline_ = runJitteryEmitters(nullptr);
    TaskDispatcher dispatcher;
    ThreadingSettings threading;
    threading.workers = 4;
    dispatcher.start(threading, 4);
    ASSERT_TRUE(dispatcher.threaded());
    Settings::Threading.enabled = true;
    const std::vector<f32> threaded = runJitteryEmitters(&dispatcher);
    Settings::Threading.enabled = false;
    dispatcher.stop();
    ASSERT_FALSE(inline_.empty());
    ASSERT_EQ(threaded.size(), inline_.size());
    EXPECT_EQ(std::memcmp(threaded.data(), inline_.data(), inline_.size() * sizeof(f32)), 0);
}

TEST_F(ParticleSystemTest, UploadWritesTheLiveQuadsAndDrawsSixIndicesEach)
{
    ParticleWorld p;
    const EntityHandle e = p.addEmitter(30.0f, 1.0f);
    p.w.scene.get<ParticleSpawner>(e).randomRotation = 1;
    p.w.start();
    p.frame();
    p.frame();
    const ParticleEmitterRecord* record = p.particles->emitter(e.index());
    ASSERT_NE(record, nullptr);
    ASSERT_EQ(record->pool.count, 6u);
    ASSERT_EQ(p.particles->frameList().size(), 1u);
    quern::visuals::Visual* visual = p.w.render->visual(e.index());
    ASSERT_NE(visual, nullptr);
    quern::graphics::VertexBuffer* before = visual->vertexBuffer();
    p.particles->uploadParticles(p.w.world());
    EXPECT_TRUE(p.particles->frameList().empty());

    quern::graphics::VertexBuffer* drawn = visual->vertexBuffer();
    ASSERT_NE(drawn, nullptr);
    EXPECT_NE(drawn, before); // the filled buffer was swapped in
    EXPECT_EQ(drawn->vertexCount(), record->pool.capacity * 4);
    EXPECT_EQ(drawn->format().stride, sizeof(quern::graphics::BatchVertex));
    std::vector<quern::graphics::BatchVertex> expected(record->pool.count * 4);
    record->pool.buildQuads(expected.data());
    const u8* bytes = drawn->lockVertices(Lock::Read, 0, expected.size());
    EXPECT_EQ(std::memcmp(bytes, expected.data(), expected.size() * sizeof expected[0]), 0);
    drawn->unlockVertices();

    quern::graphics::IndexBuffer* indices = visual->getFirstSubMesh()->indexBuffer();
    ASSERT_NE(indices, nullptr);
    EXPECT_EQ(indices->start(), 0u);
    EXPECT_EQ(indices->count(), 36);
    EXPECT_GE(indices->indexCount(), record->pool.capacity * 6);

    // The next frame fills the other buffer and swaps back.
    p.frame();
    p.particles->uploadParticles(p.w.world());
    EXPECT_EQ(visual->vertexBuffer(), before);
    EXPECT_EQ(indices->count(), static_cast<quern::i32>(record->pool.count * 6));
}

TEST_F(ParticleSystemTest, FramesWithoutUploadDoNotPileUpInTheFrameList)
{
    ParticleWorld p;
    p.addEmitter(10.0f, 1.0f);
    p.w.start();
    for (int i = 0; i < 5; ++i)
        p.frame();
    EXPECT_EQ(p.particles->frameList().size(), 1u);
}

TEST_F(ParticleSystemTest, DestroyedEmittersRetireTheirBuffersUntilAfterTheFrame)
{
    ParticleWorld p;
    const EntityHandle e = p.addEmitter(10.0f, 1.0f);
    p.w.start();
    p.frame();
    p.particles->uploadParticles(p.w.world());
    p.w.world().destroyEntities(&e, 1);
    EXPECT_EQ(p.particles->emitter(e.index()), nullptr);
    EXPECT_GE(p.particles->releaseListSize(), 3u); // visual, both buffers
    p.particles->releaseFrameResources();
    EXPECT_EQ(p.particles->releaseListSize(), 0u);
    p.w.render->releaseFrameResources();
}

struct CollidingParticleWorld : ParticleWorld {
    CollidingParticleWorld()
        : ParticleWorld(nullptr, true)
    {
    }
    EntityHandle addCollidingEmitter(f32 rate)
    {
        const EntityHandle e = addEmitter(rate, 1.0f);
        w.scene.set(e, "Component24", "bytes", { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0 });
        return e;
    }
    int bodies() { return collision->dynamicsWorld()->getNumCollisionObjects(); }
    void tick() { w.tickAt(time); }
};

TEST_F(ParticleSystemTest, SmallCollidingPoolsGiveBodiesWhileTheirEntityIsActive)
{
    CollidingParticleWorld p;
    const EntityHandle small = p.addCollidingEmitter(10.0f);
    const EntityHandle large = p.addCollidingEmitter(100.0f); // 100 particles: too many
    p.w.start();
    p.frame();
    p.tick();
    EXPECT_EQ(p.live(small), 1u);
    EXPECT_EQ(p.live(large), 10u);
    EXPECT_EQ(p.bodies(), 1);

    p.w.world().deactivateEntity(small);
    p.tick();
    EXPECT_EQ(p.bodies(), 0);
    p.w.world().activateEntities(&small, 1);
    p.frame();
    p.tick();
    EXPECT_GE(p.bodies(), 1);

    // Destroyed while registered: the bodies go with the pool.
    p.w.world().destroyEntities(&small, 1);
    p.tick();
    EXPECT_EQ(p.bodies(), 0);
    p.particles->releaseFrameResources();
    p.w.render->releaseFrameResources();
}

TEST_F(ParticleSystemTest, DescribesItselfByName)
{
    ParticleWorld p;
    quern::entity::SystemInfo info {};
    p.particles->describe(&info);
    EXPECT_STREQ(info.name, "ParticleSystem");
}

} // namespace
} // namespace harmonize

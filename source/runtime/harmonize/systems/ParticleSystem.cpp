#include "harmonize/systems/ParticleSystem.h"

#include "harmonize/Settings.h"
#include "harmonize/collision/CollisionSystem.h"
#include "harmonize/extensions/PlayerView.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/ParticleSimulation.h"
#include "harmonize/systems/RenderSystem.h"
#include "harmonize/systems/TransformHierarchySystem.h"
#include "harmonize/tasks/LoadingWorker.h"
#include "harmonize/tasks/PreloadedResources.h"
#include "harmonize/tasks/TaskDispatcher.h"
#include "harmonize/utils/FrameStatistics.h"

#include "quern/entity/World.h"
#include "quern/graphics/BatchVertex.h"
#include "quern/graphics/GenericMaterial.h"
#include "quern/graphics/IndexBuffer.h"
#include "quern/graphics/VertexBuffer.h"
#include "quern/graphics/VertexFormat.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/render/Gizmos.h"
#include "quern/threads/Task.h"
#include "quern/visuals/QuadGeometry.h"
#include "quern/visuals/SubMesh.h"
#include "quern/visuals/Visual.h"

#include <cmath>

namespace harmonize {

using quern::RefCounted;
using quern::u32;
using quern::entity::World;
using quern::graphics::VertexBuffer;
using quern::math::Matrix3;
using quern::math::Quaternion;
using quern::math::Vector3;
using quern::particles::EllipsoidEmitter;
using quern::particles::ParticleEmitter;
using Lock = quern::containers::BufferBase::Lock;

namespace {

constexpr u32 kDynamicDraw = quern::graphics::BufferUsage::Dynamic | quern::graphics::BufferUsage::Draw;
constexpr quern::i32 kNeverDrawn = 4;

const ComponentMask kParticleMask = kParticleEmitterMask;

bool hasParticleComponents(World& world, u64 index)
{
    return index < world.getSlotCount() && world.getComponentMask(index).containsAll(kParticleMask);
}

bool usesTextureRectangles(const ParticleAppearance& appearance)
{
    return appearance.tilesAcross >= 2 || appearance.tilesDown >= 2;
}

void addCounter(quern::u32 counter, u64 value)
{
    currentFrameStatistics().counters[kParticleCounterFirst + counter].fetch_add(
        static_cast<u32>(value), std::memory_order_relaxed);
}

// Takes a reference through the object's RefCounted base: the counted
// classes here do not all begin with it.
void hold(RefCounted* object) { RefCounted::retain(object); }

} // namespace

// Simulates one emitter; set up again by the system for every frame.
class ParticleTask final : public quern::threads::Task {
public:
    ParticleTask(ParticleSystem& system)
        : Task(1)
        , m_system(system)
    {
    }

    void prepare(World& world, u64 index, f32 dt, u64 jitter)
    {
        m_world = &world;
        m_index = index;
        m_dt = dt;
        m_jitter = jitter;
    }

    void run(quern::threads::TaskRange) override { m_system.simulateEmitter(*m_world, m_index, m_dt, m_jitter); }

private:
    ParticleSystem& m_system;
    World* m_world = nullptr;
    u64 m_index = 0;
    f32 m_dt = 0.0f;
    u64 m_jitter = 0;
};

// One item per emitter record: waits for the record's last task and starts
// its next one.
class ParticleFrameTask final : public quern::threads::Task {
public:
    ParticleFrameTask(ParticleSystem& system, World& world, f32 dt)
        : Task(static_cast<u32>(system.m_emitters.size()))
        , m_system(system)
        , m_world(world)
        , m_dt(dt)
    {
    }

    void run(quern::threads::TaskRange range) override
    {
        for (u32 i = range.firstItem; i < range.firstItem + range.itemCount; ++i)
            m_system.startTask(m_world, i, m_dt);
    }

private:
    ParticleSystem& m_system;
    World& m_world;
    f32 m_dt;
};

ParticleSystem::ParticleSystem(AppContext& context)
    : m_context(&context)
    , m_dispatcher(context.services.taskDispatcher)
{
}

ParticleSystem::~ParticleSystem()
{
    for (ParticleEmitterRecord& record : m_emitters)
        if (record.shape)
            destroyEmitter(record);
    releaseFrameResources();
}

void ParticleSystem::describe(quern::entity::SystemInfo* info)
{
    System::describe(info);
    info->name = "ParticleSystem";
}

u64 ParticleSystem::poolCapacity(const ParticleSpawner& spawner)
{
    const f32 rate = emissionRate(spawner);
    const f32 wanted = spawner.burst ? rate : rate * (spawner.lifetimeLower + spawner.lifetimeUpper) * 0.5f;
    // Level data with a negative or runaway rate gets an empty pool rather
    // than a huge or undefined one.
    const f32 rounded = std::ceil(wanted);
    return rounded > 0.0f && rounded < 1.0e6f ? static_cast<u64>(rounded) : 0;
}

bool ParticleSystem::threaded() const
{
    return Settings::Threading.enabled && m_dispatcher && m_dispatcher->threaded();
}

// Lifecycle -------------------------------------------------------------------

void ParticleSystem::attach(quern::memory::Allocator*)
{
    m_frameList.clear();
    m_random = kRandomSeed;
}

void ParticleSystem::detach(quern::memory::Allocator*)
{
    for (ParticleEmitterRecord& record : m_emitters)
        if (record.shape)
            destroyEmitter(record);
    m_emitters.clear();
    m_jitters.clear();
    m_frameList.clear();
    releaseFrameResources();
}

void ParticleSystem::sizeEmitters(World& world)
{
    const u64 capacity = std::max(world.getCapacity(), world.getSlotCount());
    if (m_emitters.size() < capacity) {
        m_emitters.resize(capacity);
        m_jitters.resize(capacity, 0);
    }
}

void ParticleSystem::worldStarted(World& world, quern::memory::Allocator*)
{
    sizeEmitters(world);
    m_frameList.reserve(m_emitters.size());
}

void ParticleSystem::entitiesCreated(const EntityHandle* handles, u64 count, World& world, quern::memory::Allocator*)
{
    if (!Settings::Renderer.renderParticles)
        return;
    sizeEmitters(world);
    for (u64 i = 0; i < count; ++i)
        if (hasParticleComponents(world, handles[i].index()) && !m_emitters[handles[i].index()].shape)
            createEmitter(handles[i], world);
}

void ParticleSystem::createEmitter(EntityHandle entity, World& world)
{
    const u64 index = entity.index();
    ParticleEmitterRecord& record = m_emitters[index];
    record = ParticleEmitterRecord {};
    record.needsBuffers = 1;
    record.firstSimulation = 1;
    record.task = new ParticleTask(*this);

    const ParticleSpawner& spawner = *componentOf<ParticleSpawner>(world, entity);
    quern::particles::EmissionSettings& spawn = record.spawn;
    spawn.spinBase = spawner.spin;
    spawn.spinSpread = spawner.spinSpread;
    const Vector3 extra = Transform::vectorToLocal(transformAt(world, index), spawner.worldStartVelocity, world);
    spawn.velocityBase[0] = spawner.startVelocity.x + extra.x;
    spawn.velocityBase[1] = spawner.startVelocity.y + extra.y;
    spawn.velocityBase[2] = spawner.startVelocity.z + extra.z;
    spawn.velocitySpread[0] = spawner.velocitySpread.x;
    spawn.velocitySpread[1] = spawner.velocitySpread.y;
    spawn.velocitySpread[2] = spawner.velocitySpread.z;
    spawn.lifetimeMaximum = spawner.lifetimeUpper;
    spawn.lifetimeMinimum = spawner.lifetimeLower;
    spawn.sizeMaximum = spawner.sizeUpper;
    spawn.sizeMinimum = spawner.sizeLower;
    spawn.randomRotation = spawner.randomRotation;

    const ParticleAppearance& appearance = *componentOf<ParticleAppearance>(world, entity);
    record.pool.init(world.allocator ? world.allocator : quern::memory::getDefaultAllocator(), poolCapacity(spawner),
        usesTextureRectangles(appearance));
    record.view.px = record.pool.x;
    record.view.py = record.pool.y;
    record.view.pz = record.pool.z;
    record.view.vx = record.pool.vx;
    record.view.vy = record.pool.vy;
    record.view.vz = record.pool.vz;
    record.view.slots = record.pool.indices;
    record.view.capacity = static_cast<u32>(record.pool.capacity);

    if (const ParticleShape* shape = componentOf<ParticleShape>(world, entity)) {
        auto* ellipsoid = new EllipsoidEmitter();
        ellipsoid->extents[0] = shape->halfExtents.x;
        ellipsoid->extents[1] = shape->halfExtents.y;
        ellipsoid->extents[2] = shape->halfExtents.z;
        record.shape = ellipsoid;
    } else {
        record.shape = new ParticleEmitter();
        record.pointShape = 1;
    }
    m_random = m_random * 4561u + 51349u;
    record.shape->random = m_random;
    createVisual(entity, record, world);
}

void ParticleSystem::createVisual(EntityHandle entity, ParticleEmitterRecord& record, World& world)
{
    const u64 index = entity.index();
    if (m_context->transformHierarchy)
        m_context->transformHierarchy->localBounds(index) = BoundingSphere { { 0, 0, 0 }, 1.0f };
    RenderSystem* render = m_context->render;
    quern::visuals::Visual* visual = render ? render->getOrCreateVisual(index) : nullptr;
    if (!visual)
        return;
    const f32 origin[3] = { 0, 0, 0 };
    render->setBoundingSphere(entity, origin, 1.0f);
    hold(visual);
    record.visual = visual;
    record.frontBuffer = visual->getVertexBuffer(kDynamicDraw);
    hold(record.frontBuffer);
    visual->getFirstSubMesh();

    LoadingWorker* worker = m_context->services.loadingWorker;
    const u64 materialId = componentOf<Renderer>(world, entity)->material;
    quern::graphics::Material* preloaded
        = materialId != 0 && worker ? getPreloadedMaterial(*worker, materialId) : nullptr;
    if (!preloaded)
        return;
    // Material assets always load into the data-driven material.
    auto* material = static_cast<quern::graphics::GenericMaterial*>(preloaded->clone());
    const quern::Ref clone(material);
    render->bindToLevelResources(*material);
    render->applyFog(*material);
    if (quern::graphics::Material* previous = visual->material()) {
        hold(previous);
        m_releaseList.push_back(previous);
    }
    visual->setMaterial(material);
}

void ParticleSystem::entitiesActivated(const EntityHandle* handles, u64 count, World& world)
{
    setColliding(handles, count, world, true);
}

void ParticleSystem::entitiesDeactivated(const EntityHandle* handles, u64 count, World& world)
{
    setColliding(handles, count, world, false);
}

void ParticleSystem::setColliding(const EntityHandle* handles, u64 count, World& world, bool on)
{
    CollisionSystem* collision = m_context->collision;
    if (!collision)
        return;
    for (u64 i = 0; i < count; ++i) {
        const u64 index = handles[i].index();
        ParticleCollision* collides = enabledComponentOf<ParticleCollision>(world, handles[i]);
        if (!collides || index >= m_emitters.size() || !m_emitters[index].shape)
            continue;
        ParticleEmitterRecord& record = m_emitters[index];
        if (on && !record.colliding && record.pool.capacity < kMaxCollidingParticles) {
            collision->registerParticlePool(&record.view, collides, &transformAt(world, index));
            record.colliding = 1;
        } else if (!on && record.colliding) {
            collision->unregisterParticlePool(collides);
            record.colliding = 0;
        }
    }
}

void ParticleSystem::entitiesDestroyed(const EntityHandle* handles, u64 count, World& world, quern::memory::Allocator*)
{
    for (u64 i = 0; i < count; ++i) {
        const u64 index = handles[i].index();
        if (index >= m_emitters.size() || !m_emitters[index].shape)
            continue;
        ParticleEmitterRecord& record = m_emitters[index];
        // A pool the collision system still reads must not go away under it.
        if (record.colliding && m_context->collision)
            m_context->collision->unregisterParticlePool(world.getComponent(index, ParticleCollision::kType));
        record.colliding = 0;
        destroyEmitter(record);
    }
}

void ParticleSystem::destroyEmitter(ParticleEmitterRecord& record)
{
    waitForTask(record);
    delete record.task;
    if (record.visual) {
        if (record.visual->vertexBuffer() == record.frontBuffer)
            record.visual->setVertexBuffer(nullptr);
        m_releaseList.push_back(record.visual);
    }
    if (record.frontBuffer)
        m_releaseList.push_back(record.frontBuffer);
    if (record.backBuffer)
        m_releaseList.push_back(record.backBuffer);
    record.pool.release();
    delete record.shape;
    record = ParticleEmitterRecord {};
}

void ParticleSystem::retire(RefCounted* resource) { m_releaseList.push_back(resource); }

// Per frame -------------------------------------------------------------------

void ParticleSystem::update(quern::entity::UpdateContext*, World& world)
{
    if (!Settings::Renderer.renderParticles)
        return;
    if (Settings::Gizmo.particleBounds)
        drawBounds(world);
    if (m_context->paused)
        return;
    collectFrame(world);
    runTasks(world);
}

void ParticleSystem::lateUpdate(World&) { waitForAllTasks(); }

void ParticleSystem::drawBounds(World& world)
{
    auto* gizmos = m_context->gizmos.get<quern::render::Gizmos>();
    TransformHierarchySystem* hierarchy = m_context->transformHierarchy;
    if (!gizmos || !hierarchy)
        return;
    for (u64 i = 0; i < world.getSlotCount(); ++i) {
        if (world.getGeneration(i) == 0 || !world.getEnabledMask(i).test(ParticleAppearance::kType))
            continue;
        const BoundingSphere& sphere = hierarchy->worldBounds(i);
        gizmos->drawRectangle(sphere.centre[0], sphere.centre[1], sphere.radius, sphere.radius);
    }
}

void ParticleSystem::collectFrame(World& world)
{
    // A frame nobody drew (no display, a skipped render) leaves its list
    // behind; this frame's list starts afresh.
    m_frameList.clear();
    const u64 count = std::min<u64>(world.getSlotCount(), m_emitters.size());
    for (u64 i = 0; i < count; ++i) {
        ParticleEmitterRecord& record = m_emitters[i];
        if (!record.shape || !world.getEnabledMask(i).test(ParticleSpawner::kType))
            continue;
        if (record.finished) {
            Transform::destroySubtree(transformAt(world, i), world);
            continue;
        }
        addCounter(0, 1);
        if (componentOf<ParticleAppearance>(world, entityAt(world, i))->mode != kNeverDrawn)
            record.visible = m_context->render && m_context->render->isEntityVisible(i) ? 1 : 0;
        if (record.visible) {
            m_frameList.push_back(entityAt(world, i).value);
            addCounter(1, record.pool.count);
        }
    }
}

void ParticleSystem::runTasks(World& world)
{
    const f32 dt = world.deltaTime * timeScale;
    // Each emitter's jitter comes from the system's state in emitter order,
    // here on one thread, so the workers' order cannot change it.
    for (u64 i = 0; i < m_emitters.size(); ++i)
        if (m_emitters[i].shape) {
            m_random = m_random * 4561u + 51349u;
            m_jitters[i] = m_random;
        }
    ParticleFrameTask frame(*this, world, dt);
    if (threaded()) {
        m_dispatcher->run(frame);
        m_dispatcher->wait(frame);
    } else {
        quern::threads::Task::runInline(frame);
    }
}

void ParticleSystem::startTask(World& world, u64 index, f32 dt)
{
    ParticleEmitterRecord& record = m_emitters[index];
    if (!record.shape)
        return;
    waitForTask(record);
    record.task->prepare(world, index, dt, m_jitters[index]);
    if (threaded())
        m_dispatcher->run(*record.task);
    else
        quern::threads::Task::runInline(*record.task);
}

void ParticleSystem::waitForTask(ParticleEmitterRecord& record)
{
    if (record.task && !record.task->isComplete() && m_dispatcher)
        m_dispatcher->wait(*record.task);
}

void ParticleSystem::waitForAllTasks()
{
    for (ParticleEmitterRecord& record : m_emitters)
        waitForTask(record);
}

bool ParticleSystem::tasksComplete() const
{
    for (const ParticleEmitterRecord& record : m_emitters)
        if (record.task && !record.task->isComplete())
            return false;
    return true;
}

void ParticleSystem::emit(ParticleEmitterRecord& record, const ParticleSpawner& spawner, f32 dt)
{
    quern::particles::ParticlePool& pool = record.pool;
    if (spawner.burst) {
        if (!record.emitted && pool.count == 0 && pool.capacity > 0) {
            emitInto(record, pool.capacity);
            record.emitted = 1;
        }
        return;
    }
    const u64 n = takeEmission(record.accumulator, emissionRate(spawner), dt, pool.capacity - pool.count);
    if (n >= 1) {
        emitInto(record, n);
        record.emitted = 1;
    }
}

void ParticleSystem::emitInto(ParticleEmitterRecord& record, u64 n)
{
    quern::particles::ParticlePool& pool = record.pool;
    const u64 first = pool.count;
    record.shape->emit(record.spawn, n, pool);
    if (!record.pointShape)
        return;
    // A point emitter places its particles at the origin of the space they
    // live in; world-space particles belong at the emitter, not at the world's
    // origin.
    for (u64 i = first; i < pool.count; ++i) {
        pool.x[i] += record.spawn.position[0];
        pool.y[i] += record.spawn.position[1];
        pool.z[i] += record.spawn.position[2];
    }
}

void ParticleSystem::simulateEmitter(World& world, u64 index, f32 dt, u64 jitter)
{
    ParticleEmitterRecord& record = m_emitters[index];
    const EntityHandle entity = entityAt(world, index);
    if (!record.shape || !isValidEntity(world, entity) || !world.getComponentMask(index).test(Transform::kType))
        return;
    const Transform& transform = transformAt(world, index);
    const ParticleSpawner& spawner = *componentOf<ParticleSpawner>(world, entity);
    quern::particles::ParticlePool& pool = record.pool;
    if (spawner.worldSpace) {
        const Vector3 position = worldPositionOf(world, transform);
        const Quaternion rotation = worldRotationOf(world, transform);
        record.shape->position[0] = record.spawn.position[0] = position.x;
        record.shape->position[1] = record.spawn.position[1] = position.y;
        record.shape->position[2] = record.spawn.position[2] = position.z;
        record.spawn.rotation = rotation;
    }
    if (spawner.emit)
        emit(record, spawner, dt);

    const ParticleSettings* settings = componentOf<ParticleSettings>(world, entity);
    ParticleBounds bounds;
    if (settings) {
        if (settings->oneShot && pool.count == 0 && record.emitted) {
            record.finished = 1;
            return;
        }
        Matrix3 basis = Matrix3::identity();
        if (spawner.worldSpace)
            TransformComponent::worldBasis(transform, basis, EntityHandle {}, world);
        ageParticles(pool, dt);
        const ParticleMotion motion
            = makeParticleMotion(*settings, basis, dt, Settings::Renderer.maxParticleSize, jitter);
        bounds = moveParticles(pool, motion);
        if (record.visible) {
            if (settings->colourOverLife) {
                const f32 tint[4] = { 1, 1, 1, 1 };
                applyColourOverLife(pool, *settings, tint);
            }
            applySpriteCells(pool, *componentOf<ParticleAppearance>(world, entity));
        }
    } else if (record.firstSimulation) {
        ParticleMotion still;
        still.maxSize = Settings::Renderer.maxParticleSize;
        bounds = moveParticles(pool, still);
    } else {
        record.view.liveCount = static_cast<u32>(pool.count);
        return;
    }
    f32 centre[3];
    f32 radius;
    boundingSphereOf(bounds, pool.count, centre, radius);
    if (m_context->render)
        m_context->render->setBoundingSphere(entity, centre, radius);
    addCounter(2, pool.count);
    addCounter(3, pool.capacity - pool.count);
    record.view.liveCount = static_cast<u32>(pool.count);
    record.firstSimulation = 0;
}

// Main thread -----------------------------------------------------------------

void ParticleSystem::uploadParticles(World& world)
{
    for (const u32 value : m_frameList) {
        const EntityHandle entity { value };
        const u64 index = entity.index();
        if (!isValidEntity(world, entity) || index >= m_emitters.size())
            continue;
        ParticleEmitterRecord& record = m_emitters[index];
        if (!record.shape || record.finished || !record.visual)
            continue;
        waitForTask(record);
        fillBuffers(record);
    }
    m_frameList.clear();
}

void ParticleSystem::fillBuffers(ParticleEmitterRecord& record)
{
    quern::visuals::Visual& visual = *record.visual;
    const u64 vertices = record.pool.capacity * 4;
    if (record.needsBuffers) {
        VertexBuffer* front = visual.getVertexBuffer(kDynamicDraw);
        // Nothing of the old contents is worth converting.
        front->resizeElements(0);
        front->setVertexFormat(quern::graphics::VertexFormat::fromFlags(quern::graphics::kBatchVertexFlags));
        front->resizeElements(vertices);
        if (front != record.frontBuffer) {
            hold(front);
            if (record.frontBuffer)
                retire(record.frontBuffer);
            record.frontBuffer = front;
        }
        if (record.backBuffer)
            retire(record.backBuffer);
        record.backBuffer = front->clone();
        hold(record.backBuffer);
        quern::graphics::IndexBuffer* indices = visual.getFirstSubMesh()->getIndexBuffer();
        if (indices->indexCount() == 0 && vertices > 0)
            indices->setIndexSizeFor(static_cast<u32>(vertices - 1));
        quern::visuals::fillQuadIndices(*indices, vertices / 4, 0);
        record.needsBuffers = 0;
    }
    const u64 live = record.pool.count;
    VertexBuffer* back = record.backBuffer;
    if (live > 0) {
        auto* out = reinterpret_cast<quern::graphics::BatchVertex*>(back->lockVertices(Lock::Write, 0, live * 4));
        record.pool.buildQuads(out);
        back->unlockVertices();
    }
    quern::graphics::IndexBuffer* indices = visual.getFirstSubMesh()->getIndexBuffer();
    const quern::i32 drawn = static_cast<quern::i32>(live * 6);
    if (indices->start() != 0 || indices->count() != drawn) {
        indices->setDrawRange(0, drawn);
        indices->notifyListeners();
    }
    visual.setVertexBuffer(back);
    record.backBuffer = record.frontBuffer;
    record.frontBuffer = back;
}

void ParticleSystem::releaseFrameResources()
{
    for (RefCounted* resource : m_releaseList)
        RefCounted::release(resource);
    m_releaseList.clear();
}

} // namespace harmonize

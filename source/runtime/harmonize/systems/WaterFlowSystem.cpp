#include "harmonize/systems/WaterFlowSystem.h"

#include "harmonize/Settings.h"
#include "harmonize/collision/CollisionLayers.h"
#include "harmonize/collision/CollisionSystem.h"
#include "harmonize/extensions/DeathTriggerExt.h"
#include "harmonize/extensions/PlayerView.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/GizmoLineSystem.h"
#include "harmonize/tasks/TaskDispatcher.h"

#include "quern/debug/Log.h"
#include "quern/entity/World.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/threads/Task.h"

#include <cmath>

namespace harmonize {

using quern::containers::Array;
using quern::entity::World;
using quern::math::Vector3;

namespace {

constexpr u8 kBlockerExemptTypes[] = { LevelGoal::kType, kPassThroughMarkerType, SavePointTrigger::kType };
constexpr i32 kCutGizmoColour = 3;

bool isJetSlot(World& world, u64 slot)
{
    return world.getState(slot) != quern::entity::EntityState::Free && world.getGeneration(slot) != 0
        && world.getEnabledMask(slot).test(WaterFlow::kType)
        && world.getComponentMask(slot).test(Transform::kType);
}

WaterFlow& flowAt(World& world, u64 slot) { return *static_cast<WaterFlow*>(world.getComponent(slot, WaterFlow::kType)); }

// The layer the collision system put the entity's body on.
u32 collisionLayerOf(World& world, u64 slot)
{
    if (!world.getEnabledMask(slot).test(CollisionLayer::kType))
        return 0;
    const u32 layer = static_cast<const CollisionLayer*>(world.getComponent(slot, CollisionLayer::kType))->layer;
    return layer < kCollisionLayerCount ? layer : 0;
}

bool stopsJet(World& world, const WaterFlow& flow, u32 entity)
{
    const u64 slot = entity & 0xffffu;
    if (slot >= world.getSlotCount())
        return false;
    const quern::entity::ComponentMask& enabled = world.getEnabledMask(slot);
    for (u8 type : kBlockerExemptTypes)
        if (enabled.test(type))
            return false;
    return (flow.blockingLayers >> collisionLayerOf(world, slot) & 1u) != 0;
}

// The next texture-scroll phase of the set-up pass, in [-1, 1).
f32 nextPhase(u64& state)
{
    state = state * 4561u + 51349u;
    return static_cast<f32>(static_cast<quern::f64>(state >> 11) * 0x1p-53 * 2.0 - 1.0);
}

class JetTask final : public quern::threads::Task {
public:
    JetTask(WaterFlowSystem& system, World& world, Array& jobs, std::vector<Array>& hitLists)
        : Task(static_cast<u32>(jobs.count()))
        , m_system(system)
        , m_world(world)
        , m_jobs(jobs)
        , m_hitLists(hitLists)
    {
    }

    void run(quern::threads::TaskRange range) override
    {
        Array& hits = m_hitLists[range.workerIndex];
        for (u32 i = range.firstItem; i < range.firstItem + range.itemCount; ++i)
            m_system.stepJet(m_world, m_jobs.at<WaterFlowJob>(i), i, hits);
    }

private:
    WaterFlowSystem& m_system;
    World& m_world;
    Array& m_jobs;
    std::vector<Array>& m_hitLists;
};

} // namespace

WaterFlowSystem::WaterFlowSystem(AppContext& context)
    : m_context(&context)
    , m_dispatcher(context.services.taskDispatcher)
    , m_jobs(sizeof(WaterFlowJob), alignof(WaterFlowJob))
{
}

WaterFlowSystem::~WaterFlowSystem() { m_jobs.release(); }

void WaterFlowSystem::attach(quern::memory::Allocator* allocator)
{
    if (!allocator)
        allocator = quern::memory::getDefaultAllocator();
    m_setUpDone = 0;
    const u32 workers = Settings::Threading.enabled && m_dispatcher ? m_dispatcher->workerCount() : 1;
    m_hitLists.clear();
    for (u32 i = 0; i < (workers > 1 ? workers : 1); ++i) {
        m_hitLists.emplace_back(sizeof(CollisionHit), alignof(CollisionHit), allocator);
        m_hitLists.back().reserve(kHitListRoom);
    }
}

void WaterFlowSystem::detach(quern::memory::Allocator*)
{
    for (Array& hits : m_hitLists)
        hits.release();
    m_hitLists.clear();
}

void WaterFlowSystem::describe(quern::entity::SystemInfo* info)
{
    System::describe(info);
    info->name = "WaterFlowSystem";
}

Vector3 WaterFlowSystem::jetDirection(World& world, const Transform& jet)
{
    return worldRotationOf(world, jet).toMatrix3() * Vector3 { 0.0f, -1.0f, 0.0f };
}

f32 WaterFlowSystem::measure(
    World& world, const WaterFlow& flow, const Vector3& origin, const Vector3& direction, Array& hits) const
{
    // The list holds this ray's hits alone: the query appends.
    hits.clear();
    f32 length = flow.maxLength;
    if (!m_context->collision)
        return length;
    m_context->collision->rayCastAll(origin, direction, hits, flow.maxLength);
    for (u64 i = 0; i < hits.count(); ++i) {
        const CollisionHit& hit = hits.at<CollisionHit>(i);
        if (!stopsJet(world, flow, hit.entity))
            continue;
        const f32 dx = hit.point.x - origin.x;
        const f32 dy = hit.point.y - origin.y;
        const f32 distance = std::sqrt(dx * dx + dy * dy);
        if (distance < length)
            length = distance;
    }
    return length;
}

void WaterFlowSystem::layOut(World& world, const WaterFlow& flow, const Transform& jet, f32 length,
    const Vector3& source, const Vector3& direction) const
{
    // A jet whose body could not be made shows its tip alone.
    if (Transform* body = validComponentOf<Transform>(world, flow.body)) {
        Transform::setWorldPosition(*body, source + direction * (length * 0.5f), world);
        // A jet squashed flat along Y keeps its body's last stretch.
        const f32 stretch = jet.scale.y != 0.0f ? length / jet.scale.y : body->scale.y;
        body->scale = Vector3 { flow.width, stretch, kBodyDepth };
    }
    if (Transform* tip = isSomeEntity(flow.tip) ? componentOf<Transform>(world, flow.tip) : nullptr)
        Transform::setWorldPosition(*tip, source + direction * length, world);
}

void WaterFlowSystem::setUp(World& world)
{
    u64 random = kSetUpRandomSeed;
    for (u64 slot = 0; slot < world.getSlotCount(); ++slot) {
        if (!isJetSlot(world, slot))
            continue;
        const EntityHandle jet = entityAt(world, slot);
        const Transform& transform = *componentOf<Transform>(world, jet);
        WaterFlow& flow = flowAt(world, slot);
        flow.length = -1.0f;
        const Vector3 direction = jetDirection(world, transform);
        const Vector3 source = worldPositionOf(world, transform);
        const f32 length = measure(world, flow, source, direction, m_hitLists[0]);

        const Transform* prefab = isSomeEntity(flow.bodyPrefab) ? componentOf<Transform>(world, flow.bodyPrefab) : nullptr;
        flow.body = prefab ? Transform::cloneSubtree(*prefab, world, jet) : EntityHandle {};
        // Every jet takes its phase, bodied or not, so that one failed clone
        // does not shift the phases of the jets after it.
        const f32 phase = nextPhase(random);
        if (!isValidEntity(world, flow.body)) {
            flow.body = EntityHandle {};
            QUERN_LOG(2) << "Water jet 0x" << std::hex << jet.value << std::dec << " has no body" << std::endl;
        } else {
            if (TextureScroll* scroll = componentOf<TextureScroll>(world, flow.body))
                scroll->timeOffset = phase;
            // The body is a picture of the jet; the jet's own ray does the
            // colliding. Its clone was activated with a body of its own, which
            // would still meet the player and stand in later rays.
            world.getEnabledMask(flow.body.index()).reset(Collider::kType);
            if (m_context->collision)
                m_context->collision->removeBody(flow.body);
        }
        layOut(world, flow, transform, length, source, direction);
    }
    m_setUpDone = 1;
}

void WaterFlowSystem::collectJobs(World& world)
{
    m_jobs.clear();
    for (u64 slot = 0; slot < world.getSlotCount(); ++slot)
        if (isJetSlot(world, slot))
            m_jobs.append(WaterFlowJob { entityAt(world, slot), {}, {}, {}, 0, {}, {} });
}

EntityHandle WaterFlowSystem::playerInJet(
    World& world, EntityHandle jet, const WaterFlow& flow, const Vector3& origin, const Vector3& direction) const
{
    const Vector3 sweep { direction.x, direction.y, 0.0f };
    const Race* jetRace = componentOf<Race>(world, jet);
    // A sweep that goes nowhere touches nothing.
    if (!m_context->collision || !jetRace || flow.length <= 0.0f || (sweep.x == 0.0f && sweep.y == 0.0f))
        return {};
    CollisionHit hit {};
    if (!m_context->collision->sphereCast(origin, flow.width * 0.5f, sweep, hit, flow.length))
        return {};
    const EntityHandle entity { hit.entity };
    if (!isSomeEntity(entity) || !hasComponents(world, entity, kPlayerMask))
        return {};
    return racesOppose(componentOf<Race>(world, entity)->value, jetRace->value) ? entity : EntityHandle {};
}

void WaterFlowSystem::offerPlayer(EntityHandle player, u32 order)
{
    const u64 offer = (static_cast<u64>(order) + 1) << 32 | player.value;
    u64 current = m_playerToKill.load(std::memory_order_relaxed);
    while (offer > current && !m_playerToKill.compare_exchange_weak(current, offer, std::memory_order_relaxed)) {
    }
}

void WaterFlowSystem::stepJet(World& world, WaterFlowJob& job, u32 order, Array& hits)
{
    const Transform* transform = componentOf<Transform>(world, job.jet);
    WaterFlow* flow = componentOf<WaterFlow>(world, job.jet);
    if (!transform || !flow)
        return;
    const Vector3 direction = jetDirection(world, *transform);
    const Vector3 origin = worldPositionOf(world, *transform);
    const f32 measured = measure(world, *flow, origin, direction, hits);
    // A jet that starts inside something stays as it was.
    if (!(measured > 0.0f))
        return;
    if (flow->length == -1.0f)
        flow->length = measured;
    if (flow->length - measured > kSplashCut) {
        job.cut = 1;
        job.cutFrom = origin + direction * measured;
        job.cutTo = origin + direction * (measured + kSplashCut);
        if (isSomeEntity(flow->splashPrefab)) {
            job.splashPrefab = flow->splashPrefab;
            job.splashPosition = Vec2f { job.cutFrom.x, job.cutFrom.y };
            job.direction = Vec2f { direction.x, direction.y };
        }
    }
    const f32 grown = flow->length + world.deltaTime * flow->growthSpeed;
    flow->length = grown < 0.0f ? 0.0f : (measured < grown ? measured : grown);
    layOut(world, *flow, *transform, flow->length, origin, direction);
    const EntityHandle player = playerInJet(world, job.jet, *flow, origin, direction);
    if (isSomeEntity(player))
        offerPlayer(player, order);
}

void WaterFlowSystem::runJobs(World& world)
{
    JetTask task(*this, world, m_jobs, m_hitLists);
    // A dispatcher that gained workers since attach has more workers than
    // lists: its jets run here rather than share a list.
    const bool threaded = Settings::Threading.enabled && m_dispatcher && m_dispatcher->threaded()
        && m_dispatcher->workerCount() <= m_hitLists.size();
    if (threaded) {
        m_dispatcher->run(task);
        m_dispatcher->wait(task);
    } else {
        quern::threads::Task::runInline(task);
    }
}

void WaterFlowSystem::spawnSplash(World& world, const WaterFlowJob& job)
{
    const Transform* prefab = componentOf<Transform>(world, job.splashPrefab);
    if (!prefab)
        return;
    Transform* splash = validComponentOf<Transform>(world, Transform::cloneSubtree(*prefab, world, EntityHandle {}));
    if (!splash)
        return;
    splash->position = Vector3 { job.splashPosition.x, job.splashPosition.y, 0.0f };
    splash->rotation = planeTurnUpTo(job.direction);
}

void WaterFlowSystem::finishJobs(World& world)
{
    for (u64 i = 0; i < m_jobs.count(); ++i) {
        const WaterFlowJob job = m_jobs.at<WaterFlowJob>(i);
        if (job.cut && Settings::Development.gizmos && m_context->gizmoLines)
            m_context->gizmoLines->addLine(job.cutFrom, job.cutTo, kCutGizmoColour);
        if (isSomeEntity(job.splashPrefab))
            spawnSplash(world, job);
    }
    const EntityHandle player = playerToKill();
    if (isSomeEntity(player) && m_context->coroutine)
        killPlayer(world, player, *m_context->coroutine);
}

void WaterFlowSystem::fixedTick(quern::entity::UpdateContext*, World& world)
{
    if (m_hitLists.empty())
        return;
    if (!m_setUpDone)
        setUp(world);
    m_playerToKill.store(0, std::memory_order_relaxed);
    collectJobs(world);
    runJobs(world);
    finishJobs(world);
}

} // namespace harmonize

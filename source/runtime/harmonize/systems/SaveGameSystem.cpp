#include "harmonize/systems/SaveGameSystem.h"

#include "harmonize/Settings.h"
#include "harmonize/collision/CollisionSystem.h"
#include "harmonize/components/Components.h"
#include "harmonize/systems/AnimationSystem.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/CollectibleSystem.h"
#include "harmonize/systems/CoroutineSystem.h"
#include "harmonize/systems/FuzzyCollisionSystem.h"
#include "harmonize/systems/GameCameraSystem.h"
#include "harmonize/systems/InputSystem.h"
#include "harmonize/systems/LevelStatisticsSystem.h"
#include "harmonize/systems/LineRendererSystem.h"
#include "harmonize/systems/MissileLauncherSystem.h"
#include "harmonize/systems/MovementSystem.h"
#include "harmonize/systems/PlatformSystem.h"
#include "harmonize/systems/QuickSaveFile.h"
#include "harmonize/systems/RenderSystem.h"
#include "harmonize/systems/TimerSystem.h"
#include "harmonize/utils/AppEventQueue.h"
#include "quern/debug/Log.h"
#include "quern/entity/World.h"
#include "quern/io/HomeFileSystem.h"

#include <ostream>

namespace harmonize {
namespace {

using quern::entity::EntityHandle;
using quern::entity::EntityState;
using quern::entity::World;

// The one-byte marker of entities that exist only until the next restore.
constexpr u8 kRestoreMarkerType = 52;


EntityHandle handleAt(const World& world, quern::u64 slot)
{
    return EntityHandle::make(static_cast<quern::u16>(slot), world.getGeneration(slot));
}

// The player is the last entity (by slot) with its movement switched on.
EntityHandle findPlayer(World& world)
{
    for (quern::u64 slot = world.getSlotCount(); slot-- > 0;)
        if (world.getState(slot) != EntityState::Free && world.getEnabledMask(slot).test(PlayerMovement::kType))
            return handleAt(world, slot);
    return {};
}

// Every live entity with the type switched on goes, with its transform subtree.
void destroySubtreesWith(World& world, u8 type)
{
    for (quern::u64 slot = 0; slot < world.getSlotCount(); ++slot) {
        if (world.getState(slot) == EntityState::Free || !world.getEnabledMask(slot).test(type))
            continue;
        const EntityHandle entity = handleAt(world, slot);
        Transform::destroySubtree(transformAt(world, slot), world);
        // The subtree holds only entities with a transform; the entity goes
        // even without one.
        if (isAliveEntity(world, entity))
            world.destroyEntities(&entity, 1);
    }
}

// The save point of the last save shows the respawn: saved off, request on.
void flagRespawn(World& world, EntityHandle savePoint)
{
    if (!isAliveEntity(world, savePoint) || !world.getComponentMask(savePoint.index()).test(SavePointTrigger::kType))
        return;
    auto& trigger = *static_cast<SavePointTrigger*>(world.getComponent(savePoint.index(), SavePointTrigger::kType));
    trigger.flags = (trigger.flags & ~SavePointTrigger::kSaved) | SavePointTrigger::kRespawnRequest;
}

} // namespace

SaveGameSystem::SaveGameSystem(AppContext& context, quern::io::HomeFileSystem* files)
    : m_context(context)
    , m_eventQueue(context.services.appEventQueue)
    , m_files(files ? files : &quern::io::getHomeFileSystem())
{
}

SaveGameSystem::~SaveGameSystem() { quern::entity::release(m_snapshot, m_allocator); }

void SaveGameSystem::worldStarted(World& world, quern::memory::Allocator* allocator)
{
    m_player = {};
    m_allocator = allocator;
    if (Settings::Development.persistentQuickSave) {
        // The file's copies replace the snapshot only once they are known to fit.
        quern::entity::WorldSnapshot read;
        if (readQuickSaveFile(read, *m_files, Settings::Development.quickSaveFile, allocator, world,
                m_context.levelAssetId)) {
            quern::entity::release(m_snapshot, allocator);
            m_snapshot = read;
        }
    }
    m_player = findPlayer(world);
    m_tickCount = 0;
    lastSavePoint = 0;
    savedSavePoint = 0;
}

void SaveGameSystem::worldStopped(World&, quern::memory::Allocator*)
{
    quern::entity::release(m_snapshot, m_allocator);
    m_allocator = nullptr;
}

void SaveGameSystem::fixedTick(quern::entity::UpdateContext*, World&)
{
    if (m_tickCount == 1 && isSomeEntity(m_player))
        requestSave();
    ++m_tickCount;
}

void SaveGameSystem::describe(quern::entity::SystemInfo* info) { info->name = "SaveGameSystem"; }

void SaveGameSystem::requestSave()
{
    lastSavePoint = 0;
    // Grown when full: a checkpoint must never be lost to a busy frame.
    if (m_eventQueue)
        m_eventQueue->pushGrowing(AppEventType::SaveProgress, nullptr, 0);
}

void SaveGameSystem::createQuickSave(World& world)
{
    QUERN_LOG(3) << "Creating quick save" << std::endl;
    if (!isAliveEntity(world, m_player))
        return;
    savedSavePoint = lastSavePoint;
    // A snapshot taken again reuses its store copy, whose size cannot change
    // within a level.
    world.takeSnapshot(m_snapshot, m_allocator);
    if (Settings::Development.persistentQuickSave)
        writeQuickSaveFile(m_snapshot, m_context.levelAssetId, *m_files, Settings::Development.quickSaveFile);
    saveSystemStates();
}

void SaveGameSystem::restoreQuickSave(World& world)
{
    QUERN_LOG(3) << "Restoring quick save" << std::endl;
    world.restoreSnapshot(m_snapshot);
    restoreSystemStates(world);
}

// The systems keep their copies in this order.
void SaveGameSystem::saveSystemStates()
{
    if (m_context.coroutine)
        m_context.coroutine->saveSnapshot();
    if (m_context.collision)
        m_context.collision->saveContactPairs();
    if (m_context.animation)
        m_context.animation->saveSnapshot();
    if (m_context.movement)
        m_context.movement->saveSnapshot();
    if (m_context.gameCamera)
        m_context.gameCamera->saveSnapshot();
    if (m_context.timer)
        m_context.timer->saveSnapshot();
    if (m_context.levelStatistics)
        m_context.levelStatistics->saveQuickSave();
    if (m_context.input)
        m_context.input->saveQuickSave(); // with the input switcher's stack
    if (m_context.fuzzyCollision)
        m_context.fuzzyCollision->saveSnapshot();
    if (m_context.lineRenderer)
        m_context.lineRenderer->saveSnapshot();
}

// The systems put their state back in this order, after the world's.
void SaveGameSystem::restoreSystemStates(World& world)
{
    if (m_context.coroutine)
        m_context.coroutine->restoreSnapshot();
    if (m_context.collision)
        m_context.collision->restoreSnapshot(world);
    if (m_context.animation)
        m_context.animation->restoreSnapshot();
    if (m_context.movement)
        m_context.movement->restoreSnapshot(world);
    if (m_context.collectible)
        m_context.collectible->restoreSnapshot(world);
    if (m_context.platform)
        m_context.platform->restoreSnapshot(world);
    if (m_context.render)
        m_context.render->restoreQuickSave(world);
    if (m_context.timer)
        m_context.timer->restoreSnapshot();
    if (m_context.gameCamera)
        m_context.gameCamera->restoreSnapshot(world);
    destroySubtreesWith(world, SpeechBubble::kType);
    if (m_context.missileLauncher)
        m_context.missileLauncher->restoreSnapshot(world);
    if (m_context.levelStatistics)
        m_context.levelStatistics->countDeath();
    if (m_context.input)
        m_context.input->restoreQuickSave(); // with the input switcher's stack
    const EntityHandle savePoint { savedSavePoint };
    if (isSomeEntity(savePoint))
        flagRespawn(world, savePoint);
    if (m_context.fuzzyCollision)
        m_context.fuzzyCollision->restoreSnapshot();
    if (m_context.lineRenderer)
        m_context.lineRenderer->restoreSnapshot();
    destroySubtreesWith(world, kRestoreMarkerType);
}

} // namespace harmonize

#include "harmonize/systems/CollectibleSystem.h"

#include "harmonize/Settings.h"
#include "harmonize/extensions/PlayerView.h"
#include "harmonize/extensions/Prefabs.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/TransformHierarchySystem.h"

#include "quern/entity/World.h"
#include "quern/platform/AssertDebug.h"

namespace harmonize {

using quern::entity::World;

CollectibleSystem::CollectibleSystem(AppContext& context)
    : m_context(&context)
{
}

void CollectibleSystem::attach(quern::memory::Allocator*)
{
    m_collectedListCount = 0;
    m_iconCount = 0;
}

void CollectibleSystem::worldStarted(World& world, quern::memory::Allocator*)
{
    m_collectedCount = Settings::Development.moneyStart;
    m_collectiblesInWorld = 0;
    for (u64 i = 0; i < world.getSlotCount(); ++i)
        if (world.getGeneration(i) != 0 && world.getEnabledMask(i).test(Collectible::kType))
            ++m_collectiblesInWorld;
}

void CollectibleSystem::onCollected(EntityHandle collectible, World& world)
{
    Collectible* record = componentOf<Collectible>(world, collectible);
    if (!record || record->picked != 0)
        return;
    record->picked = 1;
    ++m_collectedCount;
    // A level holds fewer collectibles than the lists have room for; one
    // that holds more still counts them, without their icons.
    if (m_collectedListCount < kMaxCollected)
        m_collected[m_collectedListCount++] = collectible;
    const Transform* transform = componentOf<Transform>(world, collectible);
    if (transform && isSomeEntity(record->pickupEffect))
        instantiatePrefabAt(record->pickupEffect, *transform, world);
    if (m_iconCount < kMaxIcons)
        m_icons[m_iconCount++] = CollectibleIcon { collectible, EntityHandle {}, CollectibleIconState::ToCounter };
}

void CollectibleSystem::payAtSavePoint(const SavePointTrigger&, World&)
{
    // Nothing in hand, nothing to pay: the counter never goes below zero.
    if (m_collectedCount <= 0)
        return;
    --m_collectedCount;
    for (u64 i = m_iconCount; i-- > 0;) {
        if (m_icons[i].state <= CollectibleIconState::InCounter) {
            m_icons[i].state = CollectibleIconState::ToSavePoint;
            return;
        }
    }
}

void CollectibleSystem::consumeCollectible()
{
    for (u64 i = m_iconCount; i-- > 0;) {
        if (m_icons[i].state < CollectibleIconState::ToSavePoint) {
            m_icons[i].state = CollectibleIconState::Spent;
            return;
        }
    }
    QUERN_ASSERT(quern::debug::kAssertWarning, false, "No unspent collectibles in inventory");
}

void CollectibleSystem::restoreSnapshot(World& world)
{
    for (u64 i = 0; i < m_collectedListCount; ++i) {
        const EntityHandle collectible = m_collected[i];
        Collectible* record = componentOf<Collectible>(world, collectible);
        if (!record)
            continue;
        record->picked = 1;
        if (world.isActive(collectible))
            world.deactivateEntity(collectible);
        if (!m_context->transformHierarchy)
            continue;
        u64 count = 0;
        const EntityHandle* children = m_context->transformHierarchy->children(collectible.index(), count);
        for (u64 c = 0; c < count; ++c)
            if (const Transform* child = componentOf<Transform>(world, children[c]))
                Transform::setSubtreeActive(*child, false, world, *m_context->transformHierarchy);
    }
}

} // namespace harmonize

#include "harmonize/collision/CollisionDispatcher.h"

#include "harmonize/components/Components.h"

#include "quern/entity/World.h"

#include <BulletCollision/CollisionDispatch/btCollisionObject.h>

namespace harmonize {
namespace {

using quern::entity::World;

// Particle bodies (user index -1) and bodies whose slot the world no longer
// has belong to no entity.
bool entitySlot(const World& world, const btCollisionObject* body, quern::u64& slot)
{
    const int index = body->getUserIndex();
    if (index == -1)
        return false;
    slot = static_cast<quern::u32>(index) & 0xffffu;
    return slot < world.getSlotCount();
}

bool hasCollider(World& world, quern::u64 slot) { return world.getComponentMask(slot).test(Collider::kType); }

bool isTrigger(World& world, quern::u64 slot)
{
    return hasCollider(world, slot) && static_cast<const Collider*>(world.getComponent(slot, Collider::kType))->trigger;
}

} // namespace

bool CollisionDispatcher::needsCollision(const btCollisionObject* body0, const btCollisionObject* body1)
{
    if (world) {
        quern::u64 slot0 = 0, slot1 = 0;
        const bool entity0 = entitySlot(*world, body0, slot0);
        const bool entity1 = entitySlot(*world, body1, slot1);
        if (entity0 && hasCollider(*world, slot0) && !world->getEnabledMask(slot0).test(Collider::kType))
            return false;
        if (entity1 && hasCollider(*world, slot1) && !world->getEnabledMask(slot1).test(Collider::kType))
            return false;
        // Two triggers meet only when one of them can move.
        if (entity0 && entity1 && isTrigger(*world, slot0) && isTrigger(*world, slot1)
            && !world->getComponentMask(slot0).test(RigidBody::kType)
            && !world->getComponentMask(slot1).test(RigidBody::kType))
            return false;
    }
    ++pairTests;
    return btCollisionDispatcher::needsCollision(body0, body1);
}

bool CollisionDispatcher::needsResponse(const btCollisionObject* body0, const btCollisionObject* body1)
{
    if (world) {
        quern::u64 slot = 0;
        if (entitySlot(*world, body0, slot) && isTrigger(*world, slot))
            return false;
        if (entitySlot(*world, body1, slot) && isTrigger(*world, slot))
            return false;
    }
    ++responseTests;
    return btCollisionDispatcher::needsResponse(body0, body1);
}

} // namespace harmonize
